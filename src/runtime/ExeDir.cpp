#include "runtime/ExeDir.h"

#include "platform/FileSystem.h"
#include "runtime/Log.h"

#include <cstdio>
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

bool ExeDir_Join(const char* dir, const char* name, char* path, size_t size)
{
    if (!path || size == 0) return false;
    path[0] = '\0';
    if (!dir || !name) return false;
    size_t n = strlen(dir);
    const char* sep = (n > 0 && dir[n - 1] != '/') ? "/" : "";
    int written = snprintf(path, size, "%s%s%s", dir, sep, name);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}

int ExeDir_FilePath(const char* name, char* path, size_t size)
{
    if (path && size > 0) path[0] = '\0';
    char dir[EXE_DIR_PATH_SIZE];
    memset(dir, 0, sizeof(dir));
    if (!GetExeDirPathInWin(dir)) return EXE_FILE_PATH_NO_DIR;
    return ExeDir_Join(dir, name, path, size) ? EXE_FILE_PATH_OK : EXE_FILE_PATH_TOO_LONG;
}

bool ExeDir_FindFile(const char* name, char* path, size_t size, const char* who)
{
    int result = ExeDir_FilePath(name, path, size);
    if (result != EXE_FILE_PATH_OK && who) {
        if (result == EXE_FILE_PATH_NO_DIR) {
            Log_Error("%s:GetExeDirPathInWin: failed", who);
        } else {
            Log_Error("%s:path too long for %s", who, name ? name : "(null)");
        }
    }
    return result == EXE_FILE_PATH_OK;
}
