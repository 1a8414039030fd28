// How bases and rovers leave: base offline, rover logout with the per-user
// renaming, the base time-out pass, and the rover handler's record, on
// registries of the test's own.
#include "caster/BindingFixture.h"
#include "caster/session/BaseOffline.h"
#include "caster/session/BaseTimer.h"
#include "caster/session/RoverData.h"
#include "caster/session/RoverLogout.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "decoding/RTCMDecoding/RtcmLog.h"

#include <vector>

namespace {

using V = std::vector<Posted>;

class LeavingTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        b1 = AddBase("B1", 11, 30.0, 114.0);
        b2 = AddBase("B2", 12, 30.18, 114.0);
    }
    // A virtual-mount rover bound to the base nearest to its position.
    RoverRecord* AddMoving(const char* user, const char* mount, uint64_t channel, double lat, double lon)
    {
        RoverRecord* r = AddRover(user, mount, channel, ROVER_BIND_NEAREST);
        r->latitude = lat;
        r->longitude = lon;
        EXPECT_TRUE(NearestBinding_OnPosition(scope, r, lat, lon));
        return r;
    }
    BaseRecord* b1 = nullptr;
    BaseRecord* b2 = nullptr;
};

TEST_F(LeavingTest, BaseOfflineClosesNamedRoversAndMovesVirtualOnes)
{
    AddRover("n", "B1", 100, ROVER_BIND_NAMED);
    AddRover("m", "B2", 101, ROVER_BIND_NAMED);
    RoverRecord* v = AddMoving("v", "NEAREST_A", 102, 30.01, 114.0);
    RoverRecord* w = AddMoving("w", "NEAREST", 103, 30.17, 114.0);
    Taken();
    ASSERT_EQ(11u, v->boundChannelID);

    Ntrip::BaseOffline_Apply(scope, 11);
    EXPECT_EQ((V{RemovePub(11), Close(100), Unsub(11, 102), Unsub(11, 103), Sub(12, 102)}), Taken());
    EXPECT_EQ(nullptr, bases->Find(11));
    EXPECT_EQ(12u, v->boundChannelID);
    EXPECT_STREQ("B2", v->boundBaseName);
    EXPECT_EQ(12u, w->boundChannelID);
    EXPECT_EQ(3, b2->roverCount);

    // The last base: every virtual-mount rover is closed.
    Ntrip::BaseOffline_Apply(scope, 12);
    EXPECT_EQ((V{RemovePub(12), Close(101), Close(102), Close(103)}), Taken());
    EXPECT_EQ(0, bases->Count());
    EXPECT_EQ(0u, v->boundChannelID);
}

TEST_F(LeavingTest, BaseOfflineOfAClearedOrUnknownChannelOnlyRebinds)
{
    RoverRecord* v = AddRover("v", "NEAREST", 102, ROVER_BIND_NEAREST);
    v->latitude = 30.17;
    v->longitude = 114.0;
    b1->state = BASE_STATE_CLEARED;
    Ntrip::BaseOffline_Apply(scope, 11);
    EXPECT_EQ(nullptr, bases->Find(11));
    EXPECT_EQ(V{Sub(12, 102)}, Taken()) << "no 2003, no publisher removal; the pass binds";
    Ntrip::BaseOffline_Apply(scope, 999);
    EXPECT_EQ(V{}, Taken());
    EXPECT_EQ(1, bases->Count());
}

TEST_F(LeavingTest, RoverLogoutCountsVirtualRoversOffTheirBoundBase)
{
    AddConn(102, 0);
    AddMoving("v1", "NEAREST", 102, 30.01, 114.0);
    AddMoving("v2", "NEAREST", 103, 30.02, 114.0);
    AddRover("n", "B1", 104, ROVER_BIND_NAMED);
    Taken();
    EXPECT_EQ(3, b1->roverCount);
    Ntrip::RoverLogout_Apply(scope, 102);
    EXPECT_EQ(V{Unsub(11, 102)}, Taken());
    EXPECT_EQ(2, b1->roverCount) << "counted by bound base, not by the mount name";
    EXPECT_EQ(rovers->CountOnBase("B1"), b1->roverCount);
    EXPECT_FALSE(rovers->Contains(102));
    EXPECT_FALSE(conns->Contains(102));

    Ntrip::RoverLogout_Apply(scope, 104);
    EXPECT_EQ(V{Unsub(11, 104)}, Taken());
    EXPECT_EQ(1, b1->roverCount);
    Ntrip::RoverLogout_Apply(scope, 104);
    EXPECT_EQ(V{}, Taken()) << "a channel no longer registered does nothing";
}

