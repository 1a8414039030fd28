// The station black and white lists of "station.db", kept in memory beside
// the database. Base login reads them on decode workers while the control
// centre edits them on its own thread.
//
// Every value reaches SQLite as a bound parameter, never as SQL text. Names
// with a single quote are refused: the list operations could never delete
// them again, so adding one fails and leaves the lists as they were.
//
// Locks: each list has its own lock, held across the database change and the
// list change so that the two never disagree. They are taken with no registry
// lock held (the database is written under them); nothing is called under
// them but SQLite and the log, and the two are never held together.
#pragma once

#include "runtime/Lock.h"
#include "store/UserRecord.h"

#include <functional>
#include <string>
#include <vector>

struct sqlite3;

#define STATION_DB_FILE "station.db"
#define USER_DB_FILE "user.db"

class StationListDb {
public:
    StationListDb();
    ~StationListDb();  // closes the database
    StationListDb(const StationListDb&) = delete;
    StationListDb& operator=(const StationListDb&) = delete;

    // Opens an existing database read-write (a directory means its
    // "station.db"); a second call keeps the first connection. The open flag.
    // Called at start-up, before other threads use the instance.
    bool Open(const char* path);
    bool IsOpen() const;

    // Prepares one statement, binds params to its ?s in order, steps it once.
    // 0 done; -1 no database open; -2 preparing or binding failed (also for a
    // text holding more than one statement); -3 the step gave anything else.
    int Exec(const char* sql, const std::vector<std::string>& params = {});

    // Runs a SELECT with bound params and appends every cell of every row as
    // text (NULL reads as "") to cells, in row order. 1 on success (also for
    // no rows); 0 when no database is open, preparing fails or a step fails.
    int Query(const char* sql, const std::vector<std::string>& params, int* rows, int* columns,
              std::vector<std::string>* cells);
    int Query(const char* sql, int* rows, int* columns, std::vector<std::string>* cells);

    // Replace list with the table's names; true on success.
    bool LoadBlacklist(std::vector<std::string>& list);
    bool LoadWhitelist(std::vector<std::string>& list);
    // Loads the white list, then (only when that worked) the black list. Logs
    // "Black and white list initialize error." and returns false on failure.
    bool InitLists();

    // Row in the table and entry in the list. False for a null name, a name
    // with a single quote, or a failed insert; the list is then unchanged.
    bool AddBlack(const char* name);
    bool AddWhite(const char* name);
    // Removes every row and every list entry of the name. False for a null
    // name, a name with a single quote, or a failed delete.
    bool DelBlack(const char* name);
    bool DelWhite(const char* name);
    // Exact, case-sensitive membership.
    bool IsBlack(const char* name);
    bool IsWhite(const char* name);
    // Copies of the lists, in list order.
    std::vector<std::string> Blacklist();
    std::vector<std::string> Whitelist();

    // Loaders of the user tables, run on an instance opened on "user.db".
    // Every type-2 row gives sink a record with id, type, name and password;
    // every type-3 row one with id, type, name, password, expiredatetime,
    // activation, activationperiod and firstonlinetime (texts cut to 199
    // characters, NULL cells empty). False when the query fails.
    typedef std::function<void(const UserRecord& user)> UserSink;
    bool LoadBaseUsers(const UserSink& sink);
    bool LoadRoverUsers(const UserSink& sink);

private:
    bool Add(const char* table, const char* name, std::vector<std::string>& list, Lock& lock);
    bool Del(const char* table, const char* name, std::vector<std::string>& list, Lock& lock);
    bool Contains(const char* name, const std::vector<std::string>& list, Lock& lock);
    bool LoadList(const char* sql, std::vector<std::string>& list);

    sqlite3* db_;
    bool open_;
    Lock blackLock_;
    Lock whiteLock_;
    std::vector<std::string> black_;
    std::vector<std::string> white_;
};

// A station name the lists accept: not null, no single quote.
bool StationListDb_IsValidName(const char* name);

// The control centre's block path: writes name into the black list (list 0)
// or white list (list 1) of the "station.db" beside the executable, without
// touching any in-memory list (the name takes effect at the next start).
// 0 inserted; -1 the database cannot be opened (prints "open blacklist
// error\n"); -2 the name or list is refused or the insert failed.
int StationListDb_InsertByExec(const char* name, int list);
// The same on the database at dbPath (a directory means its "station.db").
int StationListDb_InsertByExecAt(const char* dbPath, const char* name, int list);
