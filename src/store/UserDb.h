// The user store: table user_tb of "user.db" on one process-wide SQLite
// connection. The control centre, the HTTP inspector and the login workers
// (first-login writes) all call in.
//
// Every operation runs under the store's one lock, from reset and bind to the
// last row read, because the prepared SELECTs are shared; it is taken with no
// other lock held (the first-login write runs after the rover-user lock is
// left), and nothing but SQLite and the log runs under it. Values are always bound, never written
// into SQL text. A NULL cell reads as an empty text or 0.
//
// Results: -1 the store is not open (or a null record); the rest per
// operation below. Lists are built in row order; free them with FreeUserList.
//
// Fields a listing fills: id, type, name, password, contactperson,
// contacttele, mail, qq, company, registerTime and role always;
// expiredatetime in all but UserDb_SelectByNamePasswordType; enabled in
// UserDb_SelectByName and UserDb_SelectAllButAdmin only. activation,
// activationperiod and firstonlinetime are never filled by a listing.
#pragma once

#include "store/UserRecord.h"

// Opens an existing "user.db" read-write (a directory means its "user.db")
// and prepares the shared SELECTs. 2 already open; 0 the database cannot be
// opened; -1 a statement cannot be prepared (the store stays closed); 1 open.
int UserDb_Open(const char* path);

// Closes the store (the service never does; tests reopen other files).
void UserDb_Close();

// 1 found (out filled when not null); 0 no row or null name.
int UserDb_SelectByName(const char* name, UserRecord* out);

// The users of this type and exactly this name. 1 found (*list built when
// list is not null); 0 no row or null name.
int UserDb_SelectByTypeName(int type, const char* name, UserRecordNode** list);

// Every user of the type. 1 at least one row; 0 none.
int UserDb_SelectByType(int type, UserRecordNode** list);

// The login check of operators: 1 found (out filled when not null); 0 none.
int UserDb_SelectByNamePasswordType(const char* name, const char* password, int type,
                                    UserRecord* out);

// Users of the type whose name is LIKE pattern: the count; 0 when none.
int UserDb_Count(int type, const char* pattern);

// One page of users of the type whose name is LIKE pattern, newest id first.
// 1 at least one row; 0 none.
int UserDb_SelectPage(int type, const char* pattern, int offset, int limit,
                      UserRecordNode** list);

// Writes expiredatetime and firstonlinetime of the row with the record's id.
// 1 updated; -2 no row with the id; 0 failed.
int UserDb_UpdateExpireAndFirstOnline(const UserRecord* record);

// Inserts a row from type, name, password, contactperson, contacttele, mail,
// qq, company, registerTime, role, expiredatetime, activation,
// activationperiod and enabled (firstonlinetime stays NULL). 1 inserted; -2 a
// user of the same type and name exists; 0 failed.
int UserDb_Insert(const UserRecord* record);

// Rewrites type, name, password, contactperson, contacttele, mail, qq,
// company, role, expiredatetime and activation of the row with the record's
// id. 1 updated; -2 no row with the id; 0 failed.
int UserDb_Update(const UserRecord* record);

// 1 deleted (also when no row had the id); 0 failed.
int UserDb_Delete(int id);

// Every user but the one named "admin". 1 at least one row; 0 none or the
// statement cannot be prepared.
int UserDb_SelectAllButAdmin(UserRecordNode** list);
