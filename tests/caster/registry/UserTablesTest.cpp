#include "caster/registry/BaseUserTable.h"
#include "caster/registry/RoverUserTable.h"
#include "platform/LocalTime.h"
#include "support/FrozenClock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

BaseUser MakeBase(uint32_t id, const char* name, const char* password)
{
    BaseUser u;
    memset(&u, 0, sizeof u);
    u.id = id;
    snprintf(u.name, sizeof u.name, "%s", name);
    snprintf(u.password, sizeof u.password, "%s", password);
    return u;
}

RoverUser MakeRover(uint32_t id, const char* name, const char* password, const char* expire,
                    int activation = 0, int period = 0, const char* first = "")
{
    RoverUser u;
    memset(&u, 0, sizeof u);
    u.id = id;
    snprintf(u.name, sizeof u.name, "%s", name);
    snprintf(u.password, sizeof u.password, "%s", password);
    snprintf(u.expiredatetime, sizeof u.expiredatetime, "%s", expire);
    u.activation = activation;
    u.activationperiod = period;
    snprintf(u.firstonlinetime, sizeof u.firstonlinetime, "%s", first);
    return u;
}

UserRecord Row(int id, int type, const std::string& name, const std::string& password)
{
    UserRecord r;
    memset(&r, 0, sizeof r);
    r.id = id;
    r.type = type;
    snprintf(r.name, sizeof r.name, "%s", name.c_str());
    snprintf(r.password, sizeof r.password, "%s", password.c_str());
    return r;
}

TEST(BaseUserTable, VerifyIsExact)
{
    std::unique_ptr<BaseUserTable> t(BaseUserTable::Create());
    BaseUser a = MakeBase(1, "MOUNT_A", "secret");
    ASSERT_TRUE(t->Insert(&a));
    EXPECT_FALSE(t->Insert(nullptr));
    struct Case {
        const char* name;
        const char* password;
        bool ok;
    } cases[] = {
        {"MOUNT_A", "secret", true}, {"MOUNT_A", "Secret", false}, {"mount_a", "secret", false},
        {"MOUNT_A", "", false},      {"MOUNT", "secret", false},   {nullptr, "secret", false},
        {"MOUNT_A", nullptr, false}, {nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.ok, t->Verify(c.name, c.password))
            << (c.name ? c.name : "(null)") << "/" << (c.password ? c.password : "(null)");
    }
}

TEST(BaseUserTable, ModifyOnlyOnAChangedPassword)
{
    std::unique_ptr<BaseUserTable> t(BaseUserTable::Create());
    BaseUser a = MakeBase(7, "M7", "old");
    t->Insert(&a);
    BaseUser same = MakeBase(7, "RENAMED", "old");
    EXPECT_FALSE(t->Modify(&same)) << "an unchanged password changes nothing";
    BaseUser got;
    ASSERT_TRUE(t->Get(7, &got));
    EXPECT_STREQ("M7", got.name);
    BaseUser changed = MakeBase(7, "M7", "new");
    EXPECT_TRUE(t->Modify(&changed));
    EXPECT_TRUE(t->Verify("M7", "new"));
    EXPECT_FALSE(t->Verify("M7", "old"));
    BaseUser unknown = MakeBase(8, "M8", "x");
    EXPECT_FALSE(t->Modify(&unknown));
    EXPECT_FALSE(t->Modify(nullptr));
}

