// Bringing the caster's in-memory user tables into line with user_tb after
// the control centre changed it, and closing the connections of accounts
// whose login rules changed, so they must log in again under the new ones.
// Called after the store operation succeeded and its reply was queued.
#pragma once

#include "store/UserRecord.h"

#include <vector>

class BaseUserTable;
class RoverUserTable;
struct CasterScope;

struct UserTables {
    BaseUserTable* bases;
    RoverUserTable* rovers;
};

// The centre's user tables.
UserTables UserTables_OfCenter();

// A stored new user (with the id the store gave it) into the table of its
// type; other types have no table.
void AddUserRequest(const UserTables& tables, const UserRecord& user);

// A stored change of the user with user.id. A base account whose password
// changed closes its base, a rover account whose password or expiry changed
// closes its rovers; a renamed account closes what is online under the old
// name. The in-memory record then holds what the store holds (activation 0).
// An account whose type changed leaves the table of its old type, with its
// connections there closed, before it joins the table of its new one.
void ModifyUserRequest(const UserTables& tables, const CasterScope& scope, const UserRecord& user);

// Deleted ids: each leaves whichever user table holds it, and the base or
// the rovers of that account are closed.
void DeleteUserRequest(const UserTables& tables, const CasterScope& scope, const std::vector<int>& ids);
