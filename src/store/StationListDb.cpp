#include "store/StationListDb.h"

#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "store/SqliteOpen.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* kBlackTable = "station_blacklist";
const char* kWhiteTable = "station_whitelist";

bool BindAll(sqlite3_stmt* stmt, const std::vector<std::string>& params)
{
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(params.size())) return false;
    for (size_t i = 0; i < params.size(); ++i) {
        if (sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i].data(),
                              static_cast<int>(params[i].size()), SQLITE_STATIC) != SQLITE_OK) {
            return false;
        }
    }
    return true;
}

// Prepares exactly one statement and binds its parameters; null on failure,
// with an error line.
sqlite3_stmt* Prepare(sqlite3* db, const char* who, const char* sql,
                      const std::vector<std::string>& params)
{
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, &tail);
    if (rc != SQLITE_OK || !stmt) {
        Log_Error("%s:prepare failed, err:%d, errstr:%s", who, rc, sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        return nullptr;
    }
    if (!Store_IsSingleStatement(tail)) {
        Log_Error("%s:refused a text of more than one statement", who);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    if (!BindAll(stmt, params)) {
        Log_Error("%s:binding %zu parameters failed", who, params.size());
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return stmt;
}

int ParseInt(const std::string& text)
{
    return static_cast<int>(strtol(text.c_str(), nullptr, 10));
}

}  // namespace

bool StationListDb_IsValidName(const char* name)
{
    return name != nullptr && strchr(name, '\'') == nullptr;
}

StationListDb::StationListDb() : db_(nullptr), open_(false) {}

StationListDb::~StationListDb()
{
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    open_ = false;
}

bool StationListDb::Open(const char* path)
{
    if (db_) return open_;
    db_ = Store_OpenDatabase(Store_ResolvePath(path, STATION_DB_FILE), "StationListDb::Open");
    open_ = db_ != nullptr;
    return open_;
}

bool StationListDb::IsOpen() const
{
    return open_;
}

int StationListDb::Exec(const char* sql, const std::vector<std::string>& params)
{
    if (!db_) return -1;
    if (!sql) return -2;
    sqlite3_stmt* stmt = Prepare(db_, "StationListDb::Exec", sql, params);
    if (!stmt) return -2;
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        Log_Error("StationListDb::Exec:step failed, err:%d, errstr:%s", rc, sqlite3_errmsg(db_));
        return -3;
    }
    return 0;
}

int StationListDb::Query(const char* sql, const std::vector<std::string>& params, int* rows,
                         int* columns, std::vector<std::string>* cells)
{
    if (!db_ || !sql) return 0;
    sqlite3_stmt* stmt = Prepare(db_, "StationListDb::Query", sql, params);
    if (!stmt) return 0;
    int cols = sqlite3_column_count(stmt);
    if (columns) *columns = cols;
    if (rows) *rows = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int c = 0; c < cols; ++c) {
            const unsigned char* text = sqlite3_column_text(stmt, c);
            int n = sqlite3_column_bytes(stmt, c);
            if (cells) cells->emplace_back(text ? reinterpret_cast<const char*>(text) : "",
                                           text ? static_cast<size_t>(n) : 0);
        }
        if (rows) ++*rows;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        Log_Error("StationListDb::Query:step failed, err:%d, errstr:%s", rc, sqlite3_errmsg(db_));
        return 0;
    }
    return 1;
}

int StationListDb::Query(const char* sql, int* rows, int* columns, std::vector<std::string>* cells)
{
    return Query(sql, {}, rows, columns, cells);
}

bool StationListDb::LoadList(const char* sql, std::vector<std::string>& list)
{
    list.clear();
    int rows = 0;
    int columns = 0;
    return Query(sql, &rows, &columns, &list) == 1;
}

bool StationListDb::LoadBlacklist(std::vector<std::string>& list)
{
    return LoadList("SELECT * FROM station_blacklist", list);
}

bool StationListDb::LoadWhitelist(std::vector<std::string>& list)
{
    return LoadList("select * from station_whitelist", list);
}

bool StationListDb::InitLists()
{
    std::vector<std::string> white;
    std::vector<std::string> black;
    bool ok = LoadWhitelist(white) && LoadBlacklist(black);
    {
        ScopedLock guard(whiteLock_);
        white_.swap(white);
    }
    {
        ScopedLock guard(blackLock_);
        black_.swap(black);
    }
    if (!ok) Log_Info("Black and white list initialize error.");
    return ok;
}

