#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool Platform_GetExePath(char* dst, size_t size)
{
    if (!dst || size == 0) return false;
    ssize_t n = readlink("/proc/self/exe", dst, size);
    if (n <= 0 || static_cast<size_t>(n) >= size) {
        dst[0] = '\0';
        return false;
    }
    dst[n] = '\0';
    return true;
}

bool Platform_PathExists(const char* path)
{
    return path && access(path, F_OK) == 0;
}

bool Platform_MakeDir(const char* path)
{
    if (!path || !*path) return false;
    if (mkdir(path, 0755) == 0) return true;
    struct stat st;
    return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

