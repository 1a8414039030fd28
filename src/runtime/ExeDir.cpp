#include "runtime/ExeDir.h"

#include "platform/FileSystem.h"

#include <cstring>

void ExeDir_KeepDirectory(char* path)
{
    size_t n = strlen(path);
    while (n > 0 && path[n - 1] != '/') {
        path[--n] = '\0';
    }
}

bool GetExeDirPathInWin(char* dst)
{
    if (!dst) return false;
    if (!Platform_GetExePath(dst, EXE_DIR_PATH_SIZE)) return false;
    ExeDir_KeepDirectory(dst);
    return true;
}
