// Where the configuration files live: beside the executable.
#pragma once

#include "runtime/ExeDir.h"

#include <cstddef>

// Room for the executable's directory and a file name.
static const size_t CONFIG_PATH_SIZE = EXE_FILE_PATH_SIZE;

namespace Ntrip {

// The executable's directory followed by name, into path (size bytes). False,
// with the error line "Ntrip::GetFileFullPath:GetExeDirPathInWin: failed",
// when the directory cannot be found; false as well when the result does not
// fit.
bool GetFileFullPath(const char* name, char* path, size_t size);

}  // namespace Ntrip
