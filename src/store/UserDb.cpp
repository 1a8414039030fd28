#include "store/UserDb.h"

#include "runtime/Lock.h"
#include "runtime/Log.h"
#include "store/SqliteOpen.h"
#include "store/StationListDb.h"

#include <sqlite3.h>

#include <cstring>
#include <string>

namespace {

// The one connection and its shared SELECTs, prepared by UserDb_Open.
struct UserStore {
    sqlite3* db;
    sqlite3_stmt* byId;
    sqlite3_stmt* byTypeName;
    sqlite3_stmt* byType;
    sqlite3_stmt* byNamePasswordType;
    sqlite3_stmt* byName;
    sqlite3_stmt* count;
    sqlite3_stmt* page;
};

UserStore g_store = {};

Lock& StoreLock()
{
    static Lock lock;
    return lock;
}

// Which optional columns a listing copies into its records.
enum { FILL_EXPIRE = 1, FILL_ENABLED = 2 };

void CloseStore()
{
    sqlite3_stmt** statements[] = {&g_store.byId,   &g_store.byTypeName,
                                   &g_store.byType, &g_store.byNamePasswordType,
                                   &g_store.byName, &g_store.count,
                                   &g_store.page};
    for (sqlite3_stmt** stmt : statements) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
    }
    if (g_store.db) sqlite3_close(g_store.db);
    g_store.db = nullptr;
}

// A record's text field, bound by its length: a field filled to the last byte
// has no terminator, and the bind must not read past it.
int BindField(sqlite3_stmt* stmt, int index, const char* field)
{
    return sqlite3_bind_text(stmt, index, field, static_cast<int>(strnlen(field, USER_TEXT_LEN)),
                             SQLITE_TRANSIENT);
}

// The columns insert and update both write first, in the same places:
// type, name, password, contactperson, contacttele, mail, qq, company as 1-8.
void BindAccountFields(sqlite3_stmt* stmt, const UserRecord* record)
{
    sqlite3_bind_int(stmt, 1, record->type);
    BindField(stmt, 2, record->name);
    BindField(stmt, 3, record->password);
    BindField(stmt, 4, record->contactperson);
    BindField(stmt, 5, record->contacttele);
    BindField(stmt, 6, record->mail);
    BindField(stmt, 7, record->qq);
    BindField(stmt, 8, record->company);
}

int BindText(sqlite3_stmt* stmt, int index, const char* text)
{
    if (!text) return sqlite3_bind_null(stmt, index);
    return sqlite3_bind_text(stmt, index, text, -1, SQLITE_TRANSIENT);
}

void ReadText(sqlite3_stmt* stmt, int column, char* dst)
{
    dst[0] = '\0';
    if (column >= sqlite3_column_count(stmt)) return;
    const unsigned char* text = sqlite3_column_text(stmt, column);
    if (!text) return;  // NULL cell
    size_t n = static_cast<size_t>(sqlite3_column_bytes(stmt, column));
    if (n > USER_TEXT_LEN - 1) n = USER_TEXT_LEN - 1;
    memcpy(dst, text, n);
    dst[n] = '\0';
}

int ReadInt(sqlite3_stmt* stmt, int column)
{
    if (column >= sqlite3_column_count(stmt)) return 0;
    return sqlite3_column_int(stmt, column);
}

// One "select *" row into a zeroed record, by column position.
void ReadRow(sqlite3_stmt* stmt, int flags, UserRecord* out)
{
    memset(out, 0, sizeof(*out));
    out->id = ReadInt(stmt, 0);
    out->type = ReadInt(stmt, 1);
    ReadText(stmt, 2, out->name);
    ReadText(stmt, 3, out->password);
    ReadText(stmt, 4, out->contactperson);
    ReadText(stmt, 5, out->contacttele);
    ReadText(stmt, 6, out->mail);
    ReadText(stmt, 7, out->qq);
    ReadText(stmt, 8, out->company);
    ReadText(stmt, 9, out->registerTime);
    out->role = ReadInt(stmt, 10);
    if (flags & FILL_EXPIRE) ReadText(stmt, 11, out->expiredatetime);
    if (flags & FILL_ENABLED) out->enabled = ReadInt(stmt, 15);
}

// Leaves a shared statement holding nothing of the caller's.
void Release(sqlite3_stmt* stmt)
{
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
}

void LogStepError(const char* who, int rc)
{
    Log_Error("%s:sqlite3_step failed, err:%d, errstr:%s", who, rc, sqlite3_errmsg(g_store.db));
}

// Steps a bound statement and collects its rows. The number of rows, or -1
// when a step or an allocation fails (the list is then freed).
int CollectRows(const char* who, sqlite3_stmt* stmt, int flags, UserRecordNode** list)
{
    UserRecordNode* head = nullptr;
    UserRecordNode** tail = &head;
    int rows = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ++rows;
        if (!list) continue;
        UserRecord record;
        ReadRow(stmt, flags, &record);
        UserRecordNode* node = CloneUserRecord(&record);
        if (!node) {
            Log_Error("%s:out of memory after %d rows", who, rows - 1);
            FreeUserList(head);
            return -1;
        }
        *tail = node;
        tail = &node->next;
    }
    if (rc != SQLITE_DONE) {
        LogStepError(who, rc);
        FreeUserList(head);
        return -1;
    }
    if (list) *list = head;
    return rows;
}

