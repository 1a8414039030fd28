// The caster's loop never waits on the user log: a user log tree whose files
// block every write leaves the streams running and the logins answered, and
// the per-user writers of the user log follow the rovers that are online.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using RawPeers::LoginRover;
namespace fs = std::filesystem;

class BlackboxSteadyLoop : public CasterTest {
protected:
    void SetUp() override
    {
        vorlane.SetNtrip("base_login_mode", 1);
        vorlane.SetNtrip("rover_login_mode", 1);
        vorlane.SetNtrip("rover_gga_log", 1);
    }
};

// Every name the general user log file can take from a few seconds ago to
// four minutes on is a pipe that nobody reads: opening it for writing blocks
// for good. Whatever writes the user log is stuck at its first line.
void BlockGeneralUserLog(const std::string& dir)
{
    time_t now = time(nullptr);
    for (time_t t = now - 5; t < now + 240; ++t) {
        struct tm local;
        localtime_r(&t, &local);
        char folder[64], name[64];
        snprintf(folder, sizeof(folder), "UserLog/%04d/%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday);
        snprintf(name, sizeof(name), "/UserLog_%04d%02d%02d_%02d%02d%02d.dat", local.tm_year + 1900,
                 local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        fs::create_directories(dir + "/" + folder);
        mkfifo((dir + "/" + folder + name).c_str(), 0600);
    }
}

TEST_F(BlackboxSteadyLoop, AUserLogThatBlocksStallsNoStreamAndNoLogin)
{
    BlockGeneralUserLog(vorlane.Dir());
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "any"));
    RawPeers::CounterStream stream(&base, 100, 100);
    stream.Start();

    const int kRovers = 100;
    const std::string gga = GnssFrames::Gga(30.5, 114.3, 25.0) + "\r\n";
    std::vector<TestClient> rovers(kRovers);
    for (int i = 0; i < kRovers; ++i) {
        std::string reply;
        ASSERT_TRUE(LoginRover(&rovers[i], Port(), "MNT1", "user" + std::to_string(i), "pw", &reply))
            << "rover " << i << ": " << Printable(reply);
        ASSERT_TRUE(rovers[i].Send(gga));
    }

    // Five seconds of streaming while logins and GGA lines keep coming.
    std::vector<Clock::time_point> last(kRovers, Clock::now());
    std::vector<Clock::duration> longest(kRovers, Clock::duration::zero());
    std::vector<pollfd> fds(kRovers);
    for (int i = 0; i < kRovers; ++i) fds[i] = pollfd{rovers[i].Fd(), POLLIN, 0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buffer[4096];
        while (!stop) {
            if (poll(fds.data(), fds.size(), 20) <= 0) continue;
            Clock::time_point now = Clock::now();
            for (int i = 0; i < kRovers; ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                if (recv(fds[i].fd, buffer, sizeof(buffer), MSG_DONTWAIT) <= 0) continue;
                longest[i] = std::max(longest[i], now - last[i]);
                last[i] = now;
            }
        }
    });
    Clock::time_point end = Clock::now() + std::chrono::seconds(5);
    int extra = 0, extraAnswered = 0;
    while (Clock::now() < end) {
        TestClient newcomer;
        std::string reply;
        Clock::time_point asked = Clock::now();
        if (LoginRover(&newcomer, Port(), "MNT1", "late" + std::to_string(extra), "pw", &reply) &&
            Clock::now() - asked < std::chrono::seconds(1)) {
            ++extraAnswered;
        }
        ++extra;
        newcomer.Send(gga);
        for (int i = 0; i < kRovers; i += 7) rovers[i].Send(gga);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    stop = true;
    reader.join();
    stream.Stop();

    EXPECT_EQ(extra, extraAnswered) << "every login during the stream answered within a second";
    Clock::time_point now = Clock::now();
    for (int i = 0; i < kRovers; ++i) {
        Clock::duration worst = std::max(longest[i], now - last[i]);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(worst).count(), 1000)
            << "rover " << i << " waited that long for its base's stream";
    }
    EXPECT_EQ(std::string::npos, vorlane.UserLogText().find("login sucess")) << "the user log never moved";
}

