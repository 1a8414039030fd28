// A caster whose heap breaks while the allocator's lock is held: the crash
// handler must not wait on that lock. The process ends by the signal within
// seconds (so a supervisor restarts it) and leaves its dump beside the
// binary. The fault comes from a preloaded malloc (MallocFaultShim.c).
#include "blackbox/CasterFixture.h"
#include "support/Files.h"

#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

// The dump's name for each local second from first to last, as the caster
// names it: "%d%2d%2d_%02d%02d%02d_vorlane_core.dmp".
std::vector<std::string> DumpNamesBetween(time_t first, time_t last)
{
    std::vector<std::string> names;
    for (time_t t = first; t <= last; ++t) {
        struct tm local;
        localtime_r(&t, &local);
        char text[64];
        snprintf(text, sizeof(text), "%d%2d%2d_%02d%02d%02d_vorlane_core.dmp", local.tm_year + 1900,
                 local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        names.push_back(text);
    }
    return names;
}


class BlackboxHeapFault : public CasterTest {};

TEST_F(BlackboxHeapFault, AFaultInsideMallocEndsTheProcessBySignalWithItsDump)
{
    const std::string shim = VORLANE_MALLOC_FAULT_SHIM;
    if (shim.empty()) GTEST_SKIP() << "a sanitizer build's allocator stands in the shim's way";
    const std::string trigger = vorlane.File("fault-now");
    vorlane.SetEnv("LD_PRELOAD", shim);
    vorlane.SetEnv("VORLANE_MALLOC_FAULT_FILE", trigger);
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    stopAtEnd_ = false;

    // The next malloc after the file appears faults; a client's request
    // makes the caster allocate at once.
    time_t before = time(nullptr);
    ASSERT_TRUE(WriteFile(trigger, ""));
    TestClient client;
    client.Connect(Port());
    client.Send("GET / HTTP/1.0\r\n\r\n");

    ExitStatus status = vorlane.WaitExit(10000);
    time_t after = time(nullptr);
    ASSERT_TRUE(status.ended) << "vorlane hung in its crash handler";
    EXPECT_FALSE(status.exited) << status.Describe();
    EXPECT_EQ(SIGSEGV, status.signal) << status.Describe();

    std::vector<std::string> dumps = ListDir(vorlane.File("dump"));
    ASSERT_EQ(1u, dumps.size());
    std::vector<std::string> names = DumpNamesBetween(before, after);
    EXPECT_NE(std::find(names.begin(), names.end(), dumps[0]), names.end())
        << Printable(dumps[0]) << " is not named by the local time of the crash";

    std::string dump = ReadFile(vorlane.File("dump/" + dumps[0]));
    EXPECT_EQ(0u, dump.find("signal: 11 (Segmentation fault)\nfault address: 0x10\nthread: ")) << dump;
    size_t trace = dump.find("\nbacktrace:\n");
    ASSERT_NE(std::string::npos, trace) << dump;
    // The frames name the function that faulted.
    EXPECT_NE(std::string::npos, dump.find("(malloc+", trace)) << dump;
}

}  // namespace