TEST(BaseUserTable, UpsertByNameAndRemoveById)
{
    std::unique_ptr<BaseUserTable> t(BaseUserTable::Create());
    BaseUser a = MakeBase(1, "A", "p1");
    ASSERT_TRUE(t->Upsert(&a));  // no such name: stored
    BaseUser a2 = MakeBase(1, "A", "p2");
    ASSERT_TRUE(t->Upsert(&a2));  // same name and id: overwritten
    EXPECT_EQ(1, t->Count());
    EXPECT_TRUE(t->Verify("A", "p2"));
    BaseUser a3 = MakeBase(5, "A", "p3");
    ASSERT_TRUE(t->Upsert(&a3));  // same name, other id: the old id goes
    EXPECT_EQ(1, t->Count());
    EXPECT_FALSE(t->Get(1, nullptr));
    EXPECT_TRUE(t->Verify("A", "p3"));
    EXPECT_FALSE(t->Verify("A", "p2"));
    // Another name under a present id replaces that record, so deleting the
    // id cannot leave the old account able to log in.
    BaseUser b = MakeBase(5, "B", "pb");
    ASSERT_TRUE(t->Upsert(&b));
    EXPECT_EQ(1, t->Count());
    EXPECT_TRUE(t->Remove(&b));
    EXPECT_FALSE(t->Verify("A", "p3"));
    EXPECT_FALSE(t->Verify("B", "pb"));
    EXPECT_EQ(0, t->Count());
    EXPECT_TRUE(t->Remove(&b)) << "true unless the user is null";
    EXPECT_FALSE(t->Remove(nullptr));
    EXPECT_FALSE(t->Upsert(nullptr));
}

TEST(BaseUserTable, LoadsType2RowsAndCutsLongTexts)
{
    std::unique_ptr<BaseUserTable> t(BaseUserTable::Create());
    UserRecord rows[] = {
        Row(1, USER_TYPE_BASE, "BASE1", "pw1"),
        Row(2, USER_TYPE_ROVER, "rover", "pw2"),
        Row(3, USER_TYPE_OPERATOR, "admin", "pw3"),
        Row(4, USER_TYPE_BASE, std::string(150, 'N'), std::string(120, 'P')),
    };
    UserRecordNode* head = nullptr;
    UserRecordNode** tail = &head;
    for (const UserRecord& r : rows) {
        *tail = CloneUserRecord(&r);
        tail = &(*tail)->next;
    }
    EXPECT_EQ(2, t->LoadRows(head));
    FreeUserList(head);
    EXPECT_EQ(2, t->Count());
    EXPECT_TRUE(t->Verify("BASE1", "pw1"));
    EXPECT_FALSE(t->Verify("rover", "pw2"));
    BaseUser got;
    ASSERT_TRUE(t->Get(4, &got));
    EXPECT_EQ(std::string(BASE_USER_NAME_SIZE - 1, 'N'), got.name);
    EXPECT_EQ(std::string(BASE_USER_PASSWORD_SIZE - 1, 'P'), got.password);
    EXPECT_TRUE(t->Verify(got.name, got.password));
    EXPECT_EQ(0, t->LoadRows(nullptr));
}

// A first-login writer that keeps what it got.
std::vector<UserRecord> g_written;
int g_writerResult = 1;
int RecordWriter(const UserRecord* record)
{
    g_written.push_back(*record);
    return g_writerResult;
}

class RoverUserTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetNow(2026, 12, 10, 9, 5, 7);
        g_written.clear();
        g_writerResult = 1;
        table.reset(RoverUserTable::Create(RecordWriter));
    }
    void SetNow(int y, int mo, int d, int h, int mi, int s) { clock.Set(PlatformLocalTime{y, mo, d, h, mi, s, 0, 0}); }
    void Put(const RoverUser& u) { ASSERT_TRUE(table->Insert(&u)); }
    RoverUser Stored(uint32_t id)
    {
        RoverUser u;
        EXPECT_TRUE(table->Get(id, &u));
        return u;
    }

    FrozenClock clock;
    std::unique_ptr<RoverUserTable> table;
};

