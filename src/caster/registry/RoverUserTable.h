// The rover accounts (user_tb rows of type 3) that rover login checks user
// names, passwords and expiry against, keyed by user id.
//
// Expiry and first-login texts are "%d/%d/%d %d:%d:%d" in local time (year,
// month, day, hour, minute, second, not zero-padded).
//
// Locking: one process-wide critical section for every RoverUserTable, taken
// inside each operation (callers do not lock). Only IsValid(name) and
// StoreFirstLogin call out, into the first-login writer (the user store,
// which takes its own lock after this one); nothing else is locked under it.
#pragma once

#include "caster/registry/UserIdTable.h"
#include "store/UserRecord.h"

#include <cstdint>

enum { ROVER_USER_TEXT_SIZE = 200 };  // each text at most 199 characters

struct RoverUser {
    uint32_t id;
    char name[ROVER_USER_TEXT_SIZE];
    char password[ROVER_USER_TEXT_SIZE];
    char expiredatetime[ROVER_USER_TEXT_SIZE];
    int32_t activation;        // 1: the account's life counts from its first login
    int32_t activationperiod;  // days
    char firstonlinetime[ROVER_USER_TEXT_SIZE];  // empty until the first login
};

// RoverUserTable::Verify errors, which are also the login reply codes.
enum {
    ROVER_USER_NO_SUCH_USER = 2,
    ROVER_USER_BAD_PASSWORD = 3,
};

// Persists a first login: gets a record holding only the id, expiredatetime
// and firstonlinetime; returns 1 when the row was written (the user store's
// UserDb_UpdateExpireAndFirstOnline).
typedef int (*RoverUserFirstLoginWriter)(const UserRecord* record);

// Fills *out from a user_tb row; texts longer than a field are cut.
void RoverUser_FromUserRecord(const UserRecord* row, RoverUser* out);

class RoverUserTable {
public:
    // writer may be null: first logins then stay in memory only.
    static RoverUserTable* Create(RoverUserFirstLoginWriter writer);
    ~RoverUserTable() = default;

    // As BaseUserTable::Insert, Upsert and Remove.
    bool Insert(const RoverUser* user);
    bool Upsert(const RoverUser* user);
    bool Remove(const RoverUser* user);
    bool RemoveById(uint32_t id);

    // True when a record with this name has this password. Else false and
    // *error (may be null) = ROVER_USER_BAD_PASSWORD when the password is null
    // or the first record of the name has another one, ROVER_USER_NO_SUCH_USER
    // when the name is null or unknown.
    bool Verify(const char* name, const char* password, int* error);

    // By id. A different password overwrites the record; the same password
    // with a different expiredatetime overwrites it with activation 0 (the new
    // date rules from now on). True when it changed; false when both are
    // equal or the id is unknown.
    bool Modify(const RoverUser* user);

    // Whether an account of this name may log in now: counted from its first
    // login (activation 1) or by its expiry date. The first login of an
    // activation account is valid, and stamps firstonlinetime = now and
    // expiredatetime = midnight activationperiod days on, in memory and
    // through the first-login writer.
    bool IsValid(const char* name);
    // The same, but a first login's row is handed to *firstLogin (its id
    // non-zero; zeroed otherwise) for StoreFirstLogin, so that a caller that
    // holds the registry locks writes it to the store after leaving them.
    bool IsValid(const char* name, UserRecord* firstLogin);
    // Writes a row that IsValid handed out through the first-login writer.
    void StoreFirstLogin(const UserRecord* firstLogin);

    // Inserts every row of type 3 of a user list; returns how many.
    int LoadRows(const UserRecordNode* rows);

    bool Get(uint32_t id, RoverUser* out);
    int Count();

private:
    explicit RoverUserTable(RoverUserFirstLoginWriter writer) : writer_(writer) {}
    RoverUserFirstLoginWriter writer_;
    UserIdTable<RoverUser> users_;
};
