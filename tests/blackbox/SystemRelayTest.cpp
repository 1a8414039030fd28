// System mounts of "RelayAccount.list": the caster keeps a relay to the
// upstream caster up on its own, serves it as an online base to rovers that
// name the local mount, and after every end of the relay gives the mount's
// account back and starts it again at the next 5000 ms tick.
#include "blackbox/RelayFixture.h"
#include "blackbox/ToolPeers.h"

#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const std::string kCredentials = "sysuser:syspass";
// The line of the account given back: it names the account's user alone.
const std::string kReleased = "account\tis useful : sysuser\n";
const std::string kRequest = "GET /UPMOUNT HTTP/1.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\nAuthorization: Basic "
                             "c3lzdXNlcjpzeXNwYXNz\r\n\r\n";

class SystemRelayTest : public RelayTest {
protected:
    // A caster with one system mount LOCAL relayed from 127.0.0.1:port and the
    // rover account "rover1".
    void StartWithSystemMount(int port, const std::string& host = "127.0.0.1")
    {
        ASSERT_TRUE(WriteRelayList(SystemLine("LOCAL", port, "UPMOUNT", kCredentials, host)));
        ASSERT_TRUE(AddRover("rover1"));
        ASSERT_NO_FATAL_FAILURE(StartCaster());
        started = Clock::now();
    }

    // The index-th relay connection reaches the upstream within a tick and
    // sends exactly the request; ends once it has.
    std::shared_ptr<FakeUpstream::Conn> ExpectRelay(FakeUpstream& upstream, size_t index, int withinMs)
    {
        std::shared_ptr<FakeUpstream::Conn> conn = upstream.WaitConnection(index, withinMs);
        EXPECT_TRUE(conn) << "relay " << index << " never reached the upstream";
        if (!conn) return nullptr;
        EXPECT_TRUE(conn->WaitFor("\r\n\r\n")) << Printable(conn->Received());
        EXPECT_EQ(kRequest, conn->Received()) << Printable(conn->Received());
        return conn;
    }

    Clock::time_point started;
};

// The request of a system relay reaches the upstream within one tick of the
// start, byte for byte and with no terminating NUL; once the upstream says
// "ICY 200 OK" the relay is an online base whose stream a "GET /LOCAL" rover
// receives byte for byte, and the upstream is never sent the keep-alive.
TEST_F(SystemRelayTest, RelayIsAnOnlineBaseServedByteForByte)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    std::shared_ptr<FakeUpstream::Conn> conn = ExpectRelay(upstream, 0, kTickMs + kTickSlackMs);
    ASSERT_TRUE(conn);
    EXPECT_LT(MsSince(started), kTickMs + kTickSlackMs);

    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL")) << "the relay never came online";
    TestClient rover;
    std::string reply;
    ASSERT_TRUE(LoginRover(&rover, "LOCAL", "rover1", &reply)) << Printable(reply);

    std::string feed = GnssFrames::RtcmFeed(30000, 7);
    for (size_t at = 0; at < feed.size(); at += 1000) {
        conn->Send(feed.substr(at, 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string got = rover.ReadExactly(feed.size(), 5000);
    EXPECT_EQ(feed, got) << FirstDifference(got, feed);
    EXPECT_TRUE(RawPeers::StaysQuiet(&rover, 300));

    // Reads of an online base have passed: a station would have had its keep-alive.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(kRequest, conn->Received()) << Printable(conn->Received());
    EXPECT_EQ(1u, upstream.ConnectionCount());
    const std::string loggedIn = "Base login ok:LOCAL, ip:127.0.0.1, port:" + std::to_string(upstream.Port());
    EXPECT_GE(vorlane.CountInLogAtLeast(loggedIn, 1), 1);
}

// A station position (1005) sent in the same segment as "ICY 200 OK" places
// the relay base: a NEAREST rover next to it is bound at its first GGA, and
// from then on receives the relay's stream byte for byte.
TEST_F(SystemRelayTest, APositionSentWithTheReplyPlacesTheRelayBase)
{
    FakeUpstream::Behaviour answer;
    answer.reply = "ICY 200 OK\r\n\r\n" + GnssFrames::Rtcm1005(7, 39.12, -121.04, 20.0);
    FakeUpstream upstream(answer);
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    std::shared_ptr<FakeUpstream::Conn> conn = ExpectRelay(upstream, 0, kTickMs + kTickSlackMs);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));

    TestClient rover;
    std::string reply;
    ASSERT_TRUE(LoginRover(&rover, "NEAREST", "rover1", &reply)) << Printable(reply);
    ASSERT_TRUE(rover.Send(GgaLine(39.1201, -121.0401)));
    // Bound once a frame the upstream sends from now on reaches it.
    const std::string marker = GnssFrames::RtcmFiller(1077, 40, 5);
    std::string got;
    bool bound = WaitFor([&] {
        conn->Send(marker);
        got += rover.ReadAvailable(100);
        return !got.empty();
    }, 5000, 0);
    ASSERT_TRUE(bound) << "the NEAREST rover was never bound to the relay base";

    const std::string feed = GnssFrames::RtcmFeed(6000, 9);
    conn->Send(feed);
    WaitFor([&] {
        got += rover.ReadAvailable(50);
        return got.size() >= feed.size() && got.compare(got.size() - feed.size(), feed.size(), feed) == 0;
    }, 5000, 0);
    std::string want;
    while (want.size() + feed.size() < got.size()) want += marker;
    want += feed;
    EXPECT_EQ(want, got) << FirstDifference(got, want);
}