TEST_F(RoverUserTableTest, VerifyErrors)
{
    Put(MakeRover(1, "alice", "pw", "2030/1/1 0:0:0"));
    Put(MakeRover(2, "bob", "pw", "2030/1/1 0:0:0"));
    struct Case {
        const char* name;
        const char* password;
        bool ok;
        int error;
    } cases[] = {
        {"alice", "pw", true, -1},    {"alice", "PW", false, 3},     {"carol", "pw", false, 2},
        {"Alice", "pw", false, 2},    {nullptr, "pw", false, 2},     {"alice", nullptr, false, 3},
        {nullptr, nullptr, false, 3}, {"carol", nullptr, false, 3},
    };
    for (const Case& c : cases) {
        int error = -1;
        EXPECT_EQ(c.ok, table->Verify(c.name, c.password, &error)) << (c.name ? c.name : "(null)");
        EXPECT_EQ(c.error, error) << (c.name ? c.name : "(null)") << "/" << (c.password ? c.password : "(null)");
    }
    EXPECT_FALSE(table->Verify("carol", "pw", nullptr));
}

TEST_F(RoverUserTableTest, ModifyExpiryOnlyEndsTheActivationPeriod)
{
    Put(MakeRover(3, "act", "pw", "2027/1/1 0:0:0", 1, 30, "2026/12/1 8:0:0"));
    RoverUser same = MakeRover(3, "act", "pw", "2027/1/1 0:0:0", 1, 30, "2026/12/1 8:0:0");
    EXPECT_FALSE(table->Modify(&same));

    RoverUser newDate = MakeRover(3, "act", "pw", "2028/6/1 0:0:0", 1, 30, "2026/12/1 8:0:0");
    EXPECT_TRUE(table->Modify(&newDate));
    RoverUser got = Stored(3);
    EXPECT_EQ(0, got.activation) << "the new expiry date rules from now on";
    EXPECT_STREQ("2028/6/1 0:0:0", got.expiredatetime);

    RoverUser newPassword = MakeRover(3, "act", "pw2", "2028/6/1 0:0:0", 1, 30, "");
    EXPECT_TRUE(table->Modify(&newPassword));
    got = Stored(3);
    EXPECT_STREQ("pw2", got.password);
    EXPECT_EQ(1, got.activation) << "a new password stores the record as given";

    RoverUser unknown = MakeRover(4, "x", "y", "");
    EXPECT_FALSE(table->Modify(&unknown));
    EXPECT_FALSE(table->Modify(nullptr));
}

TEST_F(RoverUserTableTest, ExpiryDateAgainstNow)
{
    // now is 2026/12/10 9:05:07 local time.
    struct Case {
        const char* expire;
        bool valid;
    } cases[] = {
        {"2026/12/10 9:5:8", true},
        {"2026/12/10 9:5:7", false},  // "later than now", not equal
        {"2026/12/10 9:5:6", false},
        {"2026/12/10 09:05:08", true},
        {"2027/1/1 0:0:0", true},
        {"2026/1/1 0:0:0", false},
        {"", false},
        {"never", false},
        {"2030/1/1", false},  // all six fields are needed
        // Out-of-range fields are unreadable, not wrapped into the future.
        {"-2147483648/1/1 0:0:0", false},
        {"2030/-2147483648/1 0:0:0", false},
        {"2030/2147483647/1 0:0:0", false},
        {"2030/1/1 0:0:99999999999", false},
    };
    uint32_t id = 100;
    for (const Case& c : cases) {
        std::string name = std::string("user") + std::to_string(id);
        Put(MakeRover(id++, name.c_str(), "pw", c.expire));
        EXPECT_EQ(c.valid, table->IsValid(name.c_str())) << "'" << c.expire << "'";
    }
    EXPECT_FALSE(table->IsValid("nobody"));
    EXPECT_FALSE(table->IsValid(nullptr));
    EXPECT_TRUE(g_written.empty());
}

TEST_F(RoverUserTableTest, AnExpiredRecordDoesNotHideAValidOneOfTheSameName)
{
    Put(MakeRover(1, "twice", "a", "2020/1/1 0:0:0"));
    Put(MakeRover(2, "twice", "b", "2020/1/1 0:0:0"));
    EXPECT_FALSE(table->IsValid("twice"));
    Put(MakeRover(3, "twice", "c", "2030/1/1 0:0:0"));
    EXPECT_TRUE(table->IsValid("twice"));
}

