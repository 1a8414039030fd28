// The base time-out pass of the session timer.
#include "caster/session/BaseTimer.h"
#include "caster/session/LeavingFixture.h"

namespace {

TEST_F(LeavingTest, TimerClosesBasesSilentForTheLimit)
{
    const int64_t now = 1700000000;
    AddConn(11, now - 10);  // silent exactly base_offline_time
    AddConn(12, now - 9);
    AddBase("NOCONN", 13, 30.0, 114.1);
    Ntrip::BaseTimer_Pass(scope, now * 1000);
    EXPECT_EQ(V{Close(11)}, Taken()) << "a base without a connection record is skipped";

    config.base_offline_time = 0;
    Ntrip::BaseTimer_Pass(scope, (now + 100) * 1000);
    EXPECT_EQ(V{}, Taken()) << "no limit closes nothing";
}

TEST_F(LeavingTest, TimerNeverClosesABaseBeforeItsLimit)
{
    // Last byte late in second 990: at second 1000 plus 100 ms it has been
    // silent 9.2 s, under the limit of 10, although whole seconds say 10.
    const int64_t now = 1700000000;
    AddConn(21, now - 10);
    conns->Find(21)->lastDataMs = (now - 10) * 1000 + 900;
    AddBase("LATE", 21, 30.0, 114.1);
    Ntrip::BaseTimer_Pass(scope, now * 1000 + 100);
    EXPECT_EQ(V{}, Taken());
    Ntrip::BaseTimer_Pass(scope, now * 1000 + 900);
    EXPECT_EQ(V{Close(21)}, Taken());
}

}  // namespace
