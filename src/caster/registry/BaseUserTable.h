// The base-station accounts (user_tb rows of type 2) that base login checks
// mount points and passwords against, keyed by user id.
//
// Locking: one process-wide critical section for every BaseUserTable, taken
// inside each operation (callers do not lock). It is a leaf: nothing else is
// locked while it is held, so it may be called under the registry locks.
#pragma once

#include "caster/registry/UserIdTable.h"
#include "store/UserRecord.h"

#include <cstdint>

enum {
    BASE_USER_NAME_SIZE = 100,  // the mount point, at most 99 characters
    BASE_USER_PASSWORD_SIZE = 52,
};

struct BaseUser {
    uint32_t id;
    char name[BASE_USER_NAME_SIZE];
    char password[BASE_USER_PASSWORD_SIZE];
};

// Fills *out from a user_tb row; texts longer than a field are cut to the
// field's width less one.
void BaseUser_FromUserRecord(const UserRecord* row, BaseUser* out);

class BaseUserTable {
public:
    static BaseUserTable* Create();
    ~BaseUserTable() = default;

    // Stores a copy under user->id (replacing a record of that id). False only
    // for a null user or when memory runs out.
    bool Insert(const BaseUser* user);
    // Same name and id: overwritten. Same name, other id: the old id's record
    // goes, the new one is stored. No such name: stored. False only for null.
    bool Upsert(const BaseUser* user);
    // Whether a record has exactly this name and password (case-sensitive).
    bool Verify(const char* name, const char* password);
    // By id: a different password overwrites the record (true); an equal
    // password or an unknown id changes nothing (false).
    bool Modify(const BaseUser* user);
    // Frees the record of user->id; true unless the user is null.
    bool Remove(const BaseUser* user);
    bool RemoveById(uint32_t id);

    // Inserts every row of type 2 of a user list; returns how many.
    int LoadRows(const UserRecordNode* rows);

    // Copies the record of the id into *out; false when there is none.
    bool Get(uint32_t id, BaseUser* out);
    int Count();

private:
    BaseUserTable() = default;
    UserIdTable<BaseUser> users_;
};
