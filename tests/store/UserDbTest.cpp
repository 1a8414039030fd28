#include "store/UserDb.h"

#include "platform/FileSystem.h"
#include "support/LogCapture.h"
#include "support/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Cells = std::vector<std::string>;

UserRecord MakeUser(int type, const char* name, const char* password)
{
    UserRecord u;
    memset(&u, 0, sizeof(u));
    u.type = type;
    snprintf(u.name, sizeof(u.name), "%s", name);
    snprintf(u.password, sizeof(u.password), "%s", password);
    snprintf(u.contactperson, sizeof(u.contactperson), "%s", "Ann");
    snprintf(u.contacttele, sizeof(u.contacttele), "%s", "123");
    snprintf(u.mail, sizeof(u.mail), "%s", "a@b.c");
    snprintf(u.qq, sizeof(u.qq), "%s", "42");
    snprintf(u.company, sizeof(u.company), "%s", "Survey Ltd");
    snprintf(u.registerTime, sizeof(u.registerTime), "%s", "2024-01-02 03:04:05");
    snprintf(u.expiredatetime, sizeof(u.expiredatetime), "%s", "2030/1/1 0:0:0");
    u.role = 2;
    u.activation = 1;
    u.activationperiod = 30;
    u.enabled = 1;
    return u;
}

std::vector<UserRecord> ToVector(UserRecordNode* list)
{
    std::vector<UserRecord> out;
    for (UserRecordNode* n = list; n; n = n->next) out.push_back(n->record);
    FreeUserList(list);
    return out;
}

class StoreUserDb : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = dir_.File("user.db");
        ASSERT_TRUE(CreateFromSchema(path_, "user.sql"));
        ASSERT_EQ(UserDb_Open(path_.c_str()), 1);
    }
    void TearDown() override { UserDb_Close(); }

    int Insert(int type, const char* name, const char* password = "pw")
    {
        UserRecord u = MakeUser(type, name, password);
        return UserDb_Insert(&u);
    }
    int IdOf(int type, const char* name)
    {
        UserRecordNode* list = nullptr;
        if (UserDb_SelectByTypeName(type, name, &list) != 1) return -1;
        int id = list->record.id;
        FreeUserList(list);
        return id;
    }
    Cells Row(int id)
    {
        return Rows(path_, "select * from user_tb where id=" + std::to_string(id));
    }

    LogCapture log_;
    TempDir dir_;
    std::string path_;
};

TEST(StoreUserDbOpen, OpensAnExistingDatabaseOnceAndNeverCreatesOne)
{
    LogCapture log;
    TempDir dir;
    EXPECT_EQ(UserDb_Open(dir.File("user.db").c_str()), 0);
    EXPECT_FALSE(Platform_PathExists(dir.File("user.db").c_str()));

    // A database without user_tb cannot prepare its statements and stays closed.
    ASSERT_TRUE(RunSql(dir.File("user.db"), "create table other (a)"));
    EXPECT_EQ(UserDb_Open(dir.File("user.db").c_str()), -1);
    EXPECT_EQ(UserDb_Count(3, "%"), -1);
    EXPECT_TRUE(log.Has("UserDb_Open:sqlite3_prepare_v2 failed"));

    TempDir good;
    ASSERT_TRUE(CreateFromSchema(good.File("user.db"), "user.sql"));
    EXPECT_EQ(UserDb_Open(good.Path().c_str()), 1);  // a folder means its user.db
    EXPECT_EQ(UserDb_Open(good.Path().c_str()), 2);
    UserDb_Close();
}

TEST(StoreUserDbOpen, EveryOperationSaysNotOpen)
{
    UserRecord u = MakeUser(3, "r", "p");
    UserRecordNode* list = reinterpret_cast<UserRecordNode*>(&u);  // must be reset to null
    EXPECT_EQ(UserDb_SelectByName("r", &u), -1);
    EXPECT_EQ(UserDb_SelectByTypeName(3, "r", &list), -1);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(UserDb_SelectByType(3, &list), -1);
    EXPECT_EQ(UserDb_SelectByNamePasswordType("r", "p", 3, &u), -1);
    EXPECT_EQ(UserDb_Count(3, "%"), -1);
    EXPECT_EQ(UserDb_SelectPage(3, "%", 0, 10, &list), -1);
    EXPECT_EQ(UserDb_UpdateExpireAndFirstOnline(&u), -1);
    EXPECT_EQ(UserDb_Insert(&u), -1);
    EXPECT_EQ(UserDb_Update(&u), -1);
    EXPECT_EQ(UserDb_Delete(1), -1);
    EXPECT_EQ(UserDb_SelectAllButAdmin(&list), -1);
}

