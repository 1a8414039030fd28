// Real SQLite files in a temporary folder, laid out from the schema files of
// the repository, and a side connection for setting up and checking rows.
#pragma once

#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

inline std::string StoreSourceDir()
{
    const char* env = getenv("VORLANE_SOURCE_DIR");
    if (env && *env) return env;
    return VORLANE_TEST_SOURCE_DIR;
}

// Runs SQL on the database at path through a connection of its own
// (creating the file). False on any SQL error.
inline bool RunSql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    if (error) ADD_FAILURE() << error << " in: " << sql;
    sqlite3_free(error);
    sqlite3_close(db);
    return rc == SQLITE_OK;
}

// Every cell of a SELECT as text, row after row; "<NULL>" for NULL.
inline std::vector<std::string> Rows(const std::string& path, const std::string& sql)
{
    std::vector<std::string> cells;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        ADD_FAILURE() << "cannot open " << path;
        return cells;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in: " << sql;
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const unsigned char* text = sqlite3_column_text(stmt, c);
                cells.push_back(text ? reinterpret_cast<const char*>(text) : "<NULL>");
            }
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return cells;
}

// The names of the tables of a database.
inline std::vector<std::string> Tables(const std::string& path)
{
    return Rows(path, "select name from sqlite_master where type='table' and name not like "
                      "'sqlite_%' order by name");
}

// A new database at path with the tables of schema/<schema>.
inline bool CreateFromSchema(const std::string& path, const std::string& schema)
{
    std::string sql = ReadFile(StoreSourceDir() + "/schema/" + schema);
    if (sql.empty()) {
        ADD_FAILURE() << "schema/" << schema << " is missing";
        return false;
    }
    return RunSql(path, sql);
}
