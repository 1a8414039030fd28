// A relay rover's positions on the rover worker's side: the first one takes
// an idle account and starts the rover's own relay, later ones re-check the
// user with the authentication centre every 600 s; and the source table of
// relay mounts. The network server never runs: the relay start it is asked
// for stays in its queue, where the test reads the relay context.
#include "caster/BindingFixture.h"
#include "caster/relay/AuthCentre.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayAllocation.h"
#include "caster/relay/RelayClient.h"
#include "caster/session/SourceTableAnswer.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "support/FakeAuthCentre.h"
#include "support/TestClient.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

namespace {

const char* const kTwoSentences =
    "$GPGGA,023042.00,3907.3836,N,12102.4768,W,1,10,1.0,20.0,M,0.0,M,,*4F\r\n"
    "$GPGGA,023043.00,3907.3836,N,12102.4768,W,1,10,1.0,20.0,M,0.0,M,,*4E\r\n";

class RelayAllocationTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        AuthCentre::GlobalInit();
        pool.reset(RelayAccountList::Create());
        ASSERT_EQ(0, pool->AddRelayMount("SHARED", "127.0.0.1", 2101, "UP"));
        for (const char* credentials : {"acc1:pw1", "acc2:pw2"}) {
            RelayAccount* account = pool->AddAccount(credentials);
            ASSERT_NE(nullptr, account);
            ASSERT_EQ(0, pool->AttachAccount("SHARED", account));
        }
        memset(&centre, 0, sizeof(centre));
        strcpy(gga.rawSentence, kTwoSentences);
    }
    void TearDown() override
    {
        for (RelayContext* context : started) RelayContext_Free(context);
        BindingTest::TearDown();
    }

    RoverRecord* AddRelayRover(const char* user, uint64_t channel)
    {
        RoverRecord* rover = AddRover(user, "SHARED", channel, ROVER_BIND_RELAY);
        snprintf(rover->password, sizeof(rover->password), "secret");
        return rover;
    }

    // The relay starts posted since the last call (their contexts are the
    // test's to free), then the other commands.
    std::vector<RelayContext*> Started(std::vector<Posted>* others = nullptr)
    {
        struct Seen {
            std::vector<RelayContext*> starts;
            std::vector<Posted> rest;
        } seen;
        NHServer_TakeQueuedCommands(
            server,
            [](DecodingEvent* e, void* context) {
                Seen* s = static_cast<Seen*>(context);
                if (e->kind == DECODING_EVENT_CALL) {
                    s->starts.push_back(static_cast<RelayContext*>(e->callArg));
                } else {
                    s->rest.push_back({e->kind, e->channelID, e->subscriberID});
                }
            },
            &seen);
        std::vector<RelayContext*> out = seen.starts;
        if (others) others->insert(others->end(), seen.rest.begin(), seen.rest.end());
        started.insert(started.end(), out.begin(), out.end());
        return out;
    }

    bool Position(uint64_t channel, int64_t now = 0)
    {
        return Ntrip::RelayAllocation_OnPosition(scope, pool.get(), &centre, gga, channel,
                                                 now ? now : static_cast<int64_t>(time(nullptr)));
    }

    std::unique_ptr<RelayAccountList> pool;
    AuthCentreConfig centre;
    NEMADecoding::NEMA_GPGGA gga;
    std::vector<RelayContext*> started;
};

