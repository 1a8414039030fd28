// Base offline: named rovers closed, virtual ones moved to the next base.
#include "caster/session/BaseOffline.h"
#include "caster/session/LeavingFixture.h"

namespace {

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

}  // namespace