TEST_F(RoverUserTableTest, ActivationPeriodCountsFromTheFirstLogin)
{
    // First login 2026/12/1 9:5:7 with 9 days: ends 2026/12/10 9:05:07, i.e. now.
    Put(MakeRover(1, "ends_now", "pw", "2020/1/1 0:0:0", 1, 9, "2026/12/1 9:5:7"));
    Put(MakeRover(2, "ends_later", "pw", "2020/1/1 0:0:0", 1, 9, "2026/12/1 9:5:8"));
    Put(MakeRover(3, "long", "pw", "2020/1/1 0:0:0", 1, 400, "2025/12/1 0:0:0"));
    // Tens of thousands of days must not wrap round into the past.
    Put(MakeRover(4, "huge", "pw", "2020/1/1 0:0:0", 1, 30000, "2026/1/1 0:0:0"));
    // An elapsed period still leaves the expiry date to decide.
    Put(MakeRover(5, "by_date", "pw", "2027/1/1 0:0:0", 1, 1, "2026/1/1 0:0:0"));
    EXPECT_FALSE(table->IsValid("ends_now"));
    EXPECT_TRUE(table->IsValid("ends_later"));
    EXPECT_TRUE(table->IsValid("long"));
    EXPECT_TRUE(table->IsValid("huge"));
    EXPECT_TRUE(table->IsValid("by_date"));
    EXPECT_TRUE(g_written.empty()) << "only a first login is written";
}

TEST_F(RoverUserTableTest, APeriodNoDateCanHoldIsRefusedAndNeverStarted)
{
    Put(MakeRover(1, "max_first", "pw", "2020/1/1 0:0:0", 1, 2147483647, ""));
    Put(MakeRover(2, "max_running", "pw", "2020/1/1 0:0:0", 1, 2147483647, "2026/12/1 0:0:0"));
    Put(MakeRover(3, "negative", "pw", "2020/1/1 0:0:0", 1, -5, ""));
    EXPECT_FALSE(table->IsValid("max_first"));
    EXPECT_FALSE(table->IsValid("max_running"));
    EXPECT_FALSE(table->IsValid("negative"));
    EXPECT_TRUE(g_written.empty()) << "a refused first login stores nothing";
    EXPECT_STREQ("", Stored(1).firstonlinetime);
}

TEST_F(RoverUserTableTest, FirstLoginStampsTheTextsAndWritesThemThrough)
{
    Put(MakeRover(42, "fresh", "pw", "", 1, 10, ""));
    EXPECT_TRUE(table->IsValid("fresh"));
    RoverUser got = Stored(42);
    EXPECT_STREQ("2026/12/10 9:5:7", got.firstonlinetime);
    EXPECT_STREQ("2026/12/20 00:00:00", got.expiredatetime);
    EXPECT_EQ(1, got.activation);
    ASSERT_EQ(1u, g_written.size());
    EXPECT_EQ(42, g_written[0].id);
    EXPECT_STREQ("2026/12/10 9:5:7", g_written[0].firstonlinetime);
    EXPECT_STREQ("2026/12/20 00:00:00", g_written[0].expiredatetime);
    EXPECT_STREQ("", g_written[0].name) << "the row carries only id and the two texts";

    // Later logins are counted from that first one and write nothing more.
    SetNow(2026, 12, 20, 9, 5, 6);
    EXPECT_TRUE(table->IsValid("fresh"));
    SetNow(2026, 12, 20, 9, 5, 7);
    EXPECT_FALSE(table->IsValid("fresh"));
    EXPECT_EQ(1u, g_written.size());
}