TEST_F(RelayAllocationTest, TwoRoversTakeTwoAccountsAndTheThirdIsClosed)
{
    // A channel above 2^32: the relay name carries its low 32 bits.
    const uint64_t first = (uint64_t{1} << 32) + 5;
    RoverRecord* one = AddRelayRover("alice", first);
    AddRelayRover("bob", 7);
    AddRelayRover("carol", 9);

    EXPECT_TRUE(Position(first));
    std::vector<RelayContext*> a = Started();
    ASSERT_EQ(1u, a.size());
    EXPECT_STREQ("SHARED-5", a[0]->name);
    EXPECT_STREQ("alice", a[0]->account);
    EXPECT_EQ(first, a[0]->roverChannelID);
    EXPECT_STREQ("acc1:pw1", a[0]->request->credentials);
    EXPECT_STREQ("YWNjMTpwdzE=", a[0]->request->credentialsBase64);
    EXPECT_EQ("UP", std::string(a[0]->request->upstreamMount));
    // Only the first sentence, with its line end, and no padding.
    std::string firstSentence(kTwoSentences, strchr(kTwoSentences, '\n') + 1 - kTwoSentences);
    EXPECT_EQ(firstSentence, std::string(a[0]->firstMessage, a[0]->firstMessageLength));
    one = rovers->Find(first);
    EXPECT_EQ(1, one->relayFlag);
    EXPECT_STREQ("SHARED-5", one->mountPoint);
    EXPECT_EQ(1, pool->IdleAccounts());

    EXPECT_TRUE(Position(7));
    std::vector<RelayContext*> b = Started();
    ASSERT_EQ(1u, b.size());
    EXPECT_STREQ("SHARED-7", b[0]->name);
    EXPECT_STREQ("acc2:pw2", b[0]->request->credentials);
    EXPECT_NE(a[0]->request->account, b[0]->request->account);
    EXPECT_EQ(0, pool->IdleAccounts());
    EXPECT_EQ(2, pool->DayUsedCount());

    std::vector<Posted> posted;
    EXPECT_FALSE(Position(9));
    EXPECT_TRUE(Started(&posted).empty());
    EXPECT_EQ((std::vector<Posted>{Close(9)}), posted);
    RoverRecord* three = rovers->Find(9);
    EXPECT_EQ(0, three->relayFlag);
    EXPECT_STREQ("SHARED", three->mountPoint);
    EXPECT_EQ(0, pool->IdleAccounts());

    // The next position of a rover with a relay starts nothing more.
    EXPECT_TRUE(Position(first));
    EXPECT_TRUE(Started(&posted).empty());
    EXPECT_EQ(1u, posted.size());
}

TEST_F(RelayAllocationTest, AnAccountGivenBackServesTheNextRover)
{
    AddRelayRover("alice", 3);
    AddRelayRover("bob", 4);
    AddRelayRover("carol", 6);
    EXPECT_TRUE(Position(3));
    EXPECT_TRUE(Position(4));
    std::vector<RelayContext*> both = Started();
    ASSERT_EQ(2u, both.size());
    ASSERT_EQ(0, pool->ReleaseAccount(both[0]->request->account));
    EXPECT_TRUE(Position(6));
    std::vector<RelayContext*> next = Started();
    ASSERT_EQ(1u, next.size());
    EXPECT_EQ(both[0]->request->account, next[0]->request->account);
}

TEST_F(RelayAllocationTest, ARoverOfAMountThePoolDoesNotKnowGetsNothing)
{
    RoverRecord* rover = AddRover("alice", "ELSEWHERE", 3, ROVER_BIND_RELAY);
    EXPECT_TRUE(Position(3));
    std::vector<Posted> posted;
    EXPECT_TRUE(Started(&posted).empty());
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(0, rover->relayFlag);
    EXPECT_FALSE(Position(99));  // no such rover
}

// A rover with its relay running, last checked at `checked`.
struct RecheckCase {
    const char* what;
    int status;
    const char* body;
    int64_t sinceCheck;
    bool asked;
    bool closed;
};

TEST_F(RelayAllocationTest, TheUserIsCheckedAgainEvery600SecondsAndClosedUnlessTheCentreSaysZero)
{
    const RecheckCase cases[] = {
        {"not due yet", 200, "{\"code\":0}", 599, false, false},
        {"due, accepted", 200, "{\"code\":0}", 600, true, false},
        {"due, wrong password", 200, "{\"code\":1}", 601, true, true},
        {"due, other code", 200, "{\"code\":7}", 900, true, true},
        {"due, not JSON", 200, "yes", 900, true, true},
        {"due, HTTP error", 500, "{\"code\":0}", 900, true, true},
        {"due, string code", 200, "{\"code\":\"0\"}", 900, true, true},
    };
    const int64_t now = 1700000000;
    for (const RecheckCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeAuthCentre::Answer answer;
        answer.status = c.status;
        answer.body = c.body;
        FakeAuthCentre fake(answer);
        snprintf(centre.url, sizeof(centre.url), "%s", fake.Url().c_str());
        centre.enabled = 1;
        // The account's second rover: the centre is asked about the account.
        RoverRecord* rover = AddRelayRover("alice~2", 11);
        snprintf(rover->userKey, sizeof(rover->userKey), "alice");
        rover->relayFlag = 1;
        rover->lastRecheckTime = now - c.sinceCheck;

        EXPECT_TRUE(Position(11, now));
        std::vector<Posted> posted;
        EXPECT_TRUE(Started(&posted).empty());
        EXPECT_EQ(c.asked ? 1u : 0u, fake.RequestCount());
        EXPECT_EQ(c.closed, posted == std::vector<Posted>{Close(11)}) << ::testing::PrintToString(posted);
        if (!c.closed) {
            EXPECT_TRUE(posted.empty());
        }
        rover = rovers->Find(11);
        EXPECT_EQ(c.asked ? now : now - c.sinceCheck, rover->lastRecheckTime);
        if (c.asked) {
            std::string body = FakeAuthCentre::BodyOf(fake.Requests()[0]);
            EXPECT_NE(std::string::npos, body.find("\"name\":\"alice\"")) << body;
            EXPECT_NE(std::string::npos, body.find("\"password\":\"secret\"")) << body;
            EXPECT_NE(std::string::npos, body.find("\"node\":\"1\"")) << body;
            // Checked once per interval, not at every sentence.
            EXPECT_TRUE(Position(11, now + 1));
            EXPECT_EQ(1u, fake.RequestCount());
            Taken();
        }
        rovers->Remove(11);
    }
}

