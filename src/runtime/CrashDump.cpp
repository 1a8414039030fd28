#include "runtime/CrashDump.h"

#include "platform/FileSystem.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

static std::string ExePath()
{
    char path[4096];
    if (!Platform_GetExePath(path, sizeof(path))) return "";
    return path;
}

std::string GetExeDir()
{
    std::string p = ExePath();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

std::string CrashDump_BaseNameOf(const char* path)
{
    std::string p = path ? path : "";
    size_t slash = p.rfind('/');
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string GetExeBaseName()
{
    return CrashDump_BaseNameOf(ExePath().c_str());
}

std::string CrashDump_TimeTextOf(const PlatformLocalTime* t)
{
    char text[64];
    snprintf(text, sizeof(text), "%d%2d%2d_%02d%02d%02d", t->year, t->month, t->day, t->hour,
             t->minute, t->second);
    return text;
}

std::string GetDumpTimeText()
{
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    return CrashDump_TimeTextOf(&now);
}

static void WriteText(int fd, const char* text)
{
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t n = write(fd, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

bool WriteMiniDump(const char* path, const PlatformCrashInfo* info)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    char line[256];
    snprintf(line, sizeof(line), "signal: %d (%s)\nfault address: %p\nthread: %ld\nbacktrace:\n",
             info->signal_number, strsignal(info->signal_number), info->fault_address,
             info->thread_id);
    WriteText(fd, line);
    void* frames[64];
    int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
    close(fd);
    return true;
}

int CrashDumpFilter(const PlatformCrashInfo* info)
{
    // Nothing here is reported: the process is already failing.
    std::string dir = GetExeDir() + "/dump";
    std::string name = GetDumpTimeText() + "_" + GetExeBaseName() + "_core.dmp";
    if (!Platform_PathExists(dir.c_str())) Platform_MakeDir(dir.c_str());
    std::string path = dir + "/" + name;
    WriteMiniDump(path.c_str(), info);
    return 1;
}

bool CrashDump_Install()
{
    // backtrace loads its unwinder on first use; do that now, not in a handler.
    void* frames[4];
    backtrace(frames, 4);
    return Platform_InstallCrashHandler(CrashDumpFilter);
}
