// Where the running executable lives: configuration, databases, logs and
// dumps are all kept beside it.
#pragma once

#include <cstddef>

static const size_t EXE_DIR_PATH_SIZE = 2048;

// The executable's directory with its trailing '/', into dst of
// EXE_DIR_PATH_SIZE bytes. False when the path cannot be read.
bool GetExeDirPathInWin(char* dst);

// The directory part of a path with its trailing '/' ("" when there is none),
// cut in place. Exposed for tests.
void ExeDir_KeepDirectory(char* path);