// The first row of a bound statement into out (when not null): 1 found, 0 not.
int FirstRow(const char* who, sqlite3_stmt* stmt, int flags, UserRecord* out)
{
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        if (out) ReadRow(stmt, flags, out);
        return 1;
    }
    if (rc != SQLITE_DONE) LogStepError(who, rc);
    return 0;
}

int ListResult(int rows)
{
    return rows >= 1 ? 1 : 0;
}

bool IdExists(int id)
{
    sqlite3_stmt* stmt = g_store.byId;
    Release(stmt);
    sqlite3_bind_int(stmt, 1, id);
    int found = FirstRow("UserDb_SelectById", stmt, 0, nullptr);
    Release(stmt);
    return found == 1;
}

int SelectByTypeNameLocked(int type, const char* name, UserRecordNode** list)
{
    sqlite3_stmt* stmt = g_store.byTypeName;
    Release(stmt);
    sqlite3_bind_int(stmt, 1, type);
    BindText(stmt, 2, name);
    int rows = CollectRows("UserDb_SelectByTypeName", stmt, FILL_EXPIRE, list);
    Release(stmt);
    return ListResult(rows);
}

// Prepares a statement of one call; null (with the error line) on failure.
sqlite3_stmt* PrepareOnce(const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(g_store.db, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        Log_Error("Failed  to sqlite3_prepare_v2, err:%d, errstr:%s", rc,
                  sqlite3_errmsg(g_store.db));
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return stmt;
}

// Steps a one-call statement to its end and finalizes it: 1 done, 0 failed.
int RunOnce(const char* who, sqlite3_stmt* stmt)
{
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        LogStepError(who, rc);
        return 0;
    }
    return 1;
}

}  // namespace

int UserDb_Open(const char* path)
{
    ScopedLock guard(StoreLock());
    if (g_store.db) return 2;
    g_store.db = Store_OpenDatabase(Store_ResolvePath(path, USER_DB_FILE), "UserDb_Open");
    if (!g_store.db) return 0;

    struct {
        sqlite3_stmt** stmt;
        const char* sql;
    } statements[] = {
        {&g_store.byId, "select * from user_tb where id=?"},
        {&g_store.byTypeName, "select * from user_tb where type=? and name=?"},
        {&g_store.byType, "select * from user_tb where type=?"},
        {&g_store.byNamePasswordType,
         "select * from user_tb where name=? and password=? and type=?"},
        {&g_store.byName, "select * from user_tb where name=?"},
        {&g_store.count, "select count(*) from user_tb where type=? and name like ?"},
        {&g_store.page,
         "select * from user_tb where type=? and name like ? order by id desc limit ? offset ?"},
    };
    for (auto& s : statements) {
        int rc = sqlite3_prepare_v2(g_store.db, s.sql, -1, s.stmt, nullptr);
        if (rc != SQLITE_OK) {
            Log_Error("UserDb_Open:sqlite3_prepare_v2 failed, err:%d, errstr:%s, sql:%s", rc,
                      sqlite3_errmsg(g_store.db), s.sql);
            // A half-prepared store would crash on its first call: close it.
            CloseStore();
            return -1;
        }
    }
    return 1;
}

void UserDb_Close()
{
    ScopedLock guard(StoreLock());
    CloseStore();
}

int UserDb_SelectByName(const char* name, UserRecord* out)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db) return -1;
    if (!name) return 0;
    sqlite3_stmt* stmt = g_store.byName;
    Release(stmt);
    BindText(stmt, 1, name);
    int found = FirstRow("UserDb_SelectByName", stmt, FILL_EXPIRE | FILL_ENABLED, out);
    Release(stmt);
    return found;
}

int UserDb_SelectByTypeName(int type, const char* name, UserRecordNode** list)
{
    ScopedLock guard(StoreLock());
    if (list) *list = nullptr;
    if (!g_store.db) return -1;
    if (!name) return 0;
    return SelectByTypeNameLocked(type, name, list);
}

int UserDb_SelectByType(int type, UserRecordNode** list)
{
    ScopedLock guard(StoreLock());
    if (list) *list = nullptr;
    if (!g_store.db) return -1;
    sqlite3_stmt* stmt = g_store.byType;
    Release(stmt);
    sqlite3_bind_int(stmt, 1, type);
    int rows = CollectRows("UserDb_SelectByType", stmt, FILL_EXPIRE, list);
    Release(stmt);
    return ListResult(rows);
}

