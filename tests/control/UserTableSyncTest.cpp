// The user tables after the store changed: deleted ids leave whichever table
// holds them and close their connections, a changed password or expiry
// closes the account's connections, an unchanged one does not.
#include "caster/BindingFixture.h"
#include "caster/registry/BaseUserTable.h"
#include "caster/registry/RoverUserTable.h"
#include "control/UserTableSync.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using V = std::vector<Posted>;

UserRecord User(int id, int type, const char* name, const char* password, const char* expiry = "2099/1/1 0:0:0")
{
    UserRecord u;
    memset(&u, 0, sizeof u);
    u.id = id;
    u.type = type;
    snprintf(u.name, sizeof u.name, "%s", name);
    snprintf(u.password, sizeof u.password, "%s", password);
    snprintf(u.expiredatetime, sizeof u.expiredatetime, "%s", expiry);
    return u;
}

class UserTableSyncTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        tables = UserTables{baseUsers.get(), roverUsers.get()};
        AddUserRequest(tables, User(5, USER_TYPE_BASE, "B1", "bpass"));
        UserRecord rover = User(6, USER_TYPE_ROVER, "u", "rpass");
        rover.activation = 1;
        rover.activationperiod = 30;
        AddUserRequest(tables, rover);
        AddUserRequest(tables, User(7, USER_TYPE_ROVER, "w", "wpass"));
        AddUserRequest(tables, User(8, USER_TYPE_OPERATOR, "admin", "x"));  // no table
        AddUserRequest(tables, User(0, USER_TYPE_ROVER, "noid", "x"));     // not read back: not added
        AddBase("B1", 11, 30, 114);
        AddRover("u", "B1", 21, ROVER_BIND_NAMED);
        RoverRecord* second = AddRover("u~2", "B1", 22, ROVER_BIND_NAMED);
        snprintf(second->userKey, sizeof second->userKey, "u");
        AddRover("w", "B1", 23, ROVER_BIND_NAMED);
    }
    V SortedTaken()
    {
        V taken = Taken();
        std::sort(taken.begin(), taken.end(), [](const Posted& a, const Posted& b) { return a.channel < b.channel; });
        return taken;
    }

    std::unique_ptr<BaseUserTable> baseUsers{BaseUserTable::Create()};
    std::unique_ptr<RoverUserTable> roverUsers{RoverUserTable::Create(nullptr)};
    UserTables tables;
};

TEST_F(UserTableSyncTest, AddedUsersCanLogIn)
{
    EXPECT_TRUE(baseUsers->Verify("B1", "bpass"));
    EXPECT_TRUE(roverUsers->Verify("u", "rpass", nullptr));
    EXPECT_EQ(1, baseUsers->Count());
    EXPECT_EQ(2, roverUsers->Count());
}

TEST_F(UserTableSyncTest, DeletedIdsLeaveBothTablesAndCloseTheirConnections)
{
    DeleteUserRequest(tables, scope, {5, 6, 99});
    EXPECT_FALSE(baseUsers->Verify("B1", "bpass"));
    EXPECT_FALSE(roverUsers->Verify("u", "rpass", nullptr));
    EXPECT_TRUE(roverUsers->Verify("w", "wpass", nullptr));
    EXPECT_EQ((V{Close(11), Close(21), Close(22)}), SortedTaken());
}

TEST_F(UserTableSyncTest, BasePasswordChangeClosesTheBaseAndAnUnchangedOneDoesNot)
{
    ModifyUserRequest(tables, scope, User(5, USER_TYPE_BASE, "B1", "bpass"));
    EXPECT_EQ(V{}, Taken());
    ModifyUserRequest(tables, scope, User(5, USER_TYPE_BASE, "B1", "new"));
    EXPECT_EQ(V{Close(11)}, Taken());
    EXPECT_TRUE(baseUsers->Verify("B1", "new"));
    EXPECT_FALSE(baseUsers->Verify("B1", "bpass"));
}

TEST_F(UserTableSyncTest, RenamedBaseNoLongerLogsInUnderTheOldName)
{
    ModifyUserRequest(tables, scope, User(5, USER_TYPE_BASE, "B2", "bpass"));
    EXPECT_EQ(V{Close(11)}, Taken());
    EXPECT_FALSE(baseUsers->Verify("B1", "bpass"));
    EXPECT_TRUE(baseUsers->Verify("B2", "bpass"));
}

TEST_F(UserTableSyncTest, RoverPasswordOrExpiryChangeClosesEveryRoverOfTheAccount)
{
    ModifyUserRequest(tables, scope, User(6, USER_TYPE_ROVER, "u", "rpass"));
    EXPECT_EQ(V{}, Taken()) << "nothing that login checks changed";
    RoverUser stored;
    ASSERT_TRUE(roverUsers->Get(6, &stored));
    EXPECT_EQ(0, stored.activation) << "as the store holds it after any modify";
    EXPECT_EQ(30, stored.activationperiod);

    ModifyUserRequest(tables, scope, User(6, USER_TYPE_ROVER, "u", "rpass", "2098/1/1 0:0:0"));
    EXPECT_EQ((V{Close(21), Close(22)}), SortedTaken());
    ModifyUserRequest(tables, scope, User(6, USER_TYPE_ROVER, "u", "other", "2098/1/1 0:0:0"));
    EXPECT_EQ((V{Close(21), Close(22)}), SortedTaken());
    EXPECT_TRUE(roverUsers->Verify("u", "other", nullptr));
    ASSERT_TRUE(roverUsers->Get(6, &stored));
    EXPECT_STREQ("2098/1/1 0:0:0", stored.expiredatetime);
}

struct TypeChangeCase {
    const char* what;
    UserRecord changed;
    V closed;                 // the connections of the table it left
    const char* oldName;      // no longer logs in with its old password
    const char* oldPassword;
    bool base;                // in the base table now, else in the rover table (unless operator)
    bool operatorNow;
};

// Each case changes another account of the fixture.
TEST_F(UserTableSyncTest, AnAccountWhoseTypeChangesLeavesTheTableOfItsOldType)
{
    const TypeChangeCase cases[] = {
        {"rover to base", User(6, USER_TYPE_BASE, "u", "rpass"), V{Close(21), Close(22)}, "u", "rpass", true, false},
        {"base to rover", User(5, USER_TYPE_ROVER, "B1", "bpass"), V{Close(11)}, "B1", "bpass", false, false},
        {"rover to operator", User(7, USER_TYPE_OPERATOR, "w", "wpass"), V{Close(23)}, "w", "wpass", false, true},
    };
    for (const TypeChangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const UserRecord& u = c.changed;
        ModifyUserRequest(tables, scope, u);
        EXPECT_EQ(c.closed, SortedTaken());
        uint32_t id = static_cast<uint32_t>(u.id);
        BaseUser base;
        RoverUser rover;
        if (c.base) {
            EXPECT_FALSE(roverUsers->Verify(c.oldName, c.oldPassword, nullptr));
            EXPECT_FALSE(roverUsers->Get(id, &rover));
            EXPECT_TRUE(baseUsers->Verify(u.name, u.password));
        } else {
            EXPECT_FALSE(baseUsers->Verify(c.oldName, c.oldPassword));
            EXPECT_FALSE(baseUsers->Get(id, &base));
            EXPECT_EQ(!c.operatorNow, roverUsers->Verify(u.name, u.password, nullptr));
            if (c.operatorNow) {
                EXPECT_FALSE(roverUsers->Get(id, &rover));
            }
        }
    }
}

}  // namespace
