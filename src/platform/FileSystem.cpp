#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

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

bool Platform_MakeDirs(const char* path)
{
    if (!path || !*path) return false;
    std::string p(path);
    for (size_t i = 1; i < p.size(); ++i) {
        if (p[i] == '/') {
            std::string parent = p.substr(0, i);
            if (!Platform_MakeDir(parent.c_str())) return false;
        }
    }
    return Platform_MakeDir(p.c_str());
}