TEST_F(LeavingTest, MultiUserNamesStayDenseWhenOneLeaves)
{
    config.one_account_multi_user = 1;
    const char* names[] = {"u", "u~2", "u~3"};
    for (int i = 0; i < 3; ++i) {
        RoverRecord* r = AddRover("u", "B1", 100 + i, ROVER_BIND_NAMED);
        snprintf(r->userName, sizeof r->userName, "%s", names[i]);
        r->loginNumber = i + 1;
    }
    Ntrip::RoverLogout_Apply(scope, 101);  // u~2 leaves
    EXPECT_STREQ("u", rovers->Find(100)->userName);
    EXPECT_STREQ("u~2", rovers->Find(102)->userName);
    EXPECT_EQ(2, rovers->Find(102)->loginNumber);
    EXPECT_EQ(2, rovers->FindByText("u")->loginNumber) << "the next login is u~3";

    config.one_account_multi_user = 0;
    Ntrip::RoverLogout_Apply(scope, 100);
    EXPECT_STREQ("u~2", rovers->Find(102)->userName) << "no renaming with one rover per account";
}

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

Tarnek::LogRoot* Gga(double lat, double lon, int hour, double second)
{
    NEMADecoding::NEMA_GPGGA* gga = new NEMADecoding::NEMA_GPGGA();
    gga->latitude = lat;
    gga->longitude = lon;
    gga->altitude = 20.0;
    gga->geoidSeparation = -3.5;
    gga->differentialAge = 1.5;
    gga->fixQuality = 4;
    gga->satellites = 17;
    gga->time.year = 2024;
    gga->time.month = 5;
    gga->time.day = 6;
    gga->time.hour = hour;
    gga->time.minute = 0;
    gga->time.second = second;
    return gga;
}

TEST_F(LeavingTest, RoverHandlerKeepsThePositionAndBinds)
{
    RoverRecord* v = AddRover("v", "NEAREST", 100, ROVER_BIND_NEAREST);
    RoverRecord* n = AddRover("n", "B2", 101, ROVER_BIND_NAMED);
    Taken();

    Tarnek::LogRoot* unit = Gga(30.0001, 114.0, 12, 0.0);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 100));
    EXPECT_EQ(nullptr, unit);
    unit = Gga(30.0002, 114.0, 12, 2.0);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 100));
    EXPECT_EQ(V{Sub(11, 100)}, Taken());
    EXPECT_DOUBLE_EQ(30.0002, v->latitude);
    EXPECT_DOUBLE_EQ(16.5, v->height);
    EXPECT_DOUBLE_EQ(1.5, v->diffAge);
    EXPECT_EQ(4, v->fixQuality);
    EXPECT_EQ(17, v->satellites);
    EXPECT_DOUBLE_EQ(2.0, v->ggaTime.second);
    EXPECT_DOUBLE_EQ(0.0, v->previousGgaTime.second);
    EXPECT_NEAR(11.1 / 2.0, v->speed, 0.1) << "about 11 m in 2 s";

    unit = Gga(30.17, 114.0, 12, 0.0);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 101));
    EXPECT_NEAR(1113.2, n->distance, 1.0);
    EXPECT_EQ(V{}, Taken()) << "a named rover is only measured";

    unit = Gga(30.0, 114.0, 12, 0.0);
    EXPECT_FALSE(Ntrip::RoverData_Execute(scope, &unit, 555)) << "no such rover";
    EXPECT_EQ(nullptr, unit);
    unit = new RTCMDecoding::RTCM3Log_1005();
    EXPECT_FALSE(Ntrip::RoverData_Execute(scope, &unit, 100)) << "no position";
    EXPECT_EQ(nullptr, unit);
    unit = Gga(0.0, 114.0, 12, 3.0);
    EXPECT_FALSE(Ntrip::RoverData_Execute(scope, &unit, 100)) << "latitude 0 never binds";
    EXPECT_DOUBLE_EQ(0.0, v->latitude) << "but is recorded";
}

}  // namespace
