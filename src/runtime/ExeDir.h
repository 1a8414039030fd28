// Where the running executable lives: configuration, databases, logs and
// dumps are all kept beside it.
#pragma once

#include <cstddef>

static const size_t EXE_DIR_PATH_SIZE = 2048;

// The executable's directory with its trailing '/', into dst of
// EXE_DIR_PATH_SIZE bytes. False when the path cannot be read.
bool GetExeDirPathInWin(char* dst);

// Room for the executable's directory and a file name.
static const size_t EXE_FILE_PATH_SIZE = 4096;

// Results of ExeDir_FilePath.
enum {
    EXE_FILE_PATH_OK = 0,
    EXE_FILE_PATH_NO_DIR = -1,    // the executable's directory cannot be read
    EXE_FILE_PATH_TOO_LONG = -2,  // the result does not fit, or an argument is null
};

// The executable's directory followed by name, into path (size bytes): the
// one way every file kept beside the executable is found. path is "" on
// failure; each caller logs the failure in its own words.
int ExeDir_FilePath(const char* name, char* path, size_t size);

// ExeDir_FilePath for a caller that needs only to know whether it worked:
// false, with path "", when the directory cannot be read or the result does
// not fit, logged at error level as "<who>:GetExeDirPathInWin: failed" or
// "<who>:path too long for <name>" (nothing is logged for a null who).
bool ExeDir_FindFile(const char* name, char* path, size_t size, const char* who);

// dir joined with name, with one '/' between them (dir may end with '/' or
// not). False, with path "", when either is null or the result does not fit.
bool ExeDir_Join(const char* dir, const char* name, char* path, size_t size);

// The directory part of a path with its trailing '/' ("" when there is none),
// cut in place. Exposed for tests.
void ExeDir_KeepDirectory(char* path);
