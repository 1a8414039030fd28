#include "store/SqliteOpen.h"

#include "runtime/Log.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>

std::string Store_ResolvePath(const char* path, const char* defaultName)
{
    if (!path) return std::string();
    std::string resolved = path;
    struct stat st;
    bool isDir = (!resolved.empty() && resolved.back() == '/') ||
                 (stat(path, &st) == 0 && S_ISDIR(st.st_mode));
    if (isDir && defaultName) {
        if (!resolved.empty() && resolved.back() != '/') resolved += '/';
        resolved += defaultName;
    }
    return resolved;
}

sqlite3* Store_OpenDatabase(const std::string& path, const char* who)
{
    if (path.empty()) return nullptr;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        Log_Error("%s:cannot open %s, err:%d, errstr:%s", who, path.c_str(), rc,
                  db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, STORE_BUSY_TIMEOUT_MS);
    sqlite3_extended_result_codes(db, 0);
    return db;
}

bool Store_IsSingleStatement(const char* tail)
{
    if (!tail) return true;
    for (; *tail; ++tail) {
        if (!strchr(" \t\r\n;", *tail)) return false;
    }
    return true;
}