// An upstream whose 200 reply runs on in a 2 MB header line is refused once
// 8 KiB of it have come: the mount never comes online, the account is given
// back, and the next tick asks again.
TEST_F(SystemRelayTest, AReplyPast8KiBIsRefusedAndAskedAgainAtTheNextTick)
{
    FakeUpstream::Behaviour answer;
    answer.reply =
        "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(2 << 20, 'p') + "\r\n\r\n" + GnssFrames::RtcmFeed(2000, 4);
    FakeUpstream upstream(answer);
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    ASSERT_TRUE(ExpectRelay(upstream, 0, kTickMs + kTickSlackMs));
    ASSERT_TRUE(WaitCount(kReleased, 1, 5000)) << "the refused relay kept its account";
    EXPECT_GE(vorlane.CountInLogAtLeast("Ntrip verify failed", 1), 1);
    EXPECT_TRUE(upstream.WaitConnection(0)->WaitEnded());
    ASSERT_TRUE(ExpectRelay(upstream, 1, kTickMs + kTickSlackMs));
    EXPECT_EQ(std::string::npos, RawPeers::FetchSourceTable(Port()).find(NtripTexts::StrLine("LOCAL")));
}

// The upstream ends an accepted relay: the relay base goes (its rover is
// closed), the account is idle again, and the next tick starts the relay anew.
TEST_F(SystemRelayTest, AcceptedThenClosedByTheUpstreamRestartsAtTheNextTick)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    std::shared_ptr<FakeUpstream::Conn> first = ExpectRelay(upstream, 0, kTickMs + kTickSlackMs);
    ASSERT_TRUE(first);
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));
    TestClient rover;
    ASSERT_TRUE(LoginRover(&rover, "LOCAL", "rover1"));

    first->Close();
    ASSERT_TRUE(first->WaitEnded());
    Clock::time_point ended = Clock::now();
    EXPECT_TRUE(rover.WaitClosed(3000)) << "the relay's rover stayed connected";
    ASSERT_TRUE(WaitCount(kReleased, 1, 3000));
    ASSERT_TRUE(ExpectRelay(upstream, 1, kTickMs + kTickSlackMs));
    EXPECT_LT(MsSince(ended), kTickMs + kTickSlackMs);
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));
    EXPECT_TRUE(vorlane.WaitForLog("Base logout:LOCAL"));
}

// An upstream that refuses the request: every tick tries again, each attempt
// ends with the account idle, and the mount never comes online.
TEST_F(SystemRelayTest, RefusedRelayIsTriedAgainAtEveryTick)
{
    FakeUpstream::Behaviour refuse("HTTP/1.0 401 Unauthorized\r\n\r\n");
    refuse.closeAfterReply = true;
    FakeUpstream upstream(refuse);
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(ExpectRelay(upstream, i, kTickMs + kTickSlackMs)) << i;
    }
    EXPECT_GE(vorlane.CountInLogAtLeast("Ntrip verify failed", 2), 2);
    EXPECT_GE(vorlane.CountInLogAtLeast(kReleased, 2), 2);
    EXPECT_EQ(std::string::npos, RawPeers::FetchSourceTable(Port()).find(NtripTexts::StrLine("LOCAL")));
}

