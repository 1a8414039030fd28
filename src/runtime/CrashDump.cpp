#include "runtime/CrashDump.h"

#include "platform/FileSystem.h"
#include "runtime/CrashDumpText.h"
#include "runtime/ExeDir.h"

#include <execinfo.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

// Worked out at install; the handler only reads them.
static char g_dumpDir[PATH_MAX];  // "<exe dir>/dump"; empty: no known place
static char g_dumpSuffix[NAME_MAX + 1];  // "_<exe name>_core.dmp"
static std::atomic<long> g_utcOffset{0};  // seconds east of UTC
static_assert(std::atomic<long>::is_always_lock_free, "the handler reads the offset without a lock");

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
    char buffer[64];
    CrashDumpText text;
    CrashDumpText_Init(&text, buffer, sizeof(buffer));
    CrashDumpText_Time(&text, t);
    return buffer;
}

void CrashDump_RefreshUtcOffset()
{
    time_t now = time(nullptr);
    struct tm local;
    if (!localtime_r(&now, &local)) return;
    g_utcOffset.store(local.tm_gmtoff, std::memory_order_relaxed);
}

// The local time from the clock and the kept offset: no time-zone code runs.
static void DumpLocalTime(PlatformLocalTime* out)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    CrashDumpText_LocalTimeOf(now.tv_sec, g_utcOffset.load(std::memory_order_relaxed), out);
}

std::string GetDumpTimeText()
{
    PlatformLocalTime now;
    DumpLocalTime(&now);
    return CrashDump_TimeTextOf(&now);
}

static void WriteAll(int fd, const char* bytes, size_t left)
{
    while (left > 0) {
        ssize_t n = write(fd, bytes, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        left -= static_cast<size_t>(n);
    }
}

bool WriteMiniDump(const char* path, const PlatformCrashInfo* info)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    char header[256];
    CrashDumpText text;
    CrashDumpText_Init(&text, header, sizeof(header));
    CrashDumpText_Append(&text, "signal: ");
    CrashDumpText_Decimal(&text, info->signal_number, 0, ' ');
    CrashDumpText_Append(&text, " (");
    // A fixed table of glibc's, untranslated: strsignal may allocate and
    // reads the locale.
    const char* name = sigdescr_np(info->signal_number);
    CrashDumpText_Append(&text, name ? name : "Unknown signal");
    CrashDumpText_Append(&text, ")\nfault address: ");
    CrashDumpText_Pointer(&text, info->fault_address);
    CrashDumpText_Append(&text, "\nthread: ");
    CrashDumpText_Decimal(&text, info->thread_id, 0, ' ');
    CrashDumpText_Append(&text, "\nbacktrace:\n");
    WriteAll(fd, header, text.length);
    void* frames[64];
    int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
    close(fd);
    return true;
}

int CrashDumpFilter(const PlatformCrashInfo* info)
{
    // Nothing here is reported: the process is already failing.
    if (!g_dumpDir[0]) return 1;
    mkdir(g_dumpDir, 0755);  // an existing folder is fine
    PlatformLocalTime now;
    DumpLocalTime(&now);
    char path[PATH_MAX];
    CrashDumpText text;
    CrashDumpText_Init(&text, path, sizeof(path));
    CrashDumpText_Append(&text, g_dumpDir);
    CrashDumpText_Append(&text, "/");
    CrashDumpText_Time(&text, &now);
    CrashDumpText_Append(&text, g_dumpSuffix);
    // A cut path would name another file.
    if (!text.cut) WriteMiniDump(path, info);
    return 1;
}

// The dump's folder and the name after its time, or false when the
// executable's path is unknown or they do not fit.
static bool FindDumpPlace()
{
    g_dumpDir[0] = '\0';
    if (ExeDir_FilePath("dump", g_dumpDir, sizeof(g_dumpDir)) != EXE_FILE_PATH_OK) return false;
    std::string suffix = "_" + GetExeBaseName() + "_core.dmp";
    // Room for the folder, a '/' and the time text (year of up to 11
    // characters, then 12 more) in a path of PATH_MAX.
    if (suffix.size() >= sizeof(g_dumpSuffix) || strlen(g_dumpDir) + 1 + 23 + suffix.size() >= PATH_MAX) {
        g_dumpDir[0] = '\0';
        return false;
    }
    memcpy(g_dumpSuffix, suffix.c_str(), suffix.size() + 1);
    return true;
}

bool CrashDump_Install()
{
    bool placed = FindDumpPlace();
    CrashDump_RefreshUtcOffset();
    // backtrace loads its unwinder (libgcc) on first use: that must happen
    // now, not in the handler.
    void* frames[4];
    backtrace(frames, 4);
    return Platform_InstallCrashHandler(CrashDumpFilter) && placed;
}
