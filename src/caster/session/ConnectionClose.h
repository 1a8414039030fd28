// Closing a base's or a rover's connection by name, for the control centre's
// kicks and for account changes that must take effect at once. The closes
// are posted to the caster loop; the close callback then runs base offline
// or rover logout as for any other close.
#pragma once

struct CasterScope;

// Posts the close of the online base of that mount point (state 1); nothing
// for an unknown or offline name. Takes the base lock.
void CloseBaseConnection(const char* mountPoint);
// Posts the close of the first rover in bucket order whose user name
// ("u" or "u~2") equals the name. Takes the rover lock.
void CloseRoverConnection(const char* userName);

// The same on the given registries and server.
void CloseBaseConnection_In(const CasterScope& scope, const char* mountPoint);
void CloseRoverConnection_In(const CasterScope& scope, const char* userName);
// Posts the close of every rover of the account (all of "u", "u~2", ...):
// a changed password or a deleted account ends all of its logins. Returns
// how many closes were posted. Takes the rover lock.
int CloseAccountRovers_In(const CasterScope& scope, const char* userKey);