bool StationListDb::Add(const char* table, const char* name, std::vector<std::string>& list,
                        Lock& lock)
{
    if (!StationListDb_IsValidName(name)) return false;
    char sql[128];
    snprintf(sql, sizeof(sql), "INSERT INTO %s (station_name) VALUES(?)", table);
    ScopedLock guard(lock);
    if (Exec(sql, {name}) != 0) return false;
    list.emplace_back(name);
    return true;
}

bool StationListDb::Del(const char* table, const char* name, std::vector<std::string>& list,
                        Lock& lock)
{
    if (!StationListDb_IsValidName(name)) return false;
    char sql[128];
    snprintf(sql, sizeof(sql), "DELETE FROM %s WHERE station_name =?", table);
    ScopedLock guard(lock);
    if (Exec(sql, {name}) != 0) return false;
    list.erase(std::remove(list.begin(), list.end(), std::string(name)), list.end());
    return true;
}

bool StationListDb::Contains(const char* name, const std::vector<std::string>& list, Lock& lock)
{
    if (!name) return false;
    ScopedLock guard(lock);
    return std::find(list.begin(), list.end(), std::string(name)) != list.end();
}

bool StationListDb::AddBlack(const char* name)
{
    return Add(kBlackTable, name, black_, blackLock_);
}

bool StationListDb::AddWhite(const char* name)
{
    return Add(kWhiteTable, name, white_, whiteLock_);
}

bool StationListDb::DelBlack(const char* name)
{
    return Del(kBlackTable, name, black_, blackLock_);
}

bool StationListDb::DelWhite(const char* name)
{
    return Del(kWhiteTable, name, white_, whiteLock_);
}

bool StationListDb::IsBlack(const char* name)
{
    return Contains(name, black_, blackLock_);
}

bool StationListDb::IsWhite(const char* name)
{
    return Contains(name, white_, whiteLock_);
}

std::vector<std::string> StationListDb::Blacklist()
{
    ScopedLock guard(blackLock_);
    return black_;
}

std::vector<std::string> StationListDb::Whitelist()
{
    ScopedLock guard(whiteLock_);
    return white_;
}

bool StationListDb::LoadBaseUsers(const UserSink& sink)
{
    int rows = 0;
    int columns = 0;
    std::vector<std::string> cells;
    if (Query("select id, name, password from user_tb where type = 2", &rows, &columns, &cells) !=
        1) {
        return false;
    }
    for (int r = 0; r < rows && columns >= 3; ++r) {
        const std::string* row = &cells[static_cast<size_t>(r) * columns];
        UserRecord user;
        memset(&user, 0, sizeof(user));
        user.id = ParseInt(row[0]);
        user.type = USER_TYPE_BASE;
        FixedText_Copy(user.name, sizeof(user.name), row[1].c_str());
        FixedText_Copy(user.password, sizeof(user.password), row[2].c_str());
        if (sink) sink(user);
    }
    return true;
}

bool StationListDb::LoadRoverUsers(const UserSink& sink)
{
    int rows = 0;
    int columns = 0;
    std::vector<std::string> cells;
    if (Query("select id, name, password,expiredatetime,activation,activationperiod,"
              "firstonlinetime from user_tb where type = 3",
              &rows, &columns, &cells) != 1) {
        return false;
    }
    for (int r = 0; r < rows && columns == 7; ++r) {
        const std::string* row = &cells[static_cast<size_t>(r) * columns];
        UserRecord user;
        memset(&user, 0, sizeof(user));
        user.id = ParseInt(row[0]);
        user.type = USER_TYPE_ROVER;
        FixedText_Copy(user.name, sizeof(user.name), row[1].c_str());
        FixedText_Copy(user.password, sizeof(user.password), row[2].c_str());
        FixedText_Copy(user.expiredatetime, sizeof(user.expiredatetime), row[3].c_str());
        user.activation = ParseInt(row[4]);
        user.activationperiod = ParseInt(row[5]);
        FixedText_Copy(user.firstonlinetime, sizeof(user.firstonlinetime), row[6].c_str());
        if (sink) sink(user);
    }
    return true;
}
