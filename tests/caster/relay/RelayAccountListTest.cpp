// The relay-account pool: the list file, allocation and release, day figures.
#include "caster/relay/RelayAccountList.h"
#include "platform/LocalTime.h"
#include "runtime/Log.h"
#include "support/Files.h"
#include "support/FrozenClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Credentials(const RelayMount* mount)
{
    std::vector<std::string> out;
    for (const RelayAccount* a : mount->accounts) out.push_back(a->credentials);
    return out;
}

class RelayPoolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDate(2026, 3, 5);
        logPrefix_ = tmp_.File("pool");
        ASSERT_EQ(0, Log_Init(logPrefix_.c_str()));
        pool_.reset(RelayAccountList::Create());
    }
    // Noon of the day.
    void SetDate(int year, int month, int day) { clock.Set(PlatformLocalTime{year, month, day, 12, 0, 0, 0, 1}); }

    void Load(const std::string& text)
    {
        std::string path = tmp_.File("RelayAccount.list");
        ASSERT_TRUE(WriteFile(path, text));
        EXPECT_EQ(0, pool_->Load(path.c_str()));
    }

    std::string State()
    {
        char line[1024];
        EXPECT_GT(pool_->FormatStateLine(line, sizeof(line)), 0);
        return line;
    }

    std::string LogText()
    {
        char date[32];
        PlatformLocalTime now = clock.Get();
        snprintf(date, sizeof(date), "_%04d-%02d-%02d.log", now.year, now.month, now.day);
        return ReadFile(logPrefix_ + date);
    }

    FrozenClock clock;
    TempDir tmp_;
    std::string logPrefix_;
    std::unique_ptr<RelayAccountList> pool_;
};

const char* kList =
    "# relay accounts of the north region -trd -i x:y -m /C h:1/C\n"
    "-sys -startup -i sysu:sysp -m /SYS1 10.0.0.1:2101/UP1 -g 30.5 114.2 20.0 1\r\n"
    "-trd -i a:1 -m /R1 caster.example:2101/U1 -m /R2 caster.example:2102/U2\n"
    "-trd -i b:2 -m /R1 caster.example:2101/U1 # a comment anywhere drops the line\n"
    "-trd\t-i  c:3\t -m /R1 caster.example:2101/U1\r\n"
    "a line with no directive\n"
    "-trd -i d:4 -m /BAD no-port-here\n"
    "-trd -m /R3 h:1/U3 -i\n"
    "-trd -i e:5 -m /SYS1 elsewhere:1/X\n"
    "-sys -i s2:p2 -m /SYS2 host2:2103/UP2\n"
    "-trd -i f:6 -m /R4\n"
    "END OF LIST\n"
    "-trd -i z:9 -m /AFTER h:1/U\n";

}  // namespace

