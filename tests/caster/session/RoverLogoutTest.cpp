// Rover logout: the bound base's count and the per-user renaming.
#include "caster/session/LeavingFixture.h"
#include "caster/session/RoverLogout.h"

namespace {

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

}  // namespace
