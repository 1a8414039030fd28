// The user tables over a real user.db: loaded from the store's rows at start,
// first logins written back through the store.
#include "caster/registry/BaseUserTable.h"
#include "caster/registry/RoverUserTable.h"
#include "platform/LocalTime.h"
#include "store/StationListDb.h"
#include "store/UserDb.h"
#include "support/Files.h"
#include "support/FrozenClock.h"
#include "support/StoreTestSupport.h"
#include "support/TempDir.h"
#include "support/TestEnv.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

UserRecord User(int type, const char* name, const char* password, const char* expire, int activation,
                int period)
{
    UserRecord r;
    memset(&r, 0, sizeof r);
    r.type = type;
    snprintf(r.name, sizeof r.name, "%s", name);
    snprintf(r.password, sizeof r.password, "%s", password);
    snprintf(r.expiredatetime, sizeof r.expiredatetime, "%s", expire);
    r.activation = activation;
    r.activationperiod = period;
    return r;
}

class UserTablesOverStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir.File("user.db");
        std::string schema = ReadFile(TestSourceDir() + "/schema/user.sql");
        ASSERT_FALSE(schema.empty()) << "schema/user.sql";
        ASSERT_TRUE(RunSql(path, schema));
        ASSERT_EQ(1, UserDb_Open(path.c_str()));
    }
    void TearDown() override
    {
        UserDb_Close();
    }

    // What the centre does at start: a second connection on user.db fills the tables.
    void Load(BaseUserTable* bases, RoverUserTable* rovers)
    {
        StationListDb db;
        ASSERT_TRUE(db.Open(path.c_str()));
        ASSERT_TRUE(db.LoadBaseUsers([&](const UserRecord& row) {
            BaseUser u;
            BaseUser_FromUserRecord(&row, &u);
            bases->Insert(&u);
        }));
        ASSERT_TRUE(db.LoadRoverUsers([&](const UserRecord& row) {
            RoverUser u;
            RoverUser_FromUserRecord(&row, &u);
            rovers->Insert(&u);
        }));
    }

    // 9:05:07 on a day of December 2026.
    static PlatformLocalTime Day(int day) { return PlatformLocalTime{2026, 12, day, 9, 5, 7, 0, 0}; }

    FrozenClock clock{Day(10)};
    TempDir dir;
    std::string path;
};

TEST_F(UserTablesOverStore, FirstLoginOfAFreshAccountLandsInUserDbAndSurvivesARestart)
{
    UserRecord fresh = User(USER_TYPE_ROVER, "fresh", "pw", "", 1, 10);
    UserRecord dated = User(USER_TYPE_ROVER, "dated", "pw2", "2030/1/1 0:0:0", 0, 0);
    UserRecord base = User(USER_TYPE_BASE, "MOUNT1", "bpw", "", 0, 0);
    UserRecord op = User(USER_TYPE_OPERATOR, "admin", "apw", "", 0, 0);
    for (UserRecord* r : {&fresh, &dated, &base, &op}) ASSERT_EQ(1, UserDb_Insert(r)) << r->name;
    // The insert leaves firstonlinetime NULL: it must load as an empty text.
    ASSERT_EQ((std::vector<std::string>{"<NULL>"}), Rows(path, "select firstonlinetime from user_tb where name='fresh'"));

    std::unique_ptr<BaseUserTable> bases(BaseUserTable::Create());
    std::unique_ptr<RoverUserTable> rovers(RoverUserTable::Create(UserDb_UpdateExpireAndFirstOnline));
    Load(bases.get(), rovers.get());
    EXPECT_EQ(1, bases->Count());
    EXPECT_EQ(2, rovers->Count());
    EXPECT_TRUE(bases->Verify("MOUNT1", "bpw"));
    EXPECT_FALSE(bases->Verify("admin", "apw"));
    int error = 0;
    EXPECT_TRUE(rovers->Verify("fresh", "pw", &error));
    EXPECT_FALSE(rovers->Verify("fresh", "bad", &error));
    EXPECT_EQ(ROVER_USER_BAD_PASSWORD, error);
    EXPECT_FALSE(rovers->Verify("MOUNT1", "bpw", &error));
    EXPECT_EQ(ROVER_USER_NO_SUCH_USER, error);
    EXPECT_TRUE(rovers->IsValid("dated"));

    EXPECT_TRUE(rovers->IsValid("fresh"));
    EXPECT_EQ((std::vector<std::string>{"2026/12/20 00:00:00", "2026/12/10 9:5:7", "1", "10"}),
              Rows(path, "select expiredatetime, firstonlinetime, activation, activationperiod "
                          "from user_tb where name='fresh'"));
    EXPECT_EQ((std::vector<std::string>{"2030/1/1 0:0:0", "<NULL>"}),
              Rows(path, "select expiredatetime, firstonlinetime from user_tb where name='dated'"));

    // Next start: the account counts from the stored first login, nothing is rewritten.
    std::unique_ptr<BaseUserTable> bases2(BaseUserTable::Create());
    std::unique_ptr<RoverUserTable> rovers2(RoverUserTable::Create(UserDb_UpdateExpireAndFirstOnline));
    Load(bases2.get(), rovers2.get());
    clock.Set(Day(19));
    EXPECT_TRUE(rovers2->IsValid("fresh"));
    clock.Set(Day(20));
    EXPECT_FALSE(rovers2->IsValid("fresh"));
    EXPECT_EQ((std::vector<std::string>{"2026/12/20 00:00:00", "2026/12/10 9:5:7"}),
              Rows(path, "select expiredatetime, firstonlinetime from user_tb where name='fresh'"));
}

TEST_F(UserTablesOverStore, FirstLoginOfARowDeletedMeanwhileStaysInMemory)
{
    UserRecord fresh = User(USER_TYPE_ROVER, "gone", "pw", "", 1, 2);
    ASSERT_EQ(1, UserDb_Insert(&fresh));
    std::unique_ptr<BaseUserTable> bases(BaseUserTable::Create());
    std::unique_ptr<RoverUserTable> rovers(RoverUserTable::Create(UserDb_UpdateExpireAndFirstOnline));
    Load(bases.get(), rovers.get());
    ASSERT_TRUE(RunSql(path, "delete from user_tb where name='gone'"));
    EXPECT_TRUE(rovers->IsValid("gone"));
    EXPECT_TRUE(Rows(path, "select * from user_tb").empty()) << "no row is made up";
}

}  // namespace