TEST_F(StoreUserDb, InsertRefusesTheSameTypeAndNameOnly)
{
    EXPECT_EQ(Insert(3, "rover1"), 1);
    EXPECT_EQ(Insert(3, "rover1", "other"), -2);
    EXPECT_EQ(Insert(2, "rover1"), 1);  // the same name as a base station
    EXPECT_EQ(Insert(3, "Rover1"), 1);
    EXPECT_EQ(Rows(path_, "select count(*) from user_tb")[0], "3");

    int id = IdOf(3, "rover1");
    ASSERT_GT(id, 0);
    // The fourteen columns in place; firstonlinetime stays NULL.
    EXPECT_EQ(Row(id), (Cells{std::to_string(id), "3", "rover1", "pw", "Ann", "123", "a@b.c", "42",
                              "Survey Ltd", "2024-01-02 03:04:05", "2", "2030/1/1 0:0:0", "1",
                              "30", "<NULL>", "1"}));
    EXPECT_EQ(UserDb_Insert(nullptr), -1);
}

TEST_F(StoreUserDb, ListingsFillTheirOwnColumnsOnly)
{
    ASSERT_EQ(Insert(3, "rover1", "secret"), 1);
    int id = IdOf(3, "rover1");
    ASSERT_TRUE(RunSql(path_, "update user_tb set firstonlinetime='2024/1/1 1:1:1'"));

    UserRecord byName;
    ASSERT_EQ(UserDb_SelectByName("rover1", &byName), 1);
    EXPECT_EQ(byName.id, id);
    EXPECT_EQ(byName.type, 3);
    EXPECT_EQ(byName.role, 2);
    EXPECT_STREQ(byName.password, "secret");
    EXPECT_STREQ(byName.company, "Survey Ltd");
    EXPECT_STREQ(byName.registerTime, "2024-01-02 03:04:05");
    EXPECT_STREQ(byName.expiredatetime, "2030/1/1 0:0:0");
    EXPECT_EQ(byName.enabled, 1);
    EXPECT_EQ(byName.activation, 0);  // never listed
    EXPECT_EQ(byName.activationperiod, 0);
    EXPECT_STREQ(byName.firstonlinetime, "");
    EXPECT_EQ(UserDb_SelectByName("rover1", nullptr), 1);
    EXPECT_EQ(UserDb_SelectByName("nobody", &byName), 0);
    EXPECT_EQ(UserDb_SelectByName(nullptr, &byName), 0);

    UserRecord login;
    ASSERT_EQ(UserDb_SelectByNamePasswordType("rover1", "secret", 3, &login), 1);
    EXPECT_STREQ(login.expiredatetime, "");
    EXPECT_EQ(login.enabled, 0);
    EXPECT_EQ(UserDb_SelectByNamePasswordType("rover1", "secret", 1, &login), 0);
    EXPECT_EQ(UserDb_SelectByNamePasswordType("rover1", "Secret", 3, &login), 0);

    std::vector<UserRecord> byType;
    UserRecordNode* list = nullptr;
    ASSERT_EQ(UserDb_SelectByType(3, &list), 1);
    byType = ToVector(list);
    ASSERT_EQ(byType.size(), 1u);
    EXPECT_STREQ(byType[0].expiredatetime, "2030/1/1 0:0:0");
    EXPECT_EQ(byType[0].enabled, 0);
    EXPECT_STREQ(byType[0].firstonlinetime, "");
    EXPECT_EQ(UserDb_SelectByType(2, &list), 0);
    EXPECT_EQ(list, nullptr);
}

