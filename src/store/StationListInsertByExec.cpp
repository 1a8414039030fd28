#include "store/StationListDb.h"

#include "runtime/ExeDir.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"
#include "store/SqliteOpen.h"

#include <sqlite3.h>

#include <cstdio>
#include <string>

int StationListDb_InsertByExecAt(const char* dbPath, const char* name, int list)
{
    const char* me = "StationListDb_InsertByExec";
    if (!StationListDb_IsValidName(name) || (list != 0 && list != 1)) {
        Log_Error("%s:refused station name or list %d", me, list);
        return -2;
    }
    const char* sql = list == 0 ? "insert into station_blacklist values (?);"
                                : "insert into station_whitelist values (?);";

    sqlite3* db = Store_OpenDatabase(Store_ResolvePath(dbPath, STATION_DB_FILE), me);
    if (!db) {
        return -1;
    }
    int result = -2;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_DONE) {
        result = 0;
    } else {
        Log_Error("%s:insert of %s failed, errstr:%s", me, LogText_Escape(name).c_str(), sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

int StationListDb_InsertByExec(const char* name, int list)
{
    char path[EXE_FILE_PATH_SIZE];
    if (!ExeDir_FindFile(STATION_DB_FILE, path, sizeof(path), "StationListDb_InsertByExec")) return -1;
    return StationListDb_InsertByExecAt(path, name, list);
}
