#include "caster/registry/RoverTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

class RoverTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table.reset(RoverTable::Create());
        ASSERT_NE(nullptr, table);
        guard.reset(new RoverTable::Guard);
    }
    void TearDown() override { guard.reset(); }

    static RoverRecord Rover(uint64_t channel, const char* user, const char* mount, const char* bound = "")
    {
        RoverRecord r;
        memset(&r, 0, sizeof r);
        r.channelID = channel;
        snprintf(r.userName, sizeof r.userName, "%s", user);
        snprintf(r.userKey, sizeof r.userKey, "%s", user);
        snprintf(r.mountPoint, sizeof r.mountPoint, "%s", mount);
        snprintf(r.boundBaseName, sizeof r.boundBaseName, "%s", bound);
        r.loginNumber = 1;
        r.fixQuality = -1;
        return r;
    }
    void Add(uint64_t channel, const char* user, const char* mount, const char* bound = "")
    {
        RoverRecord r = Rover(channel, user, mount, bound);
        ASSERT_TRUE(table->Add(&r));
    }

    // The per-user naming of a login with several rovers per account allowed:
    // the account's latest rover decides the next number. Returns false when
    // the limit is reached.
    bool Login(uint64_t channel, const char* account, int userCount)
    {
        RoverRecord r = Rover(channel, account, "MOUNT");
        RoverRecord* latest = table->FindByText(account);
        if (latest != nullptr) {
            if (latest->loginNumber >= userCount) return false;
            r.loginNumber = latest->loginNumber + 1;
            snprintf(r.userName, sizeof r.userName, "%s~%d", account, r.loginNumber);
        }
        return table->Add(&r);
    }
    // What rover logout does: the account's latest rover takes the leaver's name.
    void Logout(uint64_t channel)
    {
        RoverRecord* r = table->Find(channel);
        ASSERT_NE(nullptr, r);
        EXPECT_TRUE(table->UpdateRecord(r));
        EXPECT_TRUE(table->Remove(channel));
    }
    std::map<uint64_t, std::string> Names()
    {
        std::map<uint64_t, std::string> out;
        for (RoverListItem* i = table->First(); i; i = table->Next(i)) {
            out[i->record->channelID] = std::string(i->record->userName) + "#" +
                                        std::to_string(i->record->loginNumber);
        }
        return out;
    }

    std::unique_ptr<RoverTable> table;
    std::unique_ptr<RoverTable::Guard> guard;
};

TEST_F(RoverTableTest, AccountRoversAreNamedDenselyAndRenamedWhenOneLeaves)
{
    ASSERT_TRUE(Login(11, "u", 3));
    ASSERT_TRUE(Login(12, "u", 3));
    ASSERT_TRUE(Login(13, "u", 3));
    EXPECT_FALSE(Login(14, "u", 3)) << "the fourth login reaches the limit";
    ASSERT_TRUE(Login(21, "v", 3));
    EXPECT_EQ((std::map<uint64_t, std::string>{{11, "u#1"}, {12, "u~2#2"}, {13, "u~3#3"}, {21, "v#1"}}), Names());

    // u~2 leaves: the former u~3 becomes u~2, and the next login is u~3 again.
    Logout(12);
    EXPECT_EQ((std::map<uint64_t, std::string>{{11, "u#1"}, {13, "u~2#2"}, {21, "v#1"}}), Names());
    ASSERT_TRUE(Login(15, "u", 3));
    EXPECT_EQ((std::map<uint64_t, std::string>{{11, "u#1"}, {13, "u~2#2"}, {15, "u~3#3"}, {21, "v#1"}}), Names());

    // The first rover leaves: the latest takes the plain name.
    Logout(11);
    EXPECT_EQ((std::map<uint64_t, std::string>{{13, "u~2#2"}, {15, "u#1"}, {21, "v#1"}}), Names());

    // The latest leaves: nobody is renamed.
    Logout(13);
    EXPECT_EQ((std::map<uint64_t, std::string>{{15, "u#1"}, {21, "v#1"}}), Names());
    Logout(15);
    EXPECT_EQ(nullptr, table->FindByText("u"));
    EXPECT_EQ(21u, table->FindByName("v")->channelID);

    RoverRecord stray = Rover(99, "nobody", "MOUNT");
    EXPECT_FALSE(table->UpdateRecord(&stray));
    EXPECT_FALSE(table->UpdateRecord(nullptr));
}

