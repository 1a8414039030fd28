// A relay rover's positions on the rover worker's side: the first one takes
// an idle account and starts the rover's own relay, later ones re-check the
// user with the authentication centre every 600 s of the steady clock, asked
// on the centre's own threads; and the source table of relay mounts. The
// network server never runs: the relay start and the closes it is asked for
// stay in its queue, where the test reads them.
#include "caster/BindingFixture.h"
#include "caster/relay/HeldCentreQueue.h"
#include "caster/relay/AuthCentre.h"
#include "caster/relay/AuthCentreQueue.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayAllocation.h"
#include "caster/relay/RelayClient.h"
#include "caster/session/RoverData.h"
#include "caster/session/SourceTableAnswer.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "platform/SteadyClock.h"
#include "support/FakeAuthCentre.h"
#include "support/HeldPort.h"
#include "support/TestClient.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
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
        // An answer may still be posting to the server the fixture frees.
        locks.reset();
        EXPECT_TRUE(CentreThreadsIdle());
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

    bool Position(uint64_t channel, int64_t nowMs = 0)
    {
        return Ntrip::RelayAllocation_OnPosition(scope, pool.get(), &centre, gga, channel,
                                                 nowMs ? nowMs : Platform_SteadyNowMs());
    }

    // Waits (bounded) until the centre's answer to the rover's check has come
    // back and its handling is over: the mark is cleared before the close is
    // posted. The fixture holds the registries, and the answer takes the
    // rover lock on the centre's thread: it is let go meanwhile.
    bool WaitAnswered(uint64_t channel, int timeoutMs = 20000)
    {
        locks.reset();
        bool answered = WaitFor([&] {
            RoverTable::Guard guard;
            RoverRecord* rover = rovers->Find(channel);
            return !rover || rover->recheckAsking == 0;
        }, timeoutMs, 5);
        answered = CentreThreadsIdle(timeoutMs) && answered;
        locks.reset(new RegistriesGuard);
        return answered;
    }

    // True once every thread of the centre's queue has finished what it ran
    // before: each takes one of these asks (no centre: answered at once) and
    // holds it until all are taken, so none is still inside an earlier
    // answer. No registry may be held: an answer takes them.
    static bool CentreThreadsIdle(int timeoutMs = 20000)
    {
        struct Barrier {
            std::mutex mutex;
            std::condition_variable arrivedMore;
            int arrived = 0;
        };
        auto barrier = std::make_shared<Barrier>();
        auto all = [barrier] { return barrier->arrived >= AUTH_CENTRE_QUEUE_THREADS; };
        for (int i = 0; i < AUTH_CENTRE_QUEUE_THREADS; ++i) {
            AuthCentreQueue_Ask(nullptr, "", "", "", nullptr, [barrier, all, timeoutMs](AuthCentreOutcome, int) {
                std::unique_lock<std::mutex> lock(barrier->mutex);
                ++barrier->arrived;
                barrier->arrivedMore.notify_all();
                barrier->arrivedMore.wait_for(lock, std::chrono::milliseconds(timeoutMs), all);
            });
        }
        std::unique_lock<std::mutex> lock(barrier->mutex);
        return barrier->arrivedMore.wait_for(lock, std::chrono::milliseconds(timeoutMs), all);
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

// A rover with its relay running, last checked sinceCheckMs ago.
struct RecheckCase {
    const char* what;
    int status;
    const char* body;
    int64_t sinceCheckMs;
    bool asked;
    bool closed;
};

TEST_F(RelayAllocationTest, TheUserIsCheckedAgainEvery600SecondsAndClosedUnlessTheCentreSaysZero)
{
    const RecheckCase cases[] = {
        {"not due yet", 200, "{\"code\":0}", 599999, false, false},
        {"due, accepted", 200, "{\"code\":0}", 600000, true, false},
        {"due, wrong password", 200, "{\"code\":1}", 601000, true, true},
        {"due, other code", 200, "{\"code\":7}", 900000, true, true},
        {"due, not JSON", 200, "yes", 900000, true, true},
        {"due, HTTP error", 500, "{\"code\":0}", 900000, true, true},
        {"due, string code", 200, "{\"code\":\"0\"}", 900000, true, true},
    };
    const int64_t nowMs = 5000000000;
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
        rover->lastRecheckMs = nowMs - c.sinceCheckMs;

        EXPECT_TRUE(Position(11, nowMs));
        EXPECT_TRUE(WaitAnswered(11));
        std::vector<Posted> posted;
        EXPECT_TRUE(Started(&posted).empty());
        EXPECT_EQ(c.asked ? 1u : 0u, fake.RequestCount());
        EXPECT_EQ(c.closed, posted == std::vector<Posted>{Close(11)}) << ::testing::PrintToString(posted);
        if (!c.closed) {
            EXPECT_TRUE(posted.empty());
        }
        rover = rovers->Find(11);
        EXPECT_EQ(c.asked ? nowMs : nowMs - c.sinceCheckMs, rover->lastRecheckMs);
        if (c.asked) {
            std::string body = FakeAuthCentre::BodyOf(fake.Requests()[0]);
            EXPECT_NE(std::string::npos, body.find("\"name\":\"alice\"")) << body;
            EXPECT_NE(std::string::npos, body.find("\"password\":\"secret\"")) << body;
            EXPECT_NE(std::string::npos, body.find("\"node\":\"1\"")) << body;
            // Checked once per interval, not at every sentence.
            EXPECT_TRUE(Position(11, nowMs + 1000));
            EXPECT_TRUE(WaitAnswered(11));
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
    rover->lastRecheckMs = 1;
    EXPECT_TRUE(Position(11));
    std::vector<Posted> posted;
    Started(&posted);
    EXPECT_TRUE(posted.empty());
    EXPECT_EQ(0u, fake.RequestCount());
    EXPECT_EQ(1, rovers->Find(11)->lastRecheckMs);
}

TEST_F(RelayAllocationTest, AnUnreachableCentreClosesTheRoverAtItsRecheck)
{
    HeldPort refusing(HeldPort::kRefusing);
    ASSERT_GT(refusing.Port(), 0);
    snprintf(centre.url, sizeof(centre.url), "http://127.0.0.1:%d/auth", refusing.Port());
    centre.enabled = 1;
    RoverRecord* rover = AddRelayRover("alice", 11);
    rover->relayFlag = 1;
    rover->lastRecheckMs = Platform_SteadyNowMs() - Ntrip::RELAY_RECHECK_INTERVAL_MS;
    EXPECT_TRUE(Position(11));
    EXPECT_TRUE(WaitAnswered(11));
    std::vector<Posted> posted;
    Started(&posted);
    EXPECT_EQ((std::vector<Posted>{Close(11)}), posted);
}

// The centre's threads are busy and AUTH_CENTRE_QUEUE_MAX checks wait: a
// due recheck finds no room. That is not the centre's refusal: the rover
// stays, and is asked again RELAY_RECHECK_RETRY_MS later, when the centre
// has room and lets it stay.
TEST_F(RelayAllocationTest, AFullQueueIsNoRefusalTheRoverStaysAndIsAskedAgainLater)
{
    FakeAuthCentre fake(FakeAuthCentre::Answer{});
    snprintf(centre.url, sizeof(centre.url), "%s", fake.Url().c_str());
    centre.enabled = 1;
    const int64_t nowMs = 5000000000;
    const int64_t retryMs = Ntrip::RELAY_RECHECK_RETRY_MS;
    RoverRecord* rover = AddRelayRover("alice", 11);
    rover->relayFlag = 1;
    rover->lastRecheckMs = nowMs - Ntrip::RELAY_RECHECK_INTERVAL_MS;
    HeldCentreQueue held;
    ASSERT_TRUE(held.Hold());
    held.Fill();

    EXPECT_TRUE(Position(11, nowMs));
    EXPECT_TRUE(Taken().empty()) << "the rover is not closed";
    rover = rovers->Find(11);
    ASSERT_NE(nullptr, rover);
    EXPECT_EQ(0, rover->recheckAsking);
    EXPECT_EQ(nowMs - Ntrip::RELAY_RECHECK_INTERVAL_MS + retryMs, rover->lastRecheckMs);
    // Not before the retry is due.
    EXPECT_TRUE(Position(11, nowMs + retryMs - 1));
    EXPECT_EQ(nowMs - Ntrip::RELAY_RECHECK_INTERVAL_MS + retryMs, rovers->Find(11)->lastRecheckMs);

    ASSERT_TRUE(held.Release());
    EXPECT_TRUE(Position(11, nowMs + retryMs));
    EXPECT_TRUE(WaitAnswered(11));
    EXPECT_EQ(1u, fake.RequestCountOf("alice"));
    EXPECT_TRUE(Taken().empty()) << "the centre said 0";
    EXPECT_EQ(nowMs + retryMs, rovers->Find(11)->lastRecheckMs);
}

// Two rechecks wait behind busy threads; alice leaves meanwhile. Her check is
// dropped unasked, bob's is posted.
TEST_F(RelayAllocationTest, ARoverThatLeftBeforeItsTurnIsNotAskedAbout)
{
    FakeAuthCentre fake(FakeAuthCentre::Answer{});
    snprintf(centre.url, sizeof(centre.url), "%s", fake.Url().c_str());
    centre.enabled = 1;
    const int64_t nowMs = 5000000000;
    for (uint64_t channel : {11, 12}) {
        RoverRecord* rover = AddRelayRover(channel == 11 ? "alice" : "bob", channel);
        rover->relayFlag = 1;
        rover->lastRecheckMs = nowMs - Ntrip::RELAY_RECHECK_INTERVAL_MS;
    }
    HeldCentreQueue held;
    ASSERT_TRUE(held.Hold());
    EXPECT_TRUE(Position(11, nowMs));
    EXPECT_TRUE(Position(12, nowMs));
    rovers->Remove(11);

    ASSERT_TRUE(held.Release());
    EXPECT_TRUE(WaitAnswered(12));
    EXPECT_EQ(1u, fake.RequestCountOf("bob"));
    EXPECT_EQ(0u, fake.RequestCountOf("alice"));
    EXPECT_TRUE(Taken().empty());
}

std::atomic<int64_t> g_steadyMs{0};
int64_t SteppedSteady() { return g_steadyMs.load(); }

// The steady clock moves only when the test steps it.
class RelayRecheckClockTest : public RelayAllocationTest {
protected:
    void SetUp() override
    {
        RelayAllocationTest::SetUp();
        g_steadyMs = 7000000;
        Platform_SetSteadyClockSource(SteppedSteady);
    }
    void TearDown() override
    {
        Platform_SetSteadyClockSource(nullptr);
        RelayAllocationTest::TearDown();
    }
    static Tarnek::LogRoot* Gga(double latitude, double longitude)
    {
        NEMADecoding::NEMA_GPGGA* unit = new NEMADecoding::NEMA_GPGGA();
        unit->latitude = latitude;
        unit->longitude = longitude;
        return unit;
    }
};

// A rover worker runs the relay rover's recheck and then another rover's
// position. The centre takes the check and never answers: the worker goes
// on at once, the other rover is bound to its nearest base, and the relay
// rover stays until the centre's answer, a failure here, closes it.
TEST_F(RelayRecheckClockTest, ASilentCentreHoldsNeitherTheWorkerNorAnotherRoversBinding)
{
    FakeAuthCentre::Answer silent;
    silent.silent = true;
    std::unique_ptr<FakeAuthCentre> fake(new FakeAuthCentre(silent));
    snprintf(centre.url, sizeof(centre.url), "%s", fake->Url().c_str());
    centre.enabled = 1;
    AddBase("B1", 31, 30.0, 114.0);
    RoverRecord* relayRover = AddRelayRover("alice", 11);
    relayRover->relayFlag = 1;
    relayRover->lastRecheckMs = Platform_SteadyNowMs();
    AddRover("bob", "NEAREST", 12, ROVER_BIND_NEAREST);
    Taken();

    // 599.999 s on: not yet.
    g_steadyMs += Ntrip::RELAY_RECHECK_INTERVAL_MS - 1;
    EXPECT_TRUE(Position(11, Platform_SteadyNowMs()));
    EXPECT_EQ(0u, fake->RequestCount());
    g_steadyMs += 1;
    EXPECT_TRUE(Position(11, Platform_SteadyNowMs()));
    locks.reset();
    EXPECT_TRUE(fake->WaitRequests(1, 5000)) << "the check reached the centre";
    locks.reset(new RegistriesGuard);

    // The centre holds the check; the worker's next task is another rover.
    Tarnek::LogRoot* unit = Gga(30.001, 114.001);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 12));
    EXPECT_EQ((std::vector<Posted>{Sub(31, 12)}), Taken());
    EXPECT_EQ(31u, rovers->Find(12)->boundChannelID);

    // Another interval on, the check still waits: the rover is not asked again.
    g_steadyMs += Ntrip::RELAY_RECHECK_INTERVAL_MS;
    EXPECT_TRUE(Position(11, Platform_SteadyNowMs()));
    EXPECT_EQ(1u, fake->RequestCount());
    EXPECT_EQ(1, rovers->Find(11)->recheckAsking);
    EXPECT_TRUE(Taken().empty()) << "nobody is closed while the centre is silent";

    // The centre goes without a word: no answer is no accept.
    fake.reset();
    EXPECT_TRUE(WaitAnswered(11));
    EXPECT_EQ((std::vector<Posted>{Close(11)}), Taken());
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
