#include "runtime/CrashDump.h"
#include "runtime/CrashDumpText.h"

#include "support/Files.h"
#include "support/SanitizerReport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

TEST(CrashDump, TimeTextPadsMonthAndDayWithBlanks)
{
    struct {
        PlatformLocalTime t;
        const char* text;
    } cases[] = {
        {{2026, 12, 19, 14, 5, 7, 0, 0}, "20261219_140507"},
        {{2026, 12, 9, 14, 5, 7, 0, 0}, "202612 9_140507"},
        {{2026, 5, 1, 8, 3, 9, 0, 0}, "2026 5 1_080309"},
    };
    for (auto& c : cases) EXPECT_EQ(c.text, CrashDump_TimeTextOf(&c.t));
}

// The handler breaks the clock down by hand; gmtime_r of the shifted time
// is the reference.
TEST(CrashDump, HandMadeCalendarAgreesWithGmtime)
{
    auto expectSame = [](int64_t utc, long offset) {
        time_t shifted = static_cast<time_t>(utc + offset);
        struct tm want;
        ASSERT_NE(nullptr, gmtime_r(&shifted, &want));
        PlatformLocalTime got;
        CrashDumpText_LocalTimeOf(utc, offset, &got);
        EXPECT_EQ(want.tm_year + 1900, got.year) << utc << " " << offset;
        EXPECT_EQ(want.tm_mon + 1, got.month) << utc << " " << offset;
        EXPECT_EQ(want.tm_mday, got.day) << utc << " " << offset;
        EXPECT_EQ(want.tm_hour, got.hour) << utc << " " << offset;
        EXPECT_EQ(want.tm_min, got.minute) << utc << " " << offset;
        EXPECT_EQ(want.tm_sec, got.second) << utc << " " << offset;
        EXPECT_EQ(want.tm_wday, got.weekday) << utc << " " << offset;
    };
    // Leap days, century years, the turn of a year either way of an offset,
    // before 1970, and the widest offsets.
    struct {
        int64_t utc;
        long offset;
    } cases[] = {
        {0, 0},           {-1, 0},          {951782400, 0},    {4107542399, 0},     {4107542400, 0},
        {1767225599, 3600}, {1767225600, -18000}, {1709164800, 19800}, {-2208988800, 0}, {1774740000, 50400},
        {1774740000, -43200},
    };
    for (const auto& c : cases) expectSame(c.utc, c.offset);
    // Three centuries at an odd step, so every month, day and hour comes by.
    for (int64_t t = -2208988800LL; t < 7258118400LL; t += 86400 * 3 + 3671) {
        expectSame(t, 0);
        if (HasFailure()) break;
    }
}

TEST(CrashDump, HandMadeNumbersMatchPrintf)
{
    const long values[] = {0, 7, -7, 42, 123456, LONG_MAX, LONG_MIN};
    struct {
        const char* format;
        int width;
        char pad;
    } styles[] = {{"%ld", 0, ' '}, {"%2ld", 2, ' '}, {"%02ld", 2, '0'}, {"%8ld", 8, ' '}, {"%08ld", 8, '0'}};
    for (long v : values) {
        for (const auto& style : styles) {
            char want[64];
            snprintf(want, sizeof(want), style.format, v);
            char buffer[64];
            CrashDumpText text;
            CrashDumpText_Init(&text, buffer, sizeof(buffer));
            CrashDumpText_Decimal(&text, v, style.width, style.pad);
            EXPECT_STREQ(want, buffer) << style.format;
        }
    }
    const void* pointers[] = {nullptr, reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0xdeadbeefUL),
                              reinterpret_cast<void*>(UINTPTR_MAX)};
    for (const void* p : pointers) {
        char want[64];
        snprintf(want, sizeof(want), "%p", p);
        char buffer[64];
        CrashDumpText text;
        CrashDumpText_Init(&text, buffer, sizeof(buffer));
        CrashDumpText_Pointer(&text, p);
        EXPECT_STREQ(want, buffer);
    }
}

TEST(CrashDump, ATextThatDoesNotFitIsCutAndSaysSo)
{
    char buffer[8];
    CrashDumpText text;
    CrashDumpText_Init(&text, buffer, sizeof(buffer));
    CrashDumpText_Append(&text, "signal:");
    EXPECT_FALSE(text.cut);
    CrashDumpText_Decimal(&text, 11, 0, ' ');
    EXPECT_TRUE(text.cut);
    EXPECT_STREQ("signal:", buffer);
    EXPECT_EQ(7u, text.length);
}