TEST_F(RoverUserTableTest, FirstLoginExpiryCrossesMonthAndYear)
{
    SetNow(2026, 12, 25, 23, 59, 59);
    Put(MakeRover(1, "newyear", "pw", "", 1, 10, ""));
    Put(MakeRover(2, "leap", "pw", "", 1, 1, ""));
    EXPECT_TRUE(table->IsValid("newyear"));
    EXPECT_STREQ("2027/1/4 00:00:00", Stored(1).expiredatetime);
    EXPECT_STREQ("2026/12/25 23:59:59", Stored(1).firstonlinetime);
    SetNow(2028, 2, 28, 0, 0, 1);
    EXPECT_TRUE(table->IsValid("leap"));
    EXPECT_STREQ("2028/2/29 00:00:00", Stored(2).expiredatetime);
    EXPECT_STREQ("2028/2/28 0:0:1", Stored(2).firstonlinetime);
}

TEST_F(RoverUserTableTest, FirstLoginIsValidEvenWhenTheWriteFails)
{
    g_writerResult = 0;
    Put(MakeRover(9, "nowrite", "pw", "", 1, 3, ""));
    EXPECT_TRUE(table->IsValid("nowrite"));
    EXPECT_EQ(1u, g_written.size());
    EXPECT_STREQ("2026/12/10 9:5:7", Stored(9).firstonlinetime);

    std::unique_ptr<RoverUserTable> noStore(RoverUserTable::Create(nullptr));
    RoverUser u = MakeRover(1, "mem", "pw", "", 1, 3, "");
    noStore->Insert(&u);
    EXPECT_TRUE(noStore->IsValid("mem"));
    RoverUser got;
    ASSERT_TRUE(noStore->Get(1, &got));
    EXPECT_STREQ("2026/12/13 00:00:00", got.expiredatetime);
}

TEST_F(RoverUserTableTest, LoadsType3RowsWithTheirActivation)
{
    UserRecord r3 = Row(5, USER_TYPE_ROVER, "r", "p");
    snprintf(r3.expiredatetime, sizeof r3.expiredatetime, "2030/1/1 0:0:0");
    r3.activation = 1;
    r3.activationperiod = 7;
    snprintf(r3.firstonlinetime, sizeof r3.firstonlinetime, "2026/12/9 0:0:0");
    UserRecord r2 = Row(6, USER_TYPE_BASE, "b", "p");
    UserRecordNode* head = CloneUserRecord(&r3);
    head->next = CloneUserRecord(&r2);
    EXPECT_EQ(1, table->LoadRows(head));
    FreeUserList(head);
    RoverUser got = Stored(5);
    EXPECT_STREQ("r", got.name);
    EXPECT_EQ(1, got.activation);
    EXPECT_EQ(7, got.activationperiod);
    EXPECT_STREQ("2026/12/9 0:0:0", got.firstonlinetime);
    EXPECT_FALSE(table->Get(6, nullptr));
    EXPECT_TRUE(table->IsValid("r"));
}

TEST_F(RoverUserTableTest, UpsertAndRemove)
{
    RoverUser a = MakeRover(1, "a", "p", "2030/1/1 0:0:0");
    ASSERT_TRUE(table->Upsert(&a));
    RoverUser moved = MakeRover(2, "a", "q", "2030/1/1 0:0:0");
    ASSERT_TRUE(table->Upsert(&moved));
    EXPECT_EQ(1, table->Count());
    EXPECT_FALSE(table->Get(1, nullptr));
    int error = 0;
    EXPECT_FALSE(table->Verify("a", "p", &error));
    EXPECT_TRUE(table->Verify("a", "q", &error));
    EXPECT_TRUE(table->Remove(&moved));
    EXPECT_FALSE(table->Verify("a", "q", &error));
    EXPECT_EQ(2, error);
    EXPECT_TRUE(table->Remove(&moved));
    EXPECT_FALSE(table->Remove(nullptr));
    EXPECT_FALSE(table->Insert(nullptr));
}

}  // namespace