int UserDb_SelectByNamePasswordType(const char* name, const char* password, int type,
                                    UserRecord* out)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db) return -1;
    if (!name || !password) return 0;
    sqlite3_stmt* stmt = g_store.byNamePasswordType;
    Release(stmt);
    BindText(stmt, 1, name);
    BindText(stmt, 2, password);
    sqlite3_bind_int(stmt, 3, type);
    int found = FirstRow("UserDb_SelectByNamePasswordType", stmt, 0, out);
    Release(stmt);
    return found;
}

int UserDb_Count(int type, const char* pattern)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db) return -1;
    sqlite3_stmt* stmt = g_store.count;
    Release(stmt);
    sqlite3_bind_int(stmt, 1, type);
    BindText(stmt, 2, pattern);
    int count = 0;
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        count = sqlite3_column_int(stmt, 0);
    } else if (rc != SQLITE_DONE) {
        LogStepError("UserDb_Count", rc);
    }
    Release(stmt);
    return count;
}

int UserDb_SelectPage(int type, const char* pattern, int offset, int limit,
                      UserRecordNode** list)
{
    ScopedLock guard(StoreLock());
    if (list) *list = nullptr;
    if (!g_store.db) return -1;
    sqlite3_stmt* stmt = g_store.page;
    Release(stmt);
    sqlite3_bind_int(stmt, 1, type);
    BindText(stmt, 2, pattern);
    sqlite3_bind_int(stmt, 3, limit);
    sqlite3_bind_int(stmt, 4, offset);
    int rows = CollectRows("UserDb_SelectPage", stmt, FILL_EXPIRE, list);
    Release(stmt);
    return ListResult(rows);
}

int UserDb_UpdateExpireAndFirstOnline(const UserRecord* record)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db || !record) return -1;
    if (!IdExists(record->id)) return -2;
    sqlite3_stmt* stmt =
        PrepareOnce("update user_tb set expiredatetime=?,firstonlinetime=? where id=?");
    if (!stmt) return 0;
    BindField(stmt, 1, record->expiredatetime);
    BindField(stmt, 2, record->firstonlinetime);
    sqlite3_bind_int(stmt, 3, record->id);
    int result = RunOnce("UserDb_UpdateExpireAndFirstOnline", stmt);
    if (result == 1 && sqlite3_changes(g_store.db) == 0) return -2;
    return result;
}

int UserDb_Insert(const UserRecord* record)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db || !record) return -1;
    // The same text the insert binds, also when the field has no terminator.
    std::string name(record->name, strnlen(record->name, USER_TEXT_LEN));
    if (SelectByTypeNameLocked(record->type, name.c_str(), nullptr) == 1) return -2;

    sqlite3_stmt* stmt = PrepareOnce(
        "insert into user_tb (type,name,password,contactperson,contacttele,mail,qq,company,"
        "registerTime,role,expiredatetime,activation,activationperiod,enabled) values "
        "(?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!stmt) return 0;
    BindAccountFields(stmt, record);
    BindField(stmt, 9, record->registerTime);
    sqlite3_bind_int(stmt, 10, record->role);
    BindField(stmt, 11, record->expiredatetime);
    sqlite3_bind_int(stmt, 12, record->activation);
    sqlite3_bind_int(stmt, 13, record->activationperiod);
    sqlite3_bind_int(stmt, 14, record->enabled);
    return RunOnce("UserDb_Insert", stmt);
}

int UserDb_Update(const UserRecord* record)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db || !record) return -1;
    if (!IdExists(record->id)) return -2;
    sqlite3_stmt* stmt = PrepareOnce(
        "update user_tb set type=?,name=?,password=?,contactperson=?,contacttele=?,mail=?,qq=?,"
        "company=?, role=?,expiredatetime=?,activation=? where id=?");
    if (!stmt) return 0;
    BindAccountFields(stmt, record);
    sqlite3_bind_int(stmt, 9, record->role);
    BindField(stmt, 10, record->expiredatetime);
    sqlite3_bind_int(stmt, 11, record->activation);
    sqlite3_bind_int(stmt, 12, record->id);
    int result = RunOnce("UserDb_Update", stmt);
    if (result == 1 && sqlite3_changes(g_store.db) == 0) return -2;
    return result;
}

int UserDb_Delete(int id)
{
    ScopedLock guard(StoreLock());
    if (!g_store.db) return -1;
    sqlite3_stmt* stmt = PrepareOnce("delete from user_tb where id=?");
    if (!stmt) return 0;
    sqlite3_bind_int(stmt, 1, id);
    return RunOnce("UserDb_Delete", stmt);
}

int UserDb_SelectAllButAdmin(UserRecordNode** list)
{
    ScopedLock guard(StoreLock());
    if (list) *list = nullptr;
    if (!g_store.db) return -1;
    sqlite3_stmt* stmt = PrepareOnce("select * from user_tb where name != 'admin'");
    if (!stmt) return 0;
    int rows = CollectRows("UserDb_SelectAllButAdmin", stmt, FILL_EXPIRE | FILL_ENABLED, list);
    sqlite3_finalize(stmt);
    return ListResult(rows);
}
