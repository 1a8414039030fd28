// The base time-out measures silence on the steady clock: the wall clock set
// forward or back while a base streams changes nothing about when it closes.
#include "caster/BindingFixture.h"
#include "caster/session/BaseTimer.h"
#include "platform/LocalTime.h"
#include "platform/SteadyClock.h"

#include <atomic>
#include <vector>

namespace {

std::atomic<int64_t> g_steadyMs{0};
std::atomic<time_t> g_wall{0};

int64_t FakeSteady() { return g_steadyMs.load(); }
void FakeWall(PlatformLocalTime* out) { Platform_ToLocalTime(g_wall.load(), out); }

class SteadyTimeoutTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        g_steadyMs = 5000000;
        g_wall = 1700000000;
        Platform_SetSteadyClockSource(FakeSteady);
        Platform_SetLocalTimeSource(FakeWall);
    }
    void TearDown() override
    {
        Platform_SetSteadyClockSource(nullptr);
        Platform_SetLocalTimeSource(nullptr);
        BindingTest::TearDown();
    }
    // A base whose last byte arrived now, as the read callback records it.
    void StreamingBase(const char* mount, uint64_t channel)
    {
        AddConn(channel, 0);
        conns->Find(channel)->lastDataMs = ConnInfo_NowMs();
        AddBase(mount, channel, 30.0, 114.0);
    }
};

TEST_F(SteadyTimeoutTest, ConnectionTimesFollowTheSteadyClock)
{
    EXPECT_EQ(5000000, ConnInfo_NowMs());
    g_steadyMs += 1234;
    EXPECT_EQ(5001234, ConnInfo_NowMs());
}

TEST_F(SteadyTimeoutTest, WallClockStepsNeitherCloseEarlyNorKeepLate)
{
    using V = std::vector<Posted>;
    StreamingBase("B1", 11);
    Taken();

    // The wall clock jumps a day ahead: 9.999 s of silence is still under 10 s.
    g_wall = g_wall.load() + 86400;
    g_steadyMs += 9999;
    Ntrip::BaseTimer_Pass(scope, ConnInfo_NowMs());
    EXPECT_EQ(V{}, Taken()) << "a forward step closes no base early";

    // And back two days: at 10 s of silence the base goes all the same.
    g_wall = g_wall.load() - 2 * 86400;
    g_steadyMs += 1;
    Ntrip::BaseTimer_Pass(scope, ConnInfo_NowMs());
    EXPECT_EQ(V{Close(11)}, Taken()) << "a backward step keeps no silent base open";
}

TEST_F(SteadyTimeoutTest, EveryBaseIsJudgedOnItsOwnSilence)
{
    using V = std::vector<Posted>;
    StreamingBase("B1", 11);
    g_steadyMs += 6000;
    StreamingBase("B2", 12);
    Taken();
    g_wall = g_wall.load() + 3600;  // an hour ahead between two passes
    g_steadyMs += 4000;
    Ntrip::BaseTimer_Pass(scope, ConnInfo_NowMs());
    EXPECT_EQ(V{Close(11)}, Taken());
    g_steadyMs += 5999;
    Ntrip::BaseTimer_Pass(scope, ConnInfo_NowMs());
    EXPECT_EQ(V{Close(11)}, Taken()) << "B2 at 9.999 s stays; B1's close is still pending";
    g_steadyMs += 1;
    Ntrip::BaseTimer_Pass(scope, ConnInfo_NowMs());
    EXPECT_EQ((V{Close(11), Close(12)}), Taken());
}

}  // namespace
