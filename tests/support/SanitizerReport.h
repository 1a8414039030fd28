// A sanitizer's report in what a child of a story wrote: a sanitizer build
// prints it on the child's standard error and the child goes on or ends with
// a status the story may not look at, so a story that runs our code in a
// child reads that output and fails on a report.
#pragma once

#include "support/Files.h"

#include <stdlib.h>
#include <unistd.h>

#include <string>

// The first line of text that opens a report of ThreadSanitizer,
// AddressSanitizer, UndefinedBehaviorSanitizer or LeakSanitizer; "" when
// there is none.
inline std::string SanitizerReport_Find(const std::string& text)
{
    static const char* const kOpenings[] = {"WARNING: ThreadSanitizer:", "ERROR: AddressSanitizer",
                                            "runtime error:", "ERROR: LeakSanitizer"};
    size_t first = std::string::npos;
    for (const char* opening : kOpenings) {
        size_t at = text.find(opening);
        if (at < first) first = at;
    }
    if (first == std::string::npos) return "";
    size_t start = text.rfind('\n', first);
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = text.find('\n', first);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The standard error of a forked child, sent to a file of its own that the
// parent reads once the child has ended. Made before the fork.
class ChildStderr {
public:
    ChildStderr()
    {
        char pattern[] = "/tmp/vorlane-stderr-XXXXXX";
        fd_ = mkstemp(pattern);
        if (fd_ >= 0) path_ = pattern;
    }
    ~ChildStderr()
    {
        if (fd_ < 0) return;
        close(fd_);
        unlink(path_.c_str());
    }
    ChildStderr(const ChildStderr&) = delete;
    ChildStderr& operator=(const ChildStderr&) = delete;

    bool Ready() const { return fd_ >= 0; }
    // In the child, after the fork: only dup2, which a child of a process
    // with threads may call.
    void Redirect() const
    {
        if (fd_ >= 0) dup2(fd_, 2);
    }
    std::string Text() const { return path_.empty() ? "" : ReadFile(path_); }

private:
    int fd_ = -1;
    std::string path_;
};
