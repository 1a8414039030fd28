#include "config/AtomicFile.h"

#include "runtime/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The folder part of a path, for the temporary file and the folder sync.
std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable; a failure here is no reason to report the
// write as failed, the file is in place.
void SyncDirectory(const std::string& dir)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool AtomicFile_Write(const char* path, const char* data, size_t len)
{
    if (!path || !*path || (!data && len > 0)) {
        errno = EINVAL;
        return false;
    }

    std::string tmp = std::string(path) + ".tmp-XXXXXX";
    int fd = mkstemp(&tmp[0]);
    if (fd < 0) {
        int error = errno;
        Log_Error("AtomicFile_Write:cannot create a temporary file beside %s: %s", path,
                  strerror(error));
        errno = error;
        return false;
    }

    mode_t mode = 0644;
    struct stat old;
    if (stat(path, &old) == 0) mode = old.st_mode & 07777;
    fchmod(fd, mode);

    FILE* out = fdopen(fd, "wb");
    if (!out) {
        int error = errno;
        Log_Error("AtomicFile_Write:fdopen %s: %s", tmp.c_str(), strerror(error));
        close(fd);
        unlink(tmp.c_str());
        errno = error;
        return false;
    }

    bool ok = len == 0 || fwrite(data, 1, len, out) == len;
    ok = ok && fflush(out) == 0;
    ok = ok && fsync(fileno(out)) == 0;
    int savedErrno = errno;
    if (fclose(out) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        Log_Error("AtomicFile_Write:writing %s failed: %s", tmp.c_str(), strerror(savedErrno));
        unlink(tmp.c_str());
        errno = savedErrno;
        return false;
    }

    if (rename(tmp.c_str(), path) != 0) {
        int error = errno;
        Log_Error("AtomicFile_Write:rename %s to %s failed: %s", tmp.c_str(), path,
                  strerror(error));
        unlink(tmp.c_str());
        errno = error;
        return false;
    }
    SyncDirectory(DirectoryOf(path));
    return true;
}

char* AtomicFile_ReadAll(const char* path, size_t maxBytes, size_t* len)
{
    if (len) *len = 0;
    if (!path) {
        errno = EINVAL;
        return nullptr;
    }
    FILE* in = fopen(path, "rb");
    if (!in) return nullptr;

    size_t capacity = maxBytes < 4096 ? maxBytes : 4096;
    size_t used = 0;
    char* buffer = static_cast<char*>(malloc(capacity + 1));
    int error = buffer ? 0 : ENOMEM;
    while (error == 0) {
        if (used == capacity) {
            if (capacity >= maxBytes) {
                // One byte more than allowed tells a file that is too large.
                int c = fgetc(in);
                if (c != EOF) error = EFBIG;
                break;
            }
            size_t grown = capacity * 2 > maxBytes ? maxBytes : capacity * 2;
            char* bigger = static_cast<char*>(realloc(buffer, grown + 1));
            if (!bigger) {
                error = ENOMEM;
                break;
            }
            buffer = bigger;
            capacity = grown;
        }
        size_t n = fread(buffer + used, 1, capacity - used, in);
        used += n;
        if (n == 0) {
            if (ferror(in)) error = errno ? errno : EIO;
            break;
        }
    }
    fclose(in);
    if (error != 0) {
        free(buffer);
        errno = error;
        return nullptr;
    }
    buffer[used] = '\0';
    if (len) *len = used;
    return buffer;
}