TEST_F(StoreUserDb, NullCellsReadAsEmptyTexts)
{
    ASSERT_TRUE(RunSql(path_, "insert into user_tb (id, type) values (50, 3);"
                              "insert into user_tb (id) values (51);"));
    UserRecordNode* list = nullptr;
    ASSERT_EQ(UserDb_SelectByType(3, &list), 1);
    std::vector<UserRecord> rows = ToVector(list);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, 50);
    EXPECT_STREQ(rows[0].name, "");
    EXPECT_STREQ(rows[0].password, "");
    EXPECT_STREQ(rows[0].expiredatetime, "");
    EXPECT_EQ(rows[0].role, 0);

    // The NULL name is neither "admin" nor anything else: SQL leaves it out.
    ASSERT_EQ(UserDb_SelectAllButAdmin(&list), 0);
    ASSERT_EQ(Insert(3, "r"), 1);
    ASSERT_TRUE(RunSql(path_, "update user_tb set expiredatetime=NULL, registerTime=NULL"));
    UserRecord r;
    ASSERT_EQ(UserDb_SelectByName("r", &r), 1);
    EXPECT_STREQ(r.expiredatetime, "");
    EXPECT_STREQ(r.registerTime, "");
}

TEST_F(StoreUserDb, UpdatesOfAMissingIdChangeNothing)
{
    ASSERT_EQ(Insert(3, "rover1"), 1);
    int id = IdOf(3, "rover1");
    const Cells before = Row(id);

    UserRecord u = MakeUser(3, "renamed", "newpw");
    u.id = id + 100;
    EXPECT_EQ(UserDb_Update(&u), -2);
    EXPECT_EQ(UserDb_UpdateExpireAndFirstOnline(&u), -2);
    EXPECT_EQ(Row(id), before);
    EXPECT_EQ(UserDb_Update(nullptr), -1);
    EXPECT_EQ(UserDb_UpdateExpireAndFirstOnline(nullptr), -1);

    // Deleting an id that no row has still reports success.
    EXPECT_EQ(UserDb_Delete(id + 100), 1);
    EXPECT_EQ(Row(id), before);
}

TEST_F(StoreUserDb, UpdateWritesItsElevenColumnsAndFirstLoginItsTwo)
{
    ASSERT_EQ(Insert(3, "rover1"), 1);
    int id = IdOf(3, "rover1");

    UserRecord first;
    memset(&first, 0, sizeof(first));
    first.id = id;
    snprintf(first.expiredatetime, sizeof(first.expiredatetime), "%s", "2024/7/31 00:00:00");
    snprintf(first.firstonlinetime, sizeof(first.firstonlinetime), "%s", "2024/7/1 9:5:3");
    ASSERT_EQ(UserDb_UpdateExpireAndFirstOnline(&first), 1);
    Cells row = Row(id);
    EXPECT_EQ(row[11], "2024/7/31 00:00:00");
    EXPECT_EQ(row[14], "2024/7/1 9:5:3");
    EXPECT_EQ(row[2], "rover1");

    UserRecord u = MakeUser(2, "base9", "pw9");
    u.id = id;
    u.activation = 0;
    u.activationperiod = 99;  // not a column of the update
    u.enabled = 0;            // nor this
    snprintf(u.registerTime, sizeof(u.registerTime), "%s", "changed");
    ASSERT_EQ(UserDb_Update(&u), 1);
    EXPECT_EQ(Row(id), (Cells{std::to_string(id), "2", "base9", "pw9", "Ann", "123", "a@b.c", "42",
                              "Survey Ltd", "2024-01-02 03:04:05", "2", "2030/1/1 0:0:0", "0",
                              "30", "2024/7/1 9:5:3", "1"}));

    ASSERT_EQ(UserDb_Delete(id), 1);
    EXPECT_TRUE(Row(id).empty());
}