// An upstream that takes the request and never answers: the account stays in
// use while the relay waits, and the relay's time-out gives it back.
TEST_F(SystemRelayTest, SilentUpstreamIsLeftAfterTheTimeOutAndTriedAgain)
{
    FakeUpstream upstream(FakeUpstream::Behaviour{});
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    ASSERT_TRUE(ExpectRelay(upstream, 0, kTickMs + kTickSlackMs));
    Clock::time_point asked = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(kRelayReplyTimeoutMs - 3000));
    EXPECT_EQ(1u, upstream.ConnectionCount()) << "a second relay while the first still held the account";
    std::shared_ptr<FakeUpstream::Conn> first = upstream.WaitConnection(0);
    EXPECT_TRUE(first->WaitEnded(3000 + kTickSlackMs)) << "the silent relay outlived its time-out";
    ASSERT_TRUE(ExpectRelay(upstream, 1, kTickMs + 2 * kTickSlackMs));
    EXPECT_LT(MsSince(asked), kRelayReplyTimeoutMs + kTickMs + 2 * kTickSlackMs);
    EXPECT_GE(vorlane.CountInLogAtLeast("Relay connect timeout , Third Mount:LOCAL", 1), 1);
}

// A relay whose upstream falls silent after its first bytes is closed by the
// base timer like any base, and restarted.
TEST_F(SystemRelayTest, RelayClosedByTheBaseTimerRestarts)
{
    vorlane.SetNtrip("base_offline_time", 2);
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    std::shared_ptr<FakeUpstream::Conn> first = ExpectRelay(upstream, 0, kTickMs + kTickSlackMs);
    ASSERT_TRUE(first);
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));
    first->Send(GnssFrames::RtcmFeed(500, 3));
    EXPECT_TRUE(first->WaitEnded(kTickMs + kTickSlackMs)) << "the silent relay base was never closed";
    EXPECT_TRUE(vorlane.WaitForLog("Base auto offline:LOCAL, timeout."));
    ASSERT_TRUE(ExpectRelay(upstream, 1, 2 * kTickMs + kTickSlackMs));
}

// No caster listens on the upstream port: each tick's attempt fails at once
// and gives the account back for the next one.
TEST_F(SystemRelayTest, UnreachableUpstreamIsTriedAtEveryTick)
{
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(RefusedPort()));
    ASSERT_TRUE(WaitCount("ReStart a realy item ,local mount:LOCAL", 3, 3 * kTickMs + kTickSlackMs));
    EXPECT_GE(vorlane.CountInLogAtLeast("Relay connect failed , Third Mount:LOCAL", 2), 2);
    EXPECT_GE(vorlane.CountInLogAtLeast(kReleased, 2), 2);
}

// A host that does not resolve ends the relay like a refused connection (at
// once here; after the relay's time-out where a name server never answers).
TEST_F(SystemRelayTest, UnresolvableHostIsTriedAgain)
{
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(2101, "nonexistent.invalid"));
    ASSERT_TRUE(WaitCount("ReStart a realy item ,local mount:LOCAL", 2, 2 * kTickMs + kRelayReplyTimeoutMs));
    EXPECT_GE(vorlane.CountInLogAtLeast(kReleased, 1), 1);
}

// An upstream named by a host name without a dot is served like any other.
TEST_F(SystemRelayTest, UpstreamNamedLocalhostComesOnline)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port(), "localhost"));
    ASSERT_TRUE(ExpectRelay(upstream, 0, kTickMs + kTickSlackMs));
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(1u, upstream.ConnectionCount());
}

// A station that logs in on the relay's name takes it over: the relay ends
// and its account is idle; no relay is started while the station holds the
// name, and the relay comes back after the station has left.
TEST_F(SystemRelayTest, StationLoggingInOnTheNameEndsTheRelayUntilItLeaves)
{
    vorlane.SetNtrip("base_login_mode", 1);
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstream.Port()));
    std::shared_ptr<FakeUpstream::Conn> first = ExpectRelay(upstream, 0, kTickMs + kTickSlackMs);
    ASSERT_TRUE(first);
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));

    TestClient station;
    std::string reply;
    ASSERT_TRUE(RawPeers::LoginBase(&station, Port(), "LOCAL", "any", &reply)) << Printable(reply);
    EXPECT_TRUE(first->WaitEnded()) << "the relay outlived the station's login on its name";
    ASSERT_TRUE(WaitCount(kReleased, 1, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs + 1000));
    EXPECT_EQ(1u, upstream.ConnectionCount()) << "a relay was started on a name a station holds";
    // It is a station now, not a relay: its data earns it the keep-alive.
    ASSERT_TRUE(station.Send(std::string("\xd3\x00\x00", 3)));
    std::string keepAlive = station.ReadUntil("XQN200\r\n", 3000);
    EXPECT_NE(std::string::npos, keepAlive.find("XQN200\r\n")) << Printable(keepAlive);

    station.Close();
    ASSERT_TRUE(ExpectRelay(upstream, 1, kTickMs + kTickSlackMs));
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL"));
}

