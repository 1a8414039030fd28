// Paths of the running executable and directory helpers. Paths use '/'.
#pragma once

#include <cstddef>

// The full path of the running executable into dst (size bytes with the
// terminator). False when it cannot be read or does not fit.
bool Platform_GetExePath(char* dst, size_t size);

bool Platform_PathExists(const char* path);

// Creates one directory (mode 0755). True when it exists afterwards.
bool Platform_MakeDir(const char* path);

