// Shared relay mounts of "RelayAccount.list": a rover that asks for one gets
// its own relay to the upstream caster, with an account of the pool, at its
// first position; the account is in use while that relay lives and idle
// again after it, whichever side ends it.
#include "blackbox/RelayFixture.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kAccount1 = "acc1:pw1";
const char* const kAccount2 = "acc2:pw2";
// The line of an account given back: it names the account's user alone.
const std::string kAccount1Released = "account\tis useful : acc1\n";

class RoverRelayTest : public RelayTest {
protected:
    // The relay of the index-th upstream connection: its request names the
    // account, and the rover's first sentence follows it, alone.
    std::shared_ptr<FakeUpstream::Conn> ExpectRelay(FakeUpstream& upstream, size_t index, const std::string& account,
                                                    const std::string& firstSentence)
    {
        std::shared_ptr<FakeUpstream::Conn> conn = upstream.WaitConnection(index, 5000);
        EXPECT_TRUE(conn) << "no relay " << index;
        if (!conn) return nullptr;
        std::string want = RelayRequest("UP", account) + firstSentence;
        EXPECT_TRUE(conn->WaitFor(want)) << Printable(conn->Received());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(want, conn->Received()) << Printable(conn->Received());
        return conn;
    }
};

// Two rovers on one shared mount take the mount's two accounts, one relay
// each; each rover's positions reach its own upstream connection and each
// receives its own upstream's stream byte for byte. A third rover finds no
// idle account and is closed at its first position; once the first rover has
// left, its account serves a new rover.
TEST_F(RoverRelayTest, TwoRoversTakeTwoAccountsAndAThirdIsClosed)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", upstream.Port(), "UP", kAccount1) +
                               SharedLine("SHARED", upstream.Port(), "UP", kAccount2)));
    for (const char* user : {"alice", "bob", "carol", "dave"}) ASSERT_TRUE(AddRover(user));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    EXPECT_TRUE(vorlane.WaitForLog("RELAY_ACCOUNT_SUM:2   LEFT:2"));

    TestClient alice, bob;
    std::string reply;
    ASSERT_TRUE(LoginRover(&alice, "SHARED", "alice", &reply)) << Printable(reply);
    ASSERT_TRUE(LoginRover(&bob, "SHARED", "bob", &reply)) << Printable(reply);
    // A sentence that comes in two pieces with another behind it: only the
    // first whole sentence goes first.
    std::string aliceFirst = GgaLine(39.10, -121.00);
    std::string aliceNext = GgaLine(39.11, -121.01);
    ASSERT_TRUE(alice.Send(aliceFirst + aliceNext));
    std::shared_ptr<FakeUpstream::Conn> a = ExpectRelay(upstream, 0, kAccount1, aliceFirst);
    ASSERT_TRUE(a);
    std::string bobFirst = GgaLine(39.20, -121.10);
    ASSERT_TRUE(bob.Send(bobFirst));
    std::shared_ptr<FakeUpstream::Conn> b = ExpectRelay(upstream, 1, kAccount2, bobFirst);
    ASSERT_TRUE(b);
    EXPECT_TRUE(vorlane.WaitForLog("RELAY_ACCOUNT_SUM:2   LEFT:0"));
    // Two relay bases, named by the mount and each rover's channel.
    EXPECT_TRUE(WaitCount("Base login ok:SHARED-", 2, 3000));
    EXPECT_EQ(2, vorlane.CountInLogAtLeast("set one relay mode", 2));

    // Later positions go on to the rover's own upstream.
    std::string aliceLater = GgaLine(39.12, -121.02);
    ASSERT_TRUE(alice.Send(aliceLater));
    EXPECT_TRUE(a->WaitFor(aliceLater)) << Printable(a->Received());
    EXPECT_EQ(std::string::npos, b->Received().find(aliceLater));

    std::string feedA = GnssFrames::RtcmFeed(12000, 1);
    std::string feedB = GnssFrames::RtcmFeed(12000, 2);
    for (size_t at = 0; at < feedA.size(); at += 1500) {
        a->Send(feedA.substr(at, 1500));
        b->Send(feedB.substr(at, 1500));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string gotA = alice.ReadExactly(feedA.size(), 5000);
    std::string gotB = bob.ReadExactly(feedB.size(), 5000);
    EXPECT_EQ(feedA, gotA) << FirstDifference(gotA, feedA);
    EXPECT_EQ(feedB, gotB) << FirstDifference(gotB, feedB);

    TestClient carol;
    ASSERT_TRUE(LoginRover(&carol, "SHARED", "carol", &reply)) << Printable(reply);
    ASSERT_TRUE(carol.Send(GgaLine(39.30, -121.20)));
    EXPECT_TRUE(carol.WaitClosed(3000)) << "a rover without an account stayed connected";
    EXPECT_TRUE(vorlane.WaitForLog("Relay_Mount:SHARED  no idle account"));
    EXPECT_EQ(2u, upstream.ConnectionCount());

    alice.Close();
    EXPECT_TRUE(a->WaitEnded()) << "the relay outlived its rover";
    ASSERT_TRUE(WaitCount(kAccount1Released, 1, 3000));
    TestClient dave;
    ASSERT_TRUE(LoginRover(&dave, "SHARED", "dave", &reply)) << Printable(reply);
    std::string daveFirst = GgaLine(39.40, -121.30);
    ASSERT_TRUE(dave.Send(daveFirst));
    ASSERT_TRUE(ExpectRelay(upstream, 2, kAccount1, daveFirst));
    EXPECT_FALSE(b->WaitEnded(200));
}