TEST_F(RelayAllocationTest, WithoutACentreNoRoverIsEverClosedByTheRecheck)
{
    FakeAuthCentre fake(FakeAuthCentre::Answer{});
    snprintf(centre.url, sizeof(centre.url), "%s", fake.Url().c_str());
    centre.enabled = 0;
    RoverRecord* rover = AddRelayRover("alice", 11);
    rover->relayFlag = 1;
    rover->lastRecheckTime = 1;
    EXPECT_TRUE(Position(11));
    std::vector<Posted> posted;
    Started(&posted);
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(0u, fake.RequestCount());
    EXPECT_EQ(1, rovers->Find(11)->lastRecheckTime);
}

TEST_F(RelayAllocationTest, AnUnreachableCentreClosesTheRoverAtItsRecheck)
{
    // Bound and never listened on: refused, and no other program can take it meanwhile.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len));
    snprintf(centre.url, sizeof(centre.url), "http://127.0.0.1:%d/auth", ntohs(addr.sin_port));
    centre.enabled = 1;
    RoverRecord* rover = AddRelayRover("alice", 11);
    rover->relayFlag = 1;
    rover->lastRecheckTime = 1;
    EXPECT_TRUE(Position(11));
    std::vector<Posted> posted;
    Started(&posted);
    EXPECT_EQ((std::vector<Posted>{Close(11)}), posted);
    close(fd);
}

TEST(RelaySourceTable, ListsTheRelayMountsSortedAndNoSystemMount)
{
    std::unique_ptr<RelayAccountList> pool(RelayAccountList::Create());
    ASSERT_EQ(0, pool->AddRelayMount("ZETA", "127.0.0.1", 2101, "Z"));
    ASSERT_EQ(0, pool->AddRelayMount("ALPHA", "127.0.0.1", 2101, "A"));
    ASSERT_EQ(0, pool->AddSystemMount("SYS", "127.0.0.1", 2101, "S", "u:p"));
    CommonDataChain* chain = Ntrip::BuildRelaySourceTable(pool.get());
    ASSERT_NE(nullptr, chain);
    std::string table;
    for (const CommonDataChain* block = chain; block; block = block->next) {
        table.append(reinterpret_cast<const char*>(block->data), block->len);
    }
    CommonDataChain_Free(chain);

    auto line = [](const std::string& name) {
        return "STR;" + name + ";" + name + ";" + name +
               ";1(1),3(10),18(1),19(1);2;GNSS;RVZ;CHN;0.00;0.00;1;1;RVZ;none;B;N;9600;\r\n";
    };
    std::string body = line("ALPHA") + line("ZETA");
    std::regex shape("SOURCETABLE 200 OK\r\nServer: XQN\\+Vorlane/2023\r\n"
                     "Date: \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\r\n"
                     "Content-Type: text/plain\r\nContent-Length: (\\d+)\r\n\r\n");
    std::smatch head;
    ASSERT_TRUE(std::regex_search(table, head, shape, std::regex_constants::match_continuous)) << table;
    EXPECT_EQ(std::to_string(body.size()), head[1].str());
    EXPECT_EQ(body + "ENDSOURCETABLE\r\n\r\n", table.substr(static_cast<size_t>(head.length(0))));

    std::unique_ptr<RelayAccountList> empty(RelayAccountList::Create());
    chain = Ntrip::BuildRelaySourceTable(empty.get());
    std::string none(reinterpret_cast<const char*>(chain->data), chain->len);
    CommonDataChain_Free(chain);
    EXPECT_NE(std::string::npos, none.find("Content-Length: 0\r\n\r\nENDSOURCETABLE\r\n\r\n"));
}

}  // namespace