TEST_F(RelayPoolTest, ListFileGivesMountsAccountsAndSystemMounts)
{
    Load(kList);

    EXPECT_EQ(2, pool_->TotalAccounts());  // a and c; b is a comment, the rest unusable
    EXPECT_EQ(2, pool_->IdleAccounts());
    char names[4][RELAY_NAME_SIZE];
    int count = 0;
    EXPECT_EQ(0, pool_->ListMountNames(names, 4, &count));
    ASSERT_EQ(2, count);
    EXPECT_STREQ("R1", names[0]);
    EXPECT_STREQ("R2", names[1]);

    RelayMount* r1 = pool_->FindMount("R1");
    ASSERT_NE(nullptr, r1);
    EXPECT_STREQ("caster.example", r1->host);
    EXPECT_EQ(2101, r1->port);
    EXPECT_STREQ("U1", r1->upstreamMount);
    EXPECT_EQ(nullptr, r1->systemAccount);
    EXPECT_EQ((std::vector<std::string>{"a:1", "c:3"}), Credentials(r1));
    EXPECT_STREQ("YTox", r1->accounts[0]->credentialsBase64);
    RelayMount* r2 = pool_->FindMount("R2");
    ASSERT_NE(nullptr, r2);
    EXPECT_EQ(2102, r2->port);
    EXPECT_EQ((std::vector<std::string>{"a:1"}), Credentials(r2));
    EXPECT_EQ(r1->accounts[0], r2->accounts[0]);  // one account per line, on every mount of it

    RelayMount* sys1 = pool_->FindMount("SYS1");
    ASSERT_NE(nullptr, sys1);
    ASSERT_NE(nullptr, sys1->systemAccount);
    EXPECT_STREQ("10.0.0.1", sys1->host);
    EXPECT_EQ(2101, sys1->port);
    EXPECT_STREQ("UP1", sys1->upstreamMount);
    EXPECT_STREQ("sysu:sysp", sys1->systemAccount->credentials);
    EXPECT_STREQ("c3lzdTpzeXNw", sys1->systemAccount->credentialsBase64);
    EXPECT_TRUE(sys1->accounts.empty());  // e:5 was not attached to a system mount
    ASSERT_NE(nullptr, pool_->FindMount("SYS2"));
    EXPECT_STREQ("s2:p2", pool_->FindMount("SYS2")->systemAccount->credentials);

    EXPECT_EQ(0, pool_->IsNotRelayMount("R1"));
    EXPECT_EQ(0, pool_->IsNotRelayMount("R2"));
    for (const char* other : {"SYS1", "SYS2", "BAD", "R3", "R4", "AFTER", "C", "/R1", ""}) {
        EXPECT_EQ(1, pool_->IsNotRelayMount(other)) << other;
        if (strcmp(other, "SYS1") && strcmp(other, "SYS2")) {
            EXPECT_EQ(nullptr, pool_->FindMount(other)) << other;
        }
    }
    EXPECT_EQ("Realy_account state:DAY_MAX_USER:0   RELAY_ACCOUNT_DAY_MAX_USE:0    RELAY_ACCOUNT_SUM:2   LEFT:2\n",
              State());
    std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find("no-port-here")) << log;  // skipped lines say why
    EXPECT_NE(std::string::npos, log.find("\"-i\" without credentials")) << log;
}

TEST_F(RelayPoolTest, LongLinesAndLongCredentialsAreReadWholeOrRefused)
{
    std::string longest(RELAY_CREDENTIALS_SIZE - 1, 'k');
    std::string tooLong(RELAY_CREDENTIALS_SIZE, 'q');
    std::string longName(RELAY_NAME_SIZE, 'N');
    std::string manyMounts = "-trd -i many:1";
    for (int i = 0; i < 20; ++i) manyMounts += " -m /M" + std::to_string(i) + " h:1/U";  // 62 tokens
    std::string text = "-trd -i wide:1" + std::string(3000, ' ') + "-m /WIDE h:9/W\n" +
                       "-trd -i " + longest + " -m /LONGEST h:1/L\n" +
                       "-trd -i " + tooLong + " -m /TOOLONG h:1/L\n" +
                       "-trd -i n:1 -m /" + longName + " h:1/L\n" +
                       "-sys -i " + tooLong + " -m /SYSLONG h:1/L\n" +
                       manyMounts + "\n";
    Load(text);

    ASSERT_NE(nullptr, pool_->FindMount("WIDE"));  // not cut into two lines at 1023 characters
    EXPECT_EQ(9, pool_->FindMount("WIDE")->port);
    RelayMount* longestMount = pool_->FindMount("LONGEST");
    ASSERT_NE(nullptr, longestMount);
    EXPECT_EQ(longest, longestMount->accounts[0]->credentials);
    EXPECT_EQ(172u, strlen(longestMount->accounts[0]->credentialsBase64));
    EXPECT_EQ(nullptr, pool_->FindMount("TOOLONG"));
    EXPECT_EQ(nullptr, pool_->FindMount(longName.c_str()));
    EXPECT_EQ(nullptr, pool_->FindMount(longName.substr(0, RELAY_NAME_SIZE - 1).c_str()));
    EXPECT_EQ(nullptr, pool_->FindMount("SYSLONG"));
    for (int i = 0; i < 20; ++i) {
        std::string name = "M" + std::to_string(i);
        RelayMount* m = pool_->FindMount(name.c_str());
        ASSERT_NE(nullptr, m) << name;
        EXPECT_STREQ("U", m->upstreamMount) << name;
    }
    EXPECT_EQ(3, pool_->TotalAccounts());  // wide, longest, many
}