// An upstream that refuses a rover's relay: the rover is closed and the
// account serves the next rover.
TEST_F(RoverRelayTest, RefusedRelayClosesItsRoverAndFreesTheAccount)
{
    FakeUpstream::Behaviour refuse("HTTP/1.0 401 Unauthorized\r\n\r\n");
    refuse.closeAfterReply = true;
    FakeUpstream upstream(refuse);
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", upstream.Port(), "UP", kAccount1)));
    for (const char* user : {"alice", "bob"}) ASSERT_TRUE(AddRover(user));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    for (const char* user : {"alice", "bob"}) {
        SCOPED_TRACE(user);
        TestClient rover;
        std::string reply;
        ASSERT_TRUE(LoginRover(&rover, "SHARED", user, &reply)) << Printable(reply);
        ASSERT_TRUE(rover.Send(GgaLine(39.1, -121.0)));
        EXPECT_TRUE(rover.WaitClosed(3000)) << "the refused relay's rover stayed connected";
    }
    EXPECT_EQ(2u, upstream.ConnectionCount());
    EXPECT_EQ(0, vorlane.CountInLog("no idle account"));
    EXPECT_TRUE(WaitCount(kAccount1Released, 2, 3000));
}

// A rover that leaves while its relay waits for the upstream's answer: once
// the upstream accepts, the relay is shut down, and the account is idle.
TEST_F(RoverRelayTest, RoverGoneBeforeTheUpstreamAnswersEndsItsRelay)
{
    FakeUpstream::Behaviour slow("ICY");
    slow.replyRest = " 200 OK\r\n\r\n";
    slow.delayMs = 1500;
    FakeUpstream upstream(slow);
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", upstream.Port(), "UP", kAccount1)));
    for (const char* user : {"alice", "bob"}) ASSERT_TRUE(AddRover(user));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient alice;
    ASSERT_TRUE(LoginRover(&alice, "SHARED", "alice"));
    ASSERT_TRUE(alice.Send(GgaLine(39.1, -121.0)));
    std::shared_ptr<FakeUpstream::Conn> first = upstream.WaitConnection(0);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->WaitFor("\r\n\r\n"));
    alice.Close();
    EXPECT_TRUE(first->WaitEnded(5000)) << "the relay of a rover that left stayed up";
    ASSERT_TRUE(WaitCount(kAccount1Released, 1, 3000));

    TestClient bob;
    ASSERT_TRUE(LoginRover(&bob, "SHARED", "bob"));
    ASSERT_TRUE(bob.Send(GgaLine(39.1, -121.0)));
    ASSERT_TRUE(upstream.WaitConnection(1, 5000)) << "the account was not given back";
}

// With relay mounts configured, the source table lists them, and no base.
TEST_F(RoverRelayTest, SourceTableListsTheRelayMounts)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_TRUE(WriteRelayList(SharedLine("ZEBRA", 2101, "Z", kAccount1) + SharedLine("APPLE", 2101, "A", kAccount2) +
                               SystemLine("SYSTEM1", RefusedPort(), "S", "s:s")));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "STATION1", "any"));
    bool closed = false;
    std::string table = RawPeers::FetchSourceTable(Port(), "", &closed);
    EXPECT_TRUE(closed);
    std::string body = NtripTexts::StrLine("APPLE") + NtripTexts::StrLine("ZEBRA");
    std::string head = "SOURCETABLE 200 OK\r\nServer: XQN+Vorlane/2023\r\nDate: ";
    ASSERT_EQ(head, table.substr(0, head.size())) << Printable(table);
    std::string date = NtripTexts::TableDate(table);
    EXPECT_EQ(19u, date.size());
    EXPECT_EQ('-', date[4]);
    EXPECT_EQ('-', date[7]);
    EXPECT_EQ(head + date + "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\n\r\n" + body + NtripTexts::kTableEnd,
              table);
}

}  // namespace
