// Bases that fall silent are closed by the caster's 5000 ms timer between
// base_offline_time and base_offline_time + 5 s after their last byte (a base
// that never sent counts from its connection); the rovers of its mount are
// closed with it, its virtual-mount rovers move to the nearest base left, or
// are closed when no base is left.
#include "blackbox/NearestFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using RawPeers::LoginBase;
using RawPeers::LoginRover;
using TaggedStreams::Stretch;

const int kOfflineS = 3;
const double kLon = 114.0;

double SecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// The peer's silence starts before the caster's (its last byte is still on
// the way), so it can never be shorter than the limit; the timer's period
// adds up to 5 s, and a loaded machine a little more.
void ExpectClosedInWindow(double silentSeconds, const char* what)
{
    EXPECT_GE(silentSeconds, kOfflineS - 0.01) << what << " closed too early";
    EXPECT_LE(silentSeconds, kOfflineS + 5.0 + 1.0) << what << " closed too late";
}

// Waits for the end of a connection on a thread of its own and notes when it came.
class CloseWatch {
public:
    explicit CloseWatch(TestClient* client, int timeoutMs)
        : thread_([this, client, timeoutMs] {
              closed_ = client->WaitClosed(timeoutMs);
              at_ = Clock::now();
          })
    {
    }
    ~CloseWatch() { Join(); }
    bool Closed()
    {
        Join();
        return closed_;
    }
    Clock::time_point At()
    {
        Join();
        return at_;
    }

private:
    void Join()
    {
        if (thread_.joinable()) thread_.join();
    }
    // Declared, and so initialised, before the thread that writes them.
    bool closed_ = false;
    Clock::time_point at_;
    std::thread thread_;
};

class BlackboxBaseTimeout : public NearestTest {};

TEST_F(BlackboxBaseTimeout, SilentBasesAreClosedAndTheirRoversMovedOrClosed)
{
    vorlane.SetNtrip("base_offline_time", kOfflineS);
    vorlane.SetNtrip("rover_login_mode", 1);
    vorlane.SetNtrip("base_login_mode", 1);
    // The mute base first: its silence counts from its connection.
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    TestClient mute;
    Clock::time_point muteOpened = Clock::now();
    std::string reply;
    ASSERT_TRUE(LoginBase(&mute, Port(), "MNTC", "any", &reply)) << Printable(reply);
    CloseWatch muteWatch(&mute, (kOfflineS + 10) * 1000);

    ASSERT_NO_FATAL_FAILURE(LaunchBases({{"MNTA", 30.0, kLon}, {"MNTB", 30.18, kLon}}, 20));

    TestClient named, nearA, nearB;
    ASSERT_TRUE(LoginRover(&named, Port(), "MNTA", "named", "x", &reply)) << Printable(reply);
    ASSERT_TRUE(LoginRover(&nearA, Port(), "NEAREST", "near-a", "x", &reply)) << Printable(reply);
    ASSERT_TRUE(LoginRover(&nearB, Port(), "RTCM32_VODIR", "near-b", "x", &reply)) << Printable(reply);
    ASSERT_TRUE(nearA.Send(GnssFrames::Gga(30.01, kLon, 20.0) + "\r\n"));
    ASSERT_TRUE(nearB.Send(GnssFrames::Gga(30.17, kLon, 20.0) + "\r\n"));
    std::string bytesA, bytesB;
    auto started = [](const std::vector<Stretch>& s) { return !s.empty() && s[0].last - s[0].first >= 10; };
    std::vector<Stretch> a = ReadStretches(&nearA, &bytesA, started);
    std::vector<Stretch> b = ReadStretches(&nearB, &bytesB, started);
    ASSERT_EQ(1u, a.size()) << TaggedStreams::Describe(a);
    ASSERT_EQ(1, a[0].base);
    ASSERT_EQ(1u, b.size()) << TaggedStreams::Describe(b);
    ASSERT_EQ(2, b[0].base);

    // A falls silent.
    CloseWatch namedWatch(&named, (kOfflineS + 10) * 1000);
    streams[0]->Stop();
    Clock::time_point lastA = streams[0]->LastSent();
    EXPECT_TRUE(bases[0]->WaitClosed((kOfflineS + 10) * 1000)) << "the silent base was never closed";
    ExpectClosedInWindow(SecondsBetween(lastA, Clock::now()), "the silent base");
    EXPECT_TRUE(namedWatch.Closed()) << "the rover of the silent base's mount stays open";
    EXPECT_TRUE(vorlane.WaitForLog("Base auto offline:MNTA, timeout. Reason:long time no data passed by "));

    // The virtual rover on A goes on with B from a chunk boundary; the one
    // on B never noticed.
    a = ReadStretches(&nearA, &bytesA, [](const std::vector<Stretch>& s) {
        return s.size() >= 2 && s[1].last - s[1].first >= 10;
    });
    ASSERT_EQ(2u, a.size()) << TaggedStreams::Describe(a);
    EXPECT_EQ(2, a[1].base);
    b = ReadStretches(&nearB, &bytesB, [&](const std::vector<Stretch>& s) { return !s.empty() && s[0].last >= a[1].last; });
    EXPECT_EQ(1u, b.size()) << TaggedStreams::Describe(b);

    EXPECT_TRUE(muteWatch.Closed()) << "the base that never sent was never closed";
    ExpectClosedInWindow(SecondsBetween(muteOpened, muteWatch.At()), "the base that never sent");
    EXPECT_TRUE(vorlane.WaitForLog("Base auto offline:MNTC, timeout. Reason:long time no data passed by "));

    // B, the last base, falls silent: no base is left for the virtual rovers.
    CloseWatch watchA(&nearA, (kOfflineS + 10) * 1000), watchB(&nearB, (kOfflineS + 10) * 1000);
    streams[1]->Stop();
    Clock::time_point lastB = streams[1]->LastSent();
    EXPECT_TRUE(bases[1]->WaitClosed((kOfflineS + 10) * 1000));
    ExpectClosedInWindow(SecondsBetween(lastB, Clock::now()), "the last base");
    EXPECT_TRUE(watchA.Closed()) << "a virtual rover outlived the last base";
    EXPECT_TRUE(watchB.Closed()) << "a virtual rover outlived the last base";
    EXPECT_GE(vorlane.CountInLogAtLeast("Base auto offline:", 3), 3);
}

}  // namespace
