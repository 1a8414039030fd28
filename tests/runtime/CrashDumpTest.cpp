#include "runtime/CrashDump.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <fstream>
#include <sstream>

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
    TempDir tmp;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string copy = tmp.File("runtime_tests");
    ASSERT_EQ(0, system(("cp '" + std::string(self) + "' '" + copy + "'").c_str()));

    pid_t pid = fork();
    if (pid == 0) {
        setenv("VORLANE_CRASH_CHILD", "1", 1);
        execl(copy.c_str(), copy.c_str(), "--gtest_filter=CrashDump.CrashChild", (char*)nullptr);
        _exit(99);
    }
    int status = 0;
    waitpid(pid, &status, 0);
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
    std::ifstream in(tmp.File("dump/" + found));
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_NE(std::string::npos, ss.str().find("signal: 11"));
    EXPECT_NE(std::string::npos, ss.str().find("fault address: 0x10"));
    EXPECT_NE(std::string::npos, ss.str().find("backtrace:"));
}

TEST(CrashDump, CrashChild)
{
    if (!getenv("VORLANE_CRASH_CHILD")) GTEST_SKIP() << "only run as the crashing child";
    ASSERT_TRUE(CrashDump_Install());
    // The address comes through a volatile so the compiler cannot see it is bad.
    volatile uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
}
