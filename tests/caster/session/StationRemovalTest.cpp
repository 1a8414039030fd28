// The control centre's station removal: the online base of the mount is
// closed, and the name leaves the black list or else the white list.
#include "caster/BindingFixture.h"
#include "caster/session/StationRemoval.h"
#include "store/StationListDb.h"
#include "support/StoreTestSupport.h"

namespace {

using V = std::vector<Posted>;

class RemoveStationTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        path = dir.File("station.db");
        ASSERT_TRUE(CreateFromSchema(path, "station.sql"));
        ASSERT_TRUE(lists.Open(path.c_str()));
        ASSERT_TRUE(lists.AddBlack("BLACK"));
        ASSERT_TRUE(lists.AddWhite("BLACK"));
        ASSERT_TRUE(lists.AddWhite("WHITE"));
        ASSERT_TRUE(lists.AddWhite("OTHER"));
    }
    std::vector<std::string> Listed(const char* table)
    {
        return Rows(path, std::string("select station_name from ") + table + " order by station_name");
    }
    TempDir dir;
    std::string path;
    StationListDb lists;
};

TEST_F(RemoveStationTest, OnlineBaseIsClosedAndLeavesTheBlackListFirst)
{
    AddBase("BLACK", 11, 30.0, 114.0);
    EXPECT_TRUE(RemoveBaseStation_In(scope, &lists, "BLACK"));
    EXPECT_EQ(V{Close(11)}, Taken());
    EXPECT_EQ(std::vector<std::string>{}, Listed("station_blacklist"));
    EXPECT_EQ((std::vector<std::string>{"BLACK", "OTHER", "WHITE"}), Listed("station_whitelist"))
        << "only one list loses the name";
    EXPECT_FALSE(lists.IsBlack("BLACK"));
}

TEST_F(RemoveStationTest, WhiteListedNameWithoutBaseLeavesTheWhiteList)
{
    EXPECT_FALSE(RemoveBaseStation_In(scope, &lists, "WHITE"));
    EXPECT_EQ(V{}, Taken());
    EXPECT_EQ((std::vector<std::string>{"BLACK", "OTHER"}), Listed("station_whitelist"));
}

TEST_F(RemoveStationTest, BaseWhoseCloseIsPendingIsNotClosedTwice)
{
    BaseRecord* base = AddBase("OTHER", 12, 30.0, 114.0);
    base->state = BASE_STATE_BLACKLISTED;
    EXPECT_TRUE(RemoveBaseStation_In(scope, &lists, "OTHER"));
    EXPECT_EQ(V{}, Taken());
}

TEST_F(RemoveStationTest, UnknownNameChangesNothing)
{
    AddBase("WHITE", 13, 30.0, 114.0);
    EXPECT_FALSE(RemoveBaseStation_In(scope, &lists, "NOSUCH"));
    EXPECT_FALSE(RemoveBaseStation_In(scope, &lists, nullptr));
    EXPECT_EQ(V{}, Taken());
    EXPECT_EQ(std::vector<std::string>{"BLACK"}, Listed("station_blacklist"));
    EXPECT_EQ((std::vector<std::string>{"BLACK", "OTHER", "WHITE"}), Listed("station_whitelist"));
}

}  // namespace