TEST_F(RelayPoolTest, MissingFileLoadsNothing)
{
    EXPECT_EQ(0, pool_->Load(tmp_.File("absent.list").c_str()));
    EXPECT_EQ(0, pool_->Load(nullptr));
    int count = 7;
    char names[1][RELAY_NAME_SIZE];
    EXPECT_EQ(1, pool_->ListMountNames(names, 1, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(nullptr, pool_->TakeSystemMount());
    EXPECT_EQ("Realy_account state:DAY_MAX_USER:0   RELAY_ACCOUNT_DAY_MAX_USE:0    RELAY_ACCOUNT_SUM:0   LEFT:0\n",
              State());
}

TEST_F(RelayPoolTest, AccountsAreTakenInTurnNeverTwiceAndReleasedOnce)
{
    Load(kList);
    RelayAccount* first = pool_->TakeIdleAccount("R1");
    RelayAccount* second = pool_->TakeIdleAccount("R1");
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_STREQ("a:1", first->credentials);
    EXPECT_STREQ("c:3", second->credentials);
    EXPECT_EQ(0, pool_->IdleAccounts());
    EXPECT_EQ(nullptr, pool_->TakeIdleAccount("R1"));
    EXPECT_EQ(nullptr, pool_->TakeIdleAccount("R2"));  // its only account serves R1 now
    EXPECT_EQ(0, pool_->IdleAccounts());
    EXPECT_EQ(nullptr, pool_->TakeIdleAccount("SYS1"));  // a system mount has no shared accounts
    EXPECT_EQ(nullptr, pool_->TakeIdleAccount("NOSUCH"));

    EXPECT_EQ(0, pool_->ReleaseAccount(first));
    EXPECT_EQ(1, pool_->ReleaseAccount(first));  // a second release changes nothing
    EXPECT_EQ(1, pool_->IdleAccounts());
    EXPECT_FALSE(pool_->IsInUse(first));
    EXPECT_TRUE(pool_->IsInUse(second));
    EXPECT_EQ(first, pool_->TakeIdleAccount("R2"));
    EXPECT_EQ(0, pool_->ReleaseAccount(second));
    EXPECT_EQ(second, pool_->TakeIdleAccount("R1"));  // a is busy on R2: c, the next in turn

    RelayAccount stranger{};
    stranger.inUse = 1;
    EXPECT_EQ(-1, pool_->ReleaseAccount(&stranger));
    EXPECT_EQ(-1, pool_->ReleaseAccount(nullptr));
    EXPECT_EQ(0, pool_->IdleAccounts());
    EXPECT_EQ(-1, pool_->AttachAccount("R1", &stranger));
    EXPECT_EQ(1, pool_->AttachAccount("NOSUCH", first));
    EXPECT_EQ(1, pool_->AttachAccount("SYS1", first));
}

TEST_F(RelayPoolTest, SystemMountsAreHandedOutOnceUntilReleased)
{
    Load(kList);
    RelayMount* one = pool_->TakeSystemMount();
    ASSERT_NE(nullptr, one);
    RelayMount* two = pool_->NextSystemMount(one);
    ASSERT_NE(nullptr, two);
    EXPECT_NE(one, two);
    EXPECT_EQ(nullptr, pool_->NextSystemMount(two));
    EXPECT_EQ(nullptr, pool_->TakeSystemMount());  // both in use now
    EXPECT_EQ(2, pool_->IdleAccounts());           // outside the shared counts
    EXPECT_EQ(2, pool_->TotalAccounts());

    EXPECT_EQ(0, pool_->ReleaseAccount(two->systemAccount));
    EXPECT_EQ(1, pool_->ReleaseAccount(two->systemAccount));
    EXPECT_EQ(2, pool_->IdleAccounts());
    EXPECT_EQ(two, pool_->TakeSystemMount());
    EXPECT_EQ(nullptr, pool_->NextSystemMount(nullptr));

    std::set<std::string> names{one->localName, two->localName};
    EXPECT_EQ((std::set<std::string>{"SYS1", "SYS2"}), names);
    EXPECT_EQ(1, pool_->AddSystemMount("SYS1", "h", 1, "U", "x:y"));
    EXPECT_EQ(1, pool_->AddRelayMount("SYS1", "h", 1, "U"));
    EXPECT_EQ(-1, pool_->AddSystemMount("", "h", 1, "U", "x:y"));
    EXPECT_EQ(-1, pool_->AddRelayMount("X", "", 1, "U"));
}

// Rovers take and give back accounts from many workers at once: no account is
// ever held twice, and every one is idle again at the end.
TEST_F(RelayPoolTest, ConcurrentTakesNeverShareAnAccount)
{
    ASSERT_EQ(0, pool_->AddRelayMount("SHARED", "h", 1, "U"));
    for (int i = 0; i < 3; ++i) {
        RelayAccount* a = pool_->AddAccount(("user" + std::to_string(i) + ":pw").c_str());
        ASSERT_EQ(0, pool_->AttachAccount("SHARED", a));
    }
    std::map<const RelayAccount*, std::atomic<int>> holders;
    for (const RelayAccount* a : pool_->FindMount("SHARED")->accounts) holders[a] = 0;
    std::atomic<int> shared{0}, taken{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                RelayAccount* a = pool_->TakeIdleAccount("SHARED");
                if (!a) continue;
                ++taken;
                if (++holders.at(a) != 1) ++shared;
                --holders.at(a);
                if (pool_->ReleaseAccount(a) != 0) ++shared;
            }
        });
    }
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(0, shared.load());
    EXPECT_GT(taken.load(), 0);
    EXPECT_EQ(3, pool_->IdleAccounts());
    EXPECT_EQ(3, pool_->TotalAccounts());
}

