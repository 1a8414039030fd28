// Opening the caster's SQLite files. The databases are made by hand (or by
// the schema files); the program opens them read-write and never creates
// one, so a wrong path fails loudly instead of leaving an empty database
// behind.
#pragma once

#include <cstddef>
#include <string>

struct sqlite3;

// How long a statement waits for another connection's write lock.
static const int STORE_BUSY_TIMEOUT_MS = 5000;

// path itself, or path joined with defaultName when path is a directory (an
// existing one, or any path ending in '/').
std::string Store_ResolvePath(const char* path, const char* defaultName);

// Opens an existing database read-write in serialized mode (the connection may
// be used from several threads). Null, with an error line naming who, when it
// cannot be opened; the half-open handle is closed.
sqlite3* Store_OpenDatabase(const std::string& path, const char* who);

// True when the rest of a statement text after the first statement holds
// nothing but blanks and semicolons: a second statement is never run and
// never ignored silently.
bool Store_IsSingleStatement(const char* tail);