TEST_F(StoreUserDb, CountPageAndAllButAdmin)
{
    ASSERT_EQ(Insert(1, "admin", "root"), 1);
    ASSERT_EQ(Insert(3, "north1"), 1);
    ASSERT_EQ(Insert(3, "north2"), 1);
    ASSERT_EQ(Insert(3, "south1"), 1);
    ASSERT_EQ(Insert(2, "north3"), 1);

    EXPECT_EQ(UserDb_Count(3, "%"), 3);
    EXPECT_EQ(UserDb_Count(3, "%north%"), 2);
    EXPECT_EQ(UserDb_Count(3, "%west%"), 0);

    UserRecordNode* list = nullptr;
    ASSERT_EQ(UserDb_SelectPage(3, "%", 0, 2, &list), 1);
    std::vector<UserRecord> page = ToVector(list);
    ASSERT_EQ(page.size(), 2u);
    EXPECT_STREQ(page[0].name, "south1");  // newest first
    EXPECT_STREQ(page[1].name, "north2");
    ASSERT_EQ(UserDb_SelectPage(3, "%", 2, 2, &list), 1);
    page = ToVector(list);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_STREQ(page[0].name, "north1");
    EXPECT_EQ(UserDb_SelectPage(3, "%", 3, 2, &list), 0);
    EXPECT_EQ(list, nullptr);

    ASSERT_EQ(UserDb_SelectAllButAdmin(&list), 1);
    std::vector<UserRecord> all = ToVector(list);
    ASSERT_EQ(all.size(), 4u);
    for (const UserRecord& u : all) {
        EXPECT_STRNE(u.name, "admin");
        EXPECT_EQ(u.enabled, 1);
    }
    EXPECT_STREQ(all[0].name, "north1");  // row order
}

TEST_F(StoreUserDb, HostileTextsAreDataNotCode)
{
    ASSERT_EQ(Insert(1, "admin", "root"), 1);
    const char* hostile[] = {"x'),('y", "' OR '1'='1", "x\"); DROP TABLE user_tb; --",
                             "a'; DELETE FROM user_tb; --"};
    UserRecord out;
    for (const char* text : hostile) {
        EXPECT_EQ(UserDb_SelectByNamePasswordType("admin", text, 1, &out), 0) << text;
        EXPECT_EQ(UserDb_SelectByNamePasswordType(text, text, 1, &out), 0) << text;
        EXPECT_EQ(UserDb_SelectByName(text, &out), 0) << text;
        EXPECT_EQ(UserDb_Count(1, text), 0) << text;
        ASSERT_EQ(Insert(3, text, text), 1) << text;
    }
    EXPECT_EQ(Tables(path_), (Cells{"user_tb"}));
    EXPECT_EQ(Rows(path_, "select count(*) from user_tb")[0], "5");
    for (const char* text : hostile) {
        ASSERT_EQ(UserDb_SelectByName(text, &out), 1) << text;
        EXPECT_STREQ(out.name, text);
        EXPECT_STREQ(out.password, text);
        EXPECT_EQ(UserDb_SelectByNamePasswordType(text, text, 3, &out), 1) << text;
    }
}

TEST_F(StoreUserDb, FullFieldsAreBoundByTheirLengthAndReadBackCut)
{
    UserRecord u = MakeUser(3, "", "pw");
    memset(u.name, 'n', sizeof(u.name));  // no terminator at all
    memset(u.company, 'c', sizeof(u.company));
    ASSERT_EQ(UserDb_Insert(&u), 1);
    EXPECT_EQ(UserDb_Insert(&u), -2);  // the same 200-character name
    Cells row = Rows(path_, "select length(name), length(company) from user_tb");
    EXPECT_EQ(row, (Cells{"200", "200"}));

    UserRecordNode* list = nullptr;
    ASSERT_EQ(UserDb_SelectByType(3, &list), 1);
    std::vector<UserRecord> rows = ToVector(list);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::string(rows[0].name), std::string(199, 'n'));
    EXPECT_EQ(std::string(rows[0].company), std::string(199, 'c'));
}

TEST_F(StoreUserDb, SharedStatementsServeManyThreadsAtOnce)
{
    const int names = 8;
    for (int i = 0; i < names; ++i) {
        ASSERT_EQ(Insert(3, ("r" + std::to_string(i)).c_str(), ("p" + std::to_string(i)).c_str()),
                  1);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                int k = (t * 3 + i) % names;
                std::string name = "r" + std::to_string(k);
                std::string password = "p" + std::to_string(k);
                UserRecord out;
                if (UserDb_SelectByName(name.c_str(), &out) != 1 || name != out.name) ++wrong;
                if (UserDb_SelectByNamePasswordType(name.c_str(), password.c_str(), 3, &out) != 1 ||
                    password != out.password) {
                    ++wrong;
                }
                UserRecordNode* list = nullptr;
                if (UserDb_SelectByTypeName(3, name.c_str(), &list) != 1 || !list ||
                    name != list->record.name || list->next) {
                    ++wrong;
                }
                FreeUserList(list);
                if (UserDb_Count(3, "r%") != names) ++wrong;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