TEST_F(RelayPoolTest, DayFiguresFollowTheLocalDate)
{
    Load(kList);
    RelayAccount* a = pool_->TakeIdleAccount("R1");
    RelayAccount* c = pool_->TakeIdleAccount("R1");
    pool_->MarkUsed("alice");
    pool_->MarkUsed("bob");
    pool_->MarkUsed("bob");  // bob holds two relays
    EXPECT_EQ(2, pool_->DayMaxInUse());
    EXPECT_EQ(2, pool_->DayUsedCount());
    pool_->ReleaseAccount(a);
    pool_->UnmarkUsed("alice");
    pool_->UnmarkUsed("bob");
    EXPECT_EQ(2, pool_->DayMaxInUse());  // the peak stays for the day
    EXPECT_EQ(2, pool_->DayUsedCount());  // alice had a relay today
    EXPECT_EQ("Realy_account state:DAY_MAX_USER:2   RELAY_ACCOUNT_DAY_MAX_USE:2    RELAY_ACCOUNT_SUM:2   LEFT:1\n",
              State());

    SetDate(2026, 3, 6);
    EXPECT_EQ(1, pool_->DayMaxInUse());   // restarts from what is in use now
    EXPECT_EQ(1, pool_->DayUsedCount());  // bob still holds one relay
    pool_->MarkUsed("carol");
    EXPECT_EQ(2, pool_->DayUsedCount());
    pool_->UnmarkUsed("bob");
    pool_->UnmarkUsed("carol");
    pool_->ReleaseAccount(c);

    SetDate(2026, 4, 6);  // the same day of the next month is a new day
    EXPECT_EQ(0, pool_->DayMaxInUse());
    EXPECT_EQ(0, pool_->DayUsedCount());
    pool_->MarkUsed("dave");  // the first mark of a day restarts the set too
    SetDate(2026, 4, 7);
    pool_->MarkUsed("erin");
    EXPECT_EQ(2, pool_->DayUsedCount());  // dave still holds his, erin is new
    EXPECT_EQ(-1, pool_->MarkUsed(nullptr));
    EXPECT_EQ(-1, pool_->UnmarkUsed(nullptr));
}

TEST_F(RelayPoolTest, StateLineIsReportedToTheLog)
{
    Load(kList);
    pool_->TakeIdleAccount("R2");
    char line[1024];
    int length = pool_->ReportState(line, sizeof(line));
    std::string expected =
        "Realy_account state:DAY_MAX_USER:0   RELAY_ACCOUNT_DAY_MAX_USE:1    RELAY_ACCOUNT_SUM:2   LEFT:1";
    EXPECT_EQ(expected + "\n", line);
    EXPECT_EQ(static_cast<int>(expected.size()) + 1, length);
    std::string log = LogText();
    EXPECT_NE(std::string::npos, log.find("[info] " + expected + "\n")) << log;
    char small[16];
    EXPECT_EQ(-1, pool_->FormatStateLine(small, sizeof(small)));
    EXPECT_EQ(-1, pool_->FormatStateLine(nullptr, 10));
}

TEST_F(RelayPoolTest, MountNamesAreCopiedWithinTheCallersRoom)
{
    Load(kList);
    char names[1][RELAY_NAME_SIZE];
    int count = 0;
    EXPECT_EQ(0, pool_->ListMountNames(names, 1, &count));
    EXPECT_EQ(1, count);
    EXPECT_STREQ("R1", names[0]);
    EXPECT_EQ(2, pool_->MountNameCount());
}