// Failed relays leave nothing open: over four ticks of six mounts that fail
// in every way (unreachable, refused, unresolvable), over 20 failed relays,
// the caster's open file count stays where it was after the first ticks.
TEST_F(SystemRelayTest, OpenFileCountStaysFlatOverFailedTicks)
{
    FakeUpstream::Behaviour refuse("HTTP/1.0 403 Forbidden\r\n\r\n");
    refuse.closeAfterReply = true;
    FakeUpstream refusing(refuse);
    std::string list;
    for (int i = 0; i < 3; ++i) list += SystemLine("DOWN" + std::to_string(i), RefusedPort(), "UP", "down:pw");
    for (int i = 0; i < 2; ++i) list += SystemLine("REFUSED" + std::to_string(i), refusing.Port(), "UP", "refused:pw");
    list += SystemLine("NOHOST", 2101, "UP", "nohost:pw", "nonexistent.invalid");
    ASSERT_TRUE(WriteRelayList(list));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    // Counted by the five mounts that fail at once or at the upstream's
    // answer; the unresolvable one fails at once here, or only after the
    // relay's time-out where a name server never answers.
    auto ended = [&] {
        return vorlane.CountInLog("account\tis useful : down\n") +
               vorlane.CountInLog("account\tis useful : refused\n");
    };
    auto waitEnded = [&](int n, int timeoutMs) {
        auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (ended() < n && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return ended() >= n;
    };
    ASSERT_TRUE(waitEnded(10, 2 * kTickMs + kTickSlackMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int before = OpenFileCount();
    ASSERT_GT(before, 0);
    ASSERT_TRUE(waitEnded(30, 4 * kTickMs + kTickSlackMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(before, OpenFileCount());
    EXPECT_GE(refusing.ConnectionCount(), 12u);
    EXPECT_GE(vorlane.CountInLogAtLeast("ReStart a realy item ,local mount:NOHOST", 1), 1);
}

// RTKLIB's str2str as the upstream caster ("-out ntripc://"): it checks the
// relay's account and mount, and its stream reaches a "GET /LOCAL" rover
// byte for byte.
TEST_F(SystemRelayTest, Str2StrCasterAsTheUpstream)
{
    std::string str2str = ToolPeers::Str2StrPath();
    if (str2str.empty()) GTEST_SKIP() << "str2str is not installed";
    int upstreamPort = TestClient_FreePort();
    std::string feed = GnssFrames::RtcmFeed(20000, 11);
    const int startDelayMs = 10000;  // the relay is up and the rover logged in by then
    ASSERT_TRUE(ToolPeers::WriteTimedFeed(vorlane.File("feed.rtcm3"), feed, 1000, 100, startDelayMs));
    ChildProcess caster;
    ASSERT_TRUE(caster.Spawn({str2str, "-in", "file://" + vorlane.File("feed.rtcm3") + "::T", "-out",
                              "ntripc://" + kCredentials + "@:" + std::to_string(upstreamPort) + "/UPMOUNT"},
                             vorlane.Dir(), vorlane.File("str2str.out"), vorlane.File("str2str.err")));
    bool listening = false;
    for (Clock::time_point until = Clock::now() + std::chrono::seconds(5); !listening && Clock::now() < until;) {
        listening = PortAccepts(upstreamPort, 200);
        if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(listening) << "str2str's caster never listened: " << ReadFile(vorlane.File("str2str.err"));
    ASSERT_NO_FATAL_FAILURE(StartWithSystemMount(upstreamPort));

    ASSERT_TRUE(RawPeers::WaitListed(Port(), "LOCAL", kTickMs + kTickSlackMs)) << "the relay never came online";
    TestClient rover;
    ASSERT_TRUE(LoginRover(&rover, "LOCAL", "rover1"));
    int duration = ToolPeers::TimedFeedDurationMs(feed.size(), 1000, 100, startDelayMs);
    std::string got = rover.ReadExactly(feed.size(), duration + 5000);
    EXPECT_EQ(feed, got) << FirstDifference(got, feed);
}

}  // namespace