// The header the dump had when printf wrote it, byte for byte.
TEST(CrashDump, DumpHeaderIsWhatPrintfWrote)
{
    TempDir tmp;
    const PlatformCrashInfo cases[] = {
        {SIGSEGV, reinterpret_cast<void*>(0x10), 4242},
        {SIGABRT, nullptr, 1},
        {SIGBUS, reinterpret_cast<void*>(0x7ffd12345678UL), 2147483647L},
    };
    for (const PlatformCrashInfo& info : cases) {
        std::string path = tmp.File("x_core.dmp");
        ASSERT_TRUE(WriteMiniDump(path.c_str(), &info));
        char want[256];
        snprintf(want, sizeof(want), "signal: %d (%s)\nfault address: %p\nthread: %ld\nbacktrace:\n",
                 info.signal_number, strsignal(info.signal_number), info.fault_address, info.thread_id);
        std::string dump = ReadFile(path);
        EXPECT_EQ(0u, dump.find(want)) << dump;
        // The frames follow, one a line.
        EXPECT_GT(dump.size(), strlen(want) + 10) << dump;
    }
    EXPECT_FALSE(WriteMiniDump(tmp.File("no/such/folder/x_core.dmp").c_str(), &cases[0]));
}

// The handler reads no time-zone rules: the offset kept beforehand must give
// the local time, east and west of UTC.
TEST(CrashDump, DumpTimeIsTheLocalTimeByTheKeptOffset)
{
    const char* saved = getenv("TZ");
    std::string savedTz = saved ? saved : "";
    for (const char* tz : {"IST-5:30", "BRT3", "UTC0"}) {
        SCOPED_TRACE(tz);
        setenv("TZ", tz, 1);
        tzset();
        CrashDump_RefreshUtcOffset();
        time_t before = time(nullptr);
        std::string got = GetDumpTimeText();
        time_t after = time(nullptr);
        bool matched = false;
        for (time_t t = before; t <= after; ++t) {
            struct tm local;
            localtime_r(&t, &local);
            PlatformLocalTime want = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                      local.tm_min, local.tm_sec, 0, 0};
            if (got == CrashDump_TimeTextOf(&want)) matched = true;
        }
        EXPECT_TRUE(matched) << got;
    }
    if (saved) {
        setenv("TZ", savedTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    CrashDump_RefreshUtcOffset();
}

TEST(CrashDump, BaseNameDropsDirectoryAndExtension)
{
    EXPECT_EQ("app", CrashDump_BaseNameOf("/svc/app.exe"));
    EXPECT_EQ("vorlane", CrashDump_BaseNameOf("/opt/run/vorlane"));
    EXPECT_EQ("a.b", CrashDump_BaseNameOf("/x/a.b.c"));
    EXPECT_EQ("runtime_tests", GetExeBaseName());
}

// The dump lands beside the executable, so run a copy of this test binary
// from a temporary folder and let it crash there.
TEST(CrashDump, ASegfaultLeavesADumpFileAndStillEndsTheProcess)
{
    // A bad address, and a stack overflow: the handler runs on a stack of
    // its own, so the second leaves its dump too.
    struct {
        const char* kind;
        const char* fault;
    } cases[] = {{"address", "fault address: 0x10\n"}, {"overflow", "fault address: 0x"}};
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        TempDir tmp;
        std::string copy = tmp.File("runtime_tests");
        ASSERT_EQ(0, system(("cp '" + std::string(self) + "' '" + copy + "'").c_str()));

        ChildStderr err;
        pid_t pid = fork();
        if (pid == 0) {
            err.Redirect();
            setenv("VORLANE_CRASH_CHILD", c.kind, 1);
            execl(copy.c_str(), copy.c_str(), "--gtest_filter=CrashDump.CrashChild", (char*)nullptr);
            _exit(99);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        // The crash handler, not a sanitizer's, is what met the fault.
        EXPECT_EQ("", SanitizerReport_Find(err.Text())) << err.Text();
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(SIGSEGV, WTERMSIG(status));

        DIR* d = opendir(tmp.File("dump").c_str());
        ASSERT_NE(nullptr, d);
        std::string found;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 9 && name.compare(name.size() - 9, 9, "_core.dmp") == 0) found = name;
        }
        closedir(d);
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(std::string::npos, found.find('/'));
        EXPECT_NE(std::string::npos, found.find("_runtime_tests_core.dmp"));
        std::string dump = ReadFile(tmp.File("dump/" + found));
        EXPECT_EQ(0u, dump.find("signal: 11 (Segmentation fault)\n")) << dump;
        EXPECT_NE(std::string::npos, dump.find(c.fault)) << dump;
        EXPECT_NE(std::string::npos, dump.find("\nbacktrace:\n")) << dump;
    }
}

// Never reached: it only gives the recursion an end the compiler cannot see
// through.
volatile int g_recursionLimit = INT_MAX;

int Recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth >= g_recursionLimit) return 0;
    return Recurse(depth + 1) + frame[0];
}

TEST(CrashDump, CrashChild)
{
    const char* kind = getenv("VORLANE_CRASH_CHILD");
    if (!kind) GTEST_SKIP() << "only run as the crashing child";
    ASSERT_TRUE(CrashDump_Install());
    if (strcmp(kind, "overflow") == 0) {
        printf("%d\n", Recurse(0));
        return;
    }
    // The address comes through a volatile so the compiler cannot see it is bad.
    volatile uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
}
