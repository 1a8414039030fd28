// Closing bases and rovers by name: only an online base is closed, a kick
// closes the one rover of that name, an account change closes every rover of
// the account.
#include "caster/BindingFixture.h"
#include "caster/session/ConnectionClose.h"

#include <algorithm>

namespace {

using V = std::vector<Posted>;

class ConnectionCloseTest : public BindingTest {};

TEST_F(ConnectionCloseTest, OnlyAnOnlineBaseOfExactlyThatNameIsClosed)
{
    AddBase("B1", 11, 30.0, 114.0);
    AddBase("B12", 12, 30.0, 114.0)->state = BASE_STATE_BLACKLISTED;
    CloseBaseConnection_In(scope, "B1");
    EXPECT_EQ(V{Close(11)}, Taken());
    CloseBaseConnection_In(scope, "B12");  // its close is pending already
    CloseBaseConnection_In(scope, "b1");
    CloseBaseConnection_In(scope, "NOSUCH");
    CloseBaseConnection_In(scope, nullptr);
    EXPECT_EQ(V{}, Taken());
}

TEST_F(ConnectionCloseTest, KickClosesTheRoverOfThatNameOnly)
{
    AddBase("B1", 11, 30.0, 114.0);
    AddRover("u", "B1", 21, ROVER_BIND_NAMED);
    RoverRecord* second = AddRover("u~2", "B1", 22, ROVER_BIND_NAMED);
    snprintf(second->userKey, sizeof second->userKey, "u");
    CloseRoverConnection_In(scope, "u~2");
    EXPECT_EQ(V{Close(22)}, Taken());
    CloseRoverConnection_In(scope, "nobody");
    CloseRoverConnection_In(scope, nullptr);
    EXPECT_EQ(V{}, Taken());
}

TEST_F(ConnectionCloseTest, AccountChangeClosesEveryRoverOfTheAccount)
{
    AddBase("B1", 11, 30.0, 114.0);
    AddRover("u", "B1", 21, ROVER_BIND_NAMED);
    RoverRecord* second = AddRover("u~2", "NEAREST", 22, ROVER_BIND_NEAREST);
    snprintf(second->userKey, sizeof second->userKey, "u");
    AddRover("uu", "B1", 23, ROVER_BIND_NAMED);
    EXPECT_EQ(2, CloseAccountRovers_In(scope, "u"));
    V taken = Taken();
    std::sort(taken.begin(), taken.end(), [](const Posted& a, const Posted& b) { return a.channel < b.channel; });
    EXPECT_EQ((V{Close(21), Close(22)}), taken);
    EXPECT_EQ(0, CloseAccountRovers_In(scope, ""));
    EXPECT_EQ(0, CloseAccountRovers_In(scope, nullptr));
}

}  // namespace