// 20,000 names log in, send a position and leave, eight hundred at a time:
// each name's user-log writer goes with its last rover (the caster logs each
// free with the number left), so the set of writers ends empty instead of
// holding one for every name ever seen.
TEST_F(BlackboxSteadyLoop, UserLogWritersFollowTheRoversOnline)
{
    vorlane.SetNtrip("base_offline_time", 3600);  // MNT1 sends nothing for the whole run
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "any"));
    const std::string gga = GnssFrames::Gga(30.5, 114.3, 25.0) + "\r\n";

    // Whether a name's user log has begun: its folder under
    // UserLog/<year>/<day>/, made with its writer.
    auto hasUserLog = [&](const std::string& name) {
        std::error_code yearsError;
        for (const auto& year : fs::directory_iterator(vorlane.File("UserLog"), yearsError)) {
            std::error_code daysError;
            for (const auto& day : fs::directory_iterator(year.path(), daysError)) {
                std::error_code error;
                if (fs::exists(day.path() / name, error)) return true;
            }
        }
        return false;
    };
    auto batch = [&](int first, int count) {
        std::vector<TestClient> rovers(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            TestClient& r = rovers[static_cast<size_t>(i)];
            if (!r.Connect(Port()) || !r.Send(NtripTexts::GetRequest("MNT1", "name" + std::to_string(first + i), "pw")))
                return false;
        }
        for (TestClient& r : rovers) {
            if (r.ReadExactly(NtripTexts::kIcyOk.size(), RawPeers::kReplyMs) != NtripTexts::kIcyOk) return false;
            if (!r.Send(gga)) return false;
        }
        // The rovers go once their positions have reached their user logs.
        std::vector<std::string> waiting;
        for (int i = 0; i < count; ++i) waiting.push_back("name" + std::to_string(first + i));
        return WaitFor(
            [&] {
                waiting.erase(std::remove_if(waiting.begin(), waiting.end(), hasUserLog), waiting.end());
                return waiting.empty();
            },
            30000);
    };
    auto settled = [&](int names) {
        // A writer is made at a name's first position line: every name with
        // a file in the user log must have its writer freed, and the last
        // free leaves none behind. The log of 20,000 names is long: it is
        // read once per poll.
        return WaitFor(
            [&] {
                std::set<std::string> written;
                for (const std::string& file : vorlane.UserLogFiles()) {
                    std::string name = fs::path(file).filename().string();
                    name = name.substr(0, name.find('_'));
                    if (name.rfind("name", 0) == 0) written.insert(name);
                }
                const std::string log = vorlane.LogText();
                int freed = 0;
                for (size_t at = log.find("user writer freed"); at != std::string::npos;
                     at = log.find("user writer freed", at + 1)) {
                    ++freed;
                }
                const int writers = static_cast<int>(written.size());
                // Every rover stayed until its position was handled.
                return writers == names && freed == writers &&
                       log.rfind("freed, 0 left") != std::string::npos;
            },
            90000, 250);
    };

    // Four clients at a time, each with runs of names of its own; true when
    // every login of names [first, first + count) went through and its
    // position reached its user log.
    const int kBatch = 200, kClients = 4, kNames = 20000;
    auto round = [&](int first, int count) {
        std::atomic<bool> ok{true};
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&, c] {
                for (int at = first + kBatch * c; at < first + count && ok; at += kBatch * kClients) {
                    if (!batch(at, kBatch)) ok = false;
                }
            });
        }
        for (std::thread& t : clients) t.join();
        return ok.load();
    };
    // The allocator and the threads warm up at the same load first.
    ASSERT_TRUE(round(0, kBatch * kClients));
    ASSERT_TRUE(settled(kBatch * kClients));
    long start = vorlane.StatusField("VmRSS");
    ASSERT_TRUE(round(kBatch * kClients, kNames)) << "a batch of logins or of their positions failed";
    ASSERT_TRUE(settled(kBatch * kClients + kNames)) << "every writer freed";
    // The resident set is reported, not judged: the allocator keeps some of
    // what 800 connections at a time have used, writers or not.
    RecordProperty("rss_kb_start", static_cast<int>(start));
    RecordProperty("rss_kb_after", static_cast<int>(vorlane.StatusField("VmRSS")));
}

}  // namespace