TEST_F(RoverTableTest, FindByTextTakesTheGreatestNumberAndFirstInBucketsOnATie)
{
    // 1 and 54 share a bucket of 53 with 54 at its head; both carry number 2.
    RoverRecord a = Rover(1, "acct~2", "M");
    snprintf(a.userKey, sizeof a.userKey, "acct");
    a.loginNumber = 2;
    RoverRecord b = a;
    b.channelID = 54;
    RoverRecord c = Rover(2, "acct", "M");
    snprintf(c.userKey, sizeof c.userKey, "acct");
    ASSERT_TRUE(table->Add(&a));
    ASSERT_TRUE(table->Add(&b));
    ASSERT_TRUE(table->Add(&c));
    std::vector<uint64_t> order;
    table->ForEach([&](RoverRecord* r) { order.push_back(r->channelID); });
    ASSERT_EQ((std::vector<uint64_t>{54, 1, 2}), order);
    EXPECT_EQ(54u, table->FindByText("acct")->channelID);
    EXPECT_EQ(nullptr, table->FindByText("acc"));
    EXPECT_EQ(nullptr, table->FindByText(nullptr));
    // FindByName compares user names, not the account key.
    EXPECT_EQ(2u, table->FindByName("acct")->channelID);
    EXPECT_EQ(54u, table->FindByName("acct~2")->channelID);
    EXPECT_EQ(nullptr, table->FindByName(nullptr));
}

TEST_F(RoverTableTest, VirtualMountRoversCountByTheirBoundBase)
{
    Add(1, "u", "NEAREST", "B1");
    Add(2, "u", "NEARESTabc", "B1");
    Add(3, "u", "RTCM32_ZedOz", "B1");
    Add(4, "u", "RTCM32_VODIR_X", "B1");
    Add(5, "u", "B1", "");
    Add(6, "w", "B1", "");
    Add(7, "u", "RTCM32_Zed", "B1");  // not a prefix of 12: counts by its own mount
    Add(8, "u", "NEAREST", "B2");
    Add(9, "u", "NEARES", "B1");      // not a prefix of 7

    struct Case {
        const char* mount;
        const char* user;
        int onMount, onBase;
    } cases[] = {
        {"B1", "u", 5, 6},
        {"B2", "u", 1, 1},
        {"NEAREST", "u", 0, 0},
        {"RTCM32_ZedOz", "u", 0, 0},
        {"RTCM32_Zed", "u", 1, 1},
        {"NEARES", "u", 1, 1},
        {"B1", "w", 1, 6},
        {"B1", "x", 0, 6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.onMount, table->CountUserOnMount(c.mount, c.user)) << c.mount << " " << c.user;
        EXPECT_EQ(c.onBase, table->CountOnBase(c.mount)) << c.mount;
    }
    EXPECT_EQ(0, table->CountUserOnMount(nullptr, "u"));
    EXPECT_EQ(0, table->CountUserOnMount("B1", nullptr));
    EXPECT_EQ(0, table->CountOnBase(nullptr));
    EXPECT_EQ(8, table->CountByUser("u"));
    EXPECT_EQ(1, table->CountByUser("w"));
    EXPECT_EQ(0, table->CountByUser("U"));
    EXPECT_EQ(0, table->CountByUser(nullptr));
    EXPECT_EQ(9, table->Count());
}

TEST_F(RoverTableTest, AddCopiesAndTerminatesAndKeepsLoginOrder)
{
    RoverRecord r = Rover(5, "x", "M");
    memset(r.userName, 'U', sizeof r.userName);
    memset(r.userKey, 'K', sizeof r.userKey);
    memset(r.boundBaseName, 'B', sizeof r.boundBaseName);
    memset(r.password, 'P', sizeof r.password);
    ASSERT_TRUE(table->Add(&r));
    RoverRecord dup = Rover(5, "y", "M");
    EXPECT_FALSE(table->Add(&dup));
    EXPECT_EQ(r.sequence + 1, dup.sequence);
    RoverRecord* s = table->Find(5);
    ASSERT_NE(&r, s);
    EXPECT_EQ(static_cast<size_t>(ROVER_USER_SIZE - 1), strlen(s->userName));
    EXPECT_EQ(static_cast<size_t>(ROVER_USER_SIZE - 1), strlen(s->userKey));
    EXPECT_EQ(static_cast<size_t>(ROVER_PASSWORD_SIZE - 1), strlen(s->password));
    EXPECT_EQ(static_cast<size_t>(ROVER_MOUNT_SIZE - 1), strlen(s->boundBaseName));
    EXPECT_EQ(-1, s->fixQuality);

    Add(60, "b", "M");
    Add(2, "c", "M");
    std::vector<uint64_t> order;
    for (RoverListItem* i = table->First(); i; i = table->Next(i)) order.push_back(i->record->channelID);
    EXPECT_EQ((std::vector<uint64_t>{5, 60, 2}), order);
    EXPECT_TRUE(table->Contains(60));
    EXPECT_TRUE(table->Remove(60));
    EXPECT_FALSE(table->Contains(60));
    EXPECT_FALSE(table->Remove(60));
    EXPECT_EQ(5u, table->First()->record->channelID);
    EXPECT_EQ(2u, table->Next(table->First())->record->channelID);
    EXPECT_EQ(nullptr, table->Next(table->Next(table->First())));
}

}  // namespace
