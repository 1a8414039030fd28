// Helpers shared by the configuration tests.
#pragma once

#include "support/Files.h"

#include <cstdlib>
#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

// Caps the size of any file this process writes, so that a write fails the
// way it does on a full disk (EFBIG instead of the signal). Restored when the
// guard ends.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit capped = old_;
        capped.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_;
    void (*oldHandler_)(int);
};

// The source tree, for the shipped default files.
inline std::string SourceDir()
{
    const char* env = getenv("VORLANE_SOURCE_DIR");
    if (env && *env) return env;
    return VORLANE_TEST_SOURCE_DIR;
}
