#include "control/UserTableSync.h"

#include "runtime/Log.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseUserTable.h"
#include "runtime/FixedText.h"
#include "caster/registry/RoverUserTable.h"
#include "caster/session/ConnectionClose.h"

#include <cstdio>
#include <cstring>

namespace {

// The login decoder holds a password of at most 49 characters: a longer
// stored one is compared by those.
const size_t BASE_LOGIN_PASSWORD_SIZE = 50;

BaseUser BaseUserOf(const UserRecord& user)
{
    BaseUser base;
    memset(&base, 0, sizeof base);
    base.id = static_cast<uint32_t>(user.id);
    FixedText_Copy(base.name, sizeof base.name, user.name);
    FixedText_Copy(base.password, BASE_LOGIN_PASSWORD_SIZE, user.password);
    return base;
}

void ModifyBaseUser(const UserTables& tables, const CasterScope& scope, const UserRecord& user)
{
    BaseUser changed = BaseUserOf(user);
    BaseUser stored;
    bool known = tables.bases->Get(changed.id, &stored);
    if (tables.bases->Modify(&changed)) {
        // A new password: the base logs in again with it.
        CloseBaseConnection_In(scope, changed.name);
        if (known && strcmp(stored.name, changed.name) != 0) CloseBaseConnection_In(scope, stored.name);
    } else if (known && strcmp(stored.name, changed.name) != 0) {
        // Renamed with the same password: the old mount point no longer logs in.
        tables.bases->Upsert(&changed);
        CloseBaseConnection_In(scope, stored.name);
    }
}

void ModifyRoverUser(const UserTables& tables, const CasterScope& scope, const UserRecord& user)
{
    RoverUser stored;
    memset(&stored, 0, sizeof stored);
    bool known = tables.rovers->Get(static_cast<uint32_t>(user.id), &stored);
    // The store keeps the activation period and first login of the row and
    // writes activation 0; the memory record follows it.
    RoverUser changed = stored;
    changed.id = static_cast<uint32_t>(user.id);
    FixedText_Copy(changed.name, sizeof changed.name, user.name);
    FixedText_Copy(changed.password, sizeof changed.password, user.password);
    FixedText_Copy(changed.expiredatetime, sizeof changed.expiredatetime, user.expiredatetime);
    changed.activation = 0;
    bool renamed = known && strcmp(stored.name, changed.name) != 0;
    if (tables.rovers->Modify(&changed)) {
        CloseAccountRovers_In(scope, changed.name);
        if (renamed) CloseAccountRovers_In(scope, stored.name);
    } else if (renamed) {
        CloseAccountRovers_In(scope, stored.name);
    }
    if (known) tables.rovers->Upsert(&changed);
}

// An account whose type changed leaves the table of its old type, and what
// is online under it there is closed: its old credentials no longer log in.
// True when it left one.
bool LeaveOldTypeTable(const UserTables& tables, const CasterScope& scope, const UserRecord& user)
{
    uint32_t id = static_cast<uint32_t>(user.id);
    bool left = false;
    BaseUser base;
    if (user.type != USER_TYPE_BASE && tables.bases->Get(id, &base)) {
        tables.bases->RemoveById(id);
        CloseBaseConnection_In(scope, base.name);
        left = true;
    }
    RoverUser rover;
    if (user.type != USER_TYPE_ROVER && tables.rovers->Get(id, &rover)) {
        tables.rovers->RemoveById(id);
        CloseAccountRovers_In(scope, rover.name);
        left = true;
    }
    return left;
}

}  // namespace

UserTables UserTables_OfCenter() { return UserTables{GetBaseUserTable(), GetRoverUserTable()}; }

void AddUserRequest(const UserTables& tables, const UserRecord& user)
{
    if (user.id == 0) return;
    if (user.type == USER_TYPE_BASE) {
        BaseUser base = BaseUserOf(user);
        tables.bases->Upsert(&base);
    } else if (user.type == USER_TYPE_ROVER) {
        RoverUser rover;
        RoverUser_FromUserRecord(&user, &rover);
        tables.rovers->Upsert(&rover);
    }
}

void ModifyUserRequest(const UserTables& tables, const CasterScope& scope, const UserRecord& user)
{
    if (LeaveOldTypeTable(tables, scope, user)) {
        // New to the table of its type (none for an operator), as the store
        // now holds it.
        AddUserRequest(tables, user);
        return;
    }
    if (user.type == USER_TYPE_BASE) {
        ModifyBaseUser(tables, scope, user);
    } else if (user.type == USER_TYPE_ROVER) {
        ModifyRoverUser(tables, scope, user);
    } else {
        Log_Debug("ModifyUserRequest::dvk_debug  type error");
    }
}

void DeleteUserRequest(const UserTables& tables, const CasterScope& scope, const std::vector<int>& ids)
{
    // An item may carry only the id: the tables say whose it was.
    for (int id : ids) {
        uint32_t key = static_cast<uint32_t>(id);
        BaseUser base;
        if (tables.bases->Get(key, &base)) {
            tables.bases->RemoveById(key);
            CloseBaseConnection_In(scope, base.name);
        }
        RoverUser rover;
        if (tables.rovers->Get(key, &rover)) {
            tables.rovers->RemoveById(key);
            CloseAccountRovers_In(scope, rover.name);
        }
    }
}
