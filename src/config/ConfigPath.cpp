#include "config/ConfigPath.h"

#include "runtime/ExeDir.h"
#include "runtime/Log.h"

#include <cstdio>
#include <cstring>

bool Ntrip::GetFileFullPath(const char* name, char* path, size_t size)
{
    char dir[EXE_DIR_PATH_SIZE];
    if (!GetExeDirPathInWin(dir)) {
        Log_Error("%s:GetExeDirPathInWin: failed", "Ntrip::GetFileFullPath");
        return false;
    }
    if (!ConfigPath_Join(dir, name, path, size)) {
        Log_Error("%s:path too long for %s", "Ntrip::GetFileFullPath", name ? name : "(null)");
        return false;
    }
    return true;
}

bool ConfigPath_Join(const char* dir, const char* name, char* path, size_t size)
{
    if (!dir || !name || !path || size == 0) return false;
    size_t n = strlen(dir);
    const char* sep = (n > 0 && dir[n - 1] != '/') ? "/" : "";
    int written = snprintf(path, size, "%s%s%s", dir, sep, name);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}
