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

// The upstream's stream as its bytes go: chunk-framed (in pieces of
// several sizes, one with an extension, one size in upper-case hex) or as
// they are.
std::string Framed(const std::string& data, bool chunked)
{
    if (!chunked) return data;
    std::string out = FakeUpstream::Chunk(data.substr(0, 1));
    out += FakeUpstream::Chunk(data.substr(1, 60), ";seq=2;note=\"a b\"");
    out += FakeUpstream::Chunk(data.substr(61, 200), "", true);
    if (data.size() > 261) out += FakeUpstream::Chunk(data.substr(261), " ;x");
    return out;
}

// The frame an upstream sends in its reply's segment, one per case.
std::string FirstFrame(size_t caseIndex)
{
    return GnssFrames::RtcmFiller(1074, 150, static_cast<uint32_t>(10 + caseIndex));
}

// An upstream's reply, the stream's first frames in the reply's own segment
// and more stream after it: the relay's rover receives the stream byte for
// byte, and not a byte of the reply (its status line, header lines, empty
// line) or of the chunk framing, however the reply is cut. A chunked stream
// ends at its last chunk, which ends the relay and closes the rover.
TEST_F(RoverRelayTest, TheRoverGetsExactlyTheUpstreamsStream)
{
    struct Case {
        const char* story;
        std::string reply;  // status line, header lines, empty line
        bool chunked;       // the stream goes in chunks
        bool byteAtATime;   // the reply and the first frames
    };
    const std::string ntrip2 = "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nContent-Type: gnss/data\r\n";
    const std::vector<Case> cases = {
        {"ICY and its empty line", "ICY 200 OK\r\n\r\n", false, false},
        {"ICY without an empty line", "ICY 200 OK\r\n", false, false},
        {"ICY and its empty line, a byte at a time", "ICY 200 OK\r\n\r\n", false, true},
        {"ICY without an empty line, a byte at a time", "ICY 200 OK\r\n", false, true},
        {"NTRIP 2.0 header lines, a byte at a time", ntrip2 + "Cache-Control: no-store\r\n\r\n", false, true},
        {"chunked", ntrip2 + "Transfer-Encoding: chunked\r\n\r\n", true, false},
        {"chunked, named in other cases, a byte at a time", ntrip2 + "transfer-encoding:  CHUNKED \r\n\r\n", true,
         true},
    };
    std::vector<std::unique_ptr<FakeUpstream>> upstreams;
    std::string list;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string n = std::to_string(i);
        FakeUpstream::Behaviour answer;
        answer.reply = cases[i].reply + Framed(FirstFrame(i), cases[i].chunked);
        answer.bytePauseMs = cases[i].byteAtATime ? 2 : 0;
        upstreams.emplace_back(new FakeUpstream(answer));
        list += SharedLine("M" + n, upstreams.back()->Port(), "UP", "acc" + n + ":pw" + n);
        ASSERT_TRUE(AddRover("user" + n));
    }
    ASSERT_TRUE(WriteRelayList(list));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.story);
        const std::string n = std::to_string(i);
        TestClient rover;
        std::string reply;
        ASSERT_TRUE(LoginRover(&rover, "M" + n, "user" + n, &reply)) << Printable(reply);
        std::string gga = GgaLine(39.1, -121.0);
        ASSERT_TRUE(rover.Send(gga));
        std::shared_ptr<FakeUpstream::Conn> conn = upstreams[i]->WaitConnection(0, 5000);
        ASSERT_TRUE(conn);
        std::string first = FirstFrame(i);
        std::string later = GnssFrames::RtcmFeed(3000, static_cast<uint32_t>(20 + i));
        conn->Send(Framed(later, c.chunked) + (c.chunked ? FakeUpstream::Chunk("") + "\r\n" : ""));

        std::string want = first + later;
        std::string got = rover.ReadExactly(want.size(), 8000);
        EXPECT_EQ(want, got) << FirstDifference(got, want) << " " << Printable(got.substr(0, 40));
        if (c.chunked) {
            EXPECT_TRUE(rover.WaitClosed(3000)) << "the relay outlived its stream's last chunk";
            EXPECT_TRUE(conn->WaitEnded());
        } else {
            EXPECT_TRUE(RawPeers::StaysQuiet(&rover, 300));
        }
        EXPECT_TRUE(conn->WaitFor(gga)) << Printable(conn->Received());
    }
}

// A reply the relay cannot take whole is a refusal: a header past 8 KiB
// (one 2 MB line, or many short ones) or a transfer coding other than
// chunked. The rover receives not a byte and is closed, and the account is
// free again.
TEST_F(RoverRelayTest, RepliesPast8KiBOrOfAnotherCodingAreRefused)
{
    std::string manyLines;
    for (int i = 0; i < 100; ++i) manyLines += "X-Line-" + std::to_string(i) + ": " + std::string(80, 'v') + "\r\n";
    const std::string stream = GnssFrames::RtcmFeed(2000, 3);
    struct Case {
        const char* story;
        std::string reply;
    } cases[] = {
        {"a 2 MB header line", "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(2 << 20, 'p') + "\r\n\r\n"},
        {"header lines past 8 KiB", "HTTP/1.1 200 OK\r\n" + manyLines + "\r\n"},
        {"gzip before chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"},
    };
    std::vector<std::unique_ptr<FakeUpstream>> upstreams;
    std::string list;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const std::string n = std::to_string(i);
        FakeUpstream::Behaviour answer;
        answer.reply = cases[i].reply + stream;
        upstreams.emplace_back(new FakeUpstream(answer));
        list += SharedLine("M" + n, upstreams.back()->Port(), "UP", "acc" + n + ":pw" + n);
        ASSERT_TRUE(AddRover("user" + n));
    }
    ASSERT_TRUE(WriteRelayList(list));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    for (size_t i = 0; i < upstreams.size(); ++i) {
        SCOPED_TRACE(cases[i].story);
        const std::string n = std::to_string(i);
        TestClient rover;
        ASSERT_TRUE(LoginRover(&rover, "M" + n, "user" + n));
        ASSERT_TRUE(rover.Send(GgaLine(39.1, -121.0)));
        bool closed = false;
        std::string got = rover.ReadUntilEof(5000, &closed);
        EXPECT_TRUE(closed) << "the refused relay's rover stayed connected";
        EXPECT_EQ("", got) << Printable(got);
        std::shared_ptr<FakeUpstream::Conn> conn = upstreams[i]->WaitConnection(0);
        ASSERT_TRUE(conn);
        EXPECT_TRUE(conn->WaitEnded(5000));
        EXPECT_TRUE(WaitCount("account\tis useful : acc" + n + "\n", 1, 3000));
    }
    EXPECT_EQ(static_cast<int>(upstreams.size()), vorlane.CountInLogAtLeast("Ntrip verify failed", 3));
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
