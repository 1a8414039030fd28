// Clients as an attacker on the caster port plays them. Connections that never
// log in, requests it cannot understand, names built to forge log lines,
// positions no receiver reports, and relay accounts whose passwords must not
// leak: each is refused or contained while a good base and rover go on.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/RelayFixture.h"
#include "support/Files.h"
#include "support/NmeaSentence.h"
#include "support/TestSecrets.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace NtripTexts;
using Clock = std::chrono::steady_clock;
using GnssFrames::CounterBytes;
using RawPeers::LoginBase;
using RawPeers::LoginRover;

// A new rover's subscription follows its reply: the stream starts this long after.
const int kSettleMs = 200;

// The line that ends the HTTP inspector's bind, "start ok" or "start fail".
const char* const kInspectorBound = "HttpInspectorLoop:http ip:127.0.0.1, port=";

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Lines of the daily log that say something.
size_t LogLines(const std::string& text)
{
    size_t n = 0;
    for (const std::string& line : SplitLines(text)) n += line.empty() ? 0 : 1;
    return n;
}

// Lines of text that start with prefix.
int LinesStartingWith(const std::string& text, const std::string& prefix)
{
    int n = 0;
    for (const std::string& line : SplitLines(text)) {
        if (line.compare(0, prefix.size(), prefix) == 0) ++n;
    }
    return n;
}

// Reads a rover's stream on a thread of its own until stopped.
class StreamReader {
public:
    explicit StreamReader(TestClient* rover) : rover_(rover), thread_([this] { Run(); }) {}
    ~StreamReader() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Waits until n bytes have arrived (or the time is up), then stops.
    std::string TakeWhenAt(size_t n, int timeoutMs)
    {
        auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Size() < n && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Stop();
        std::lock_guard<std::mutex> guard(mutex_);
        return got_;
    }

private:
    size_t Size()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return got_.size();
    }
    void Run()
    {
        while (!stop_ && !rover_->PeerClosed()) {
            std::string chunk = rover_->ReadAvailable(50);
            std::lock_guard<std::mutex> guard(mutex_);
            got_ += chunk;
        }
    }

    TestClient* rover_;
    std::mutex mutex_;
    std::string got_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class BlackboxHostile : public CasterTest {
protected:
    // An online base MNT1 and a rover "alice" on it.
    void StartWithBaseAndRover()
    {
        ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
        ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));
        ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
        std::string reply;
        ASSERT_TRUE(LoginRover(&rover, Port(), "MNT1", "alice", "Alice-Pw-731", &reply)) << Printable(reply);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    }

    // The base's bytes reach the rover whole.
    void ExpectStreamFlows(const std::string& label)
    {
        std::string bytes = GnssFrames::RtcmFiller(1074, 400, 77);
        ASSERT_TRUE(base.Send(bytes)) << label;
        std::string got = rover.ReadExactly(bytes.size(), RawPeers::kReplyMs);
        EXPECT_EQ(got, bytes) << label << ": " << FirstDifference(got, bytes);
    }

    TestClient base;
    TestClient rover;
};

// 50 silent connections and 50 that send one byte a second are all closed
// by the login time-out (30 s from their open, on the 5000 ms tick), not
// before; the streaming base and rover, logged in before them, lose nothing;
// the caster's open files are back to their count before the attack.
TEST_F(BlackboxHostile, IdleAndSlowConnectionsAreClosedByTheLoginTimeout)
{
    const int kEach = 50;
    ASSERT_NO_FATAL_FAILURE(StartWithBaseAndRover());
    RawPeers::CounterStream stream(&base, 200, 100);  // 2 KB/s, so the base is never silent
    StreamReader reader(&rover);
    stream.Start();
    // The HTTP inspector binds its port a moment after the start: counted
    // once it has (or could not), its socket is none of the attack's.
    ASSERT_TRUE(vorlane.WaitForLog(kInspectorBound, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int filesBefore = vorlane.OpenFileCount();
    ASSERT_GT(filesBefore, 0);

    std::vector<std::unique_ptr<TestClient>> idle, slow;
    Clock::time_point opened = Clock::now();
    for (int i = 0; i < kEach; ++i) {
        idle.emplace_back(new TestClient);
        ASSERT_TRUE(idle.back()->Connect(Port()));
        slow.emplace_back(new TestClient);
        ASSERT_TRUE(slow.back()->Connect(Port()));
    }
    // A rover login that never ends: one byte a second on each slow connection.
    const std::string request = GetRequest("MNT1", "alice", "Alice-Pw-731");
    std::atomic<bool> stopSlow{false};
    std::thread slowSender([&] {
        for (size_t k = 0; !stopSlow && k < request.size(); ++k) {
            for (auto& c : slow) c->Send(request.substr(k, 1));
            for (int t = 0; t < 10 && !stopSlow; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    std::this_thread::sleep_for(std::chrono::milliseconds(20000));
    int closedEarly = 0;
    for (auto* group : {&idle, &slow}) {
        for (auto& c : *group) {
            c->ReadAvailable(1);
            if (c->PeerClosed()) ++closedEarly;
        }
    }
    EXPECT_EQ(closedEarly, 0) << "closed before the time-out";

    // Closed between 30 and 35 s after the open; a sanitizer build gets slack.
    auto deadline = opened + std::chrono::milliseconds(45000);
    int closed = 0;
    for (auto* group : {&idle, &slow}) {
        for (auto& c : *group) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (c->WaitClosed(left > 0 ? left : 1)) ++closed;
        }
    }
    long long closedAfterMs = MsSince(opened);
    stopSlow = true;
    slowSender.join();
    EXPECT_EQ(closed, 2 * kEach);
    EXPECT_GE(closedAfterMs, 30000);
    EXPECT_EQ(vorlane.CountInLogAtLeast("Login timeout:", 2 * kEach), 2 * kEach);

    int filesAfter = -1;
    for (int i = 0; i < 100 && (filesAfter = vorlane.OpenFileCount()) != filesBefore; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(filesAfter, filesBefore);

    // Logged in before the attack and streaming all along: untouched.
    stream.Stop();
    ASSERT_FALSE(stream.Failed()) << "the base was cut off";
    std::string want = CounterBytes(0, static_cast<size_t>(stream.Sent()));
    std::string got = reader.TakeWhenAt(want.size(), RawPeers::kReplyMs);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want) << FirstDifference(got, want);
    EXPECT_FALSE(rover.PeerClosed());
}

// SOURCE requests with ever new names and wrong passwords write nothing:
// "station.db" stays byte for byte as it was. Each connection is heard out
// to its eighth refusal and closed; the rest of its batch is never looked
// at. A base that passes every check is white-listed.
TEST_F(BlackboxHostile, WrongPasswordSourceRequestsLeaveTheStationDbUnchanged)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("GOOD1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string before = ReadFile(vorlane.File("station.db"));
    ASSERT_FALSE(before.empty());

    const int kConnections = 20, kPerConnection = 25, kRefusalLimit = 8;
    std::vector<std::unique_ptr<TestClient>> attackers;
    for (int c = 0; c < kConnections; ++c) {
        attackers.emplace_back(new TestClient);
        ASSERT_TRUE(attackers.back()->Connect(Port()));
        std::string batch;
        for (int k = 0; k < kPerConnection; ++k) {
            batch += SourceRequest("wrong", "NEW" + std::to_string(c) + "_" + std::to_string(k));
        }
        ASSERT_TRUE(attackers.back()->Send(batch));
    }
    for (auto& attacker : attackers) EXPECT_TRUE(attacker->WaitClosed(RawPeers::kReplyMs)) << "kept open";
    ASSERT_TRUE(vorlane.WaitForLog("user=NEW" + std::to_string(kConnections - 1) + "_" +
                                   std::to_string(kRefusalLimit - 1), 10000));
    const int kRefused = kConnections * kRefusalLimit;
    EXPECT_EQ(vorlane.CountInLogAtLeast("Base login error:user or passwd is error", kRefused), kRefused);
    EXPECT_EQ(vorlane.CountInLog("user=NEW0_" + std::to_string(kRefusalLimit)), 0);
    EXPECT_TRUE(ReadFile(vorlane.File("station.db")) == before) << "station.db was written";
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "NEW0_0"), 0);

    TestClient good;
    std::string reply;
    ASSERT_TRUE(LoginBase(&good, Port(), "GOOD1", "Base-Pw-1", &reply)) << Printable(reply);
    auto end = Clock::now() + std::chrono::milliseconds(3000);
    while (vorlane.CountListed("station_whitelist", "GOOD1") != 1 && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "GOOD1"), 1);
}

// A connection that sends nothing the caster understands is closed at the
// eighth such request: 1,000 blank lines cost at most 8 request lines in the
// log (besides the lines of its open and close), not one each; requests
// that log nothing count too.
TEST_F(BlackboxHostile, RequestsNotUnderstoodCloseTheConnectionAtTheEighth)
{
    ASSERT_NO_FATAL_FAILURE(StartWithBaseAndRover());
    struct Case {
        const char* name;
        std::string junk;
        const char* logged;  // the line each such request logs, if any
    } cases[] = {
        {"1000 blank lines", std::string(2000, '\0'), "Unknow login request"},
        {"GET without a path", "", nullptr},
    };
    for (size_t i = 0; i < 2000; i += 2) cases[0].junk.replace(i, 2, "\r\n");
    for (int k = 0; k < 1000; ++k) cases[1].junk += "GET nothing\r\n\r\n";

    // Every line of the start and the logins is written before the count:
    // the rover's login, and the inspector's bind, a moment after the rest.
    ASSERT_TRUE(vorlane.WaitForLog("Rover login ok:alice", 10000)) << vorlane.LogText();
    ASSERT_TRUE(vorlane.WaitForLog(kInspectorBound, 10000)) << vorlane.LogText();

    const std::string closed = "close_type:active close.";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t linesBefore = LogLines(vorlane.LogText());
        int requestLinesBefore = c.logged ? vorlane.CountInLog(c.logged) : 0;
        int closedBefore = vorlane.CountInLog(closed);
        TestClient attacker;
        ASSERT_TRUE(attacker.Connect(Port()));
        ASSERT_TRUE(attacker.Send(c.junk));
        EXPECT_TRUE(attacker.WaitClosed(RawPeers::kReplyMs)) << "kept open";
        // Its close is its last line; a little longer shows nothing more of
        // it comes.
        ASSERT_EQ(vorlane.CountInLogAtLeast(closed, closedBefore + 1), closedBefore + 1) << vorlane.LogText();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (c.logged) {
            EXPECT_LE(vorlane.CountInLog(c.logged) - requestLinesBefore, 8);
        }
        // Its open, at most 8 requests, its close.
        EXPECT_LE(LogLines(vorlane.LogText()) - linesBefore, 10u) << vorlane.LogText();
    }
    ExpectStreamFlows("after the junk");
}

// A user name with CR, LF and an escape sequence is logged on one line,
// its control characters written as escapes, in the daily log and the user
// log; so is a GGA sentence that carries them.
TEST_F(BlackboxHostile, ControlCharactersInClientTextsCannotForgeLogLines)
{
    vorlane.SetNtrip("rover_login_mode", 1);  // any user name logs in
    vorlane.SetNtrip("rover_gga_log", 1);
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));

    const std::string forged = "FORGED [info] Base login ok";
    const std::string user = "eve\r\n" + forged + "\x1b[2J";
    std::string reply;
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNT1", user, "any", &reply)) << Printable(reply);
    const std::string gga = NmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M\r\n" + forged + "\x1b[0m,46.9,M,,");
    ASSERT_TRUE(rover.Send(gga + "\r\n"));
    ASSERT_TRUE(vorlane.WaitForLog("Rover login ok:eve"));

    // The rover stays until its sentence is written: a rover that leaves at
    // once may leave before its sentence is decoded.
    auto userLogHasGga = [&] { return vorlane.UserLogText().find("$GPGGA,123519") != std::string::npos; };
    auto end = Clock::now() + std::chrono::milliseconds(3000);
    while (!userLogHasGga() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(userLogHasGga()) << vorlane.UserLogText();
    rover.Close();
    ASSERT_TRUE(vorlane.WaitForLog("Rover logout:eve"));

    const std::string escaped = "eve\\r\\n" + forged + "\\x1b[2J";
    for (const std::string& text : {vorlane.LogText(), vorlane.UserLogText()}) {
        EXPECT_EQ(LinesStartingWith(text, "FORGED"), 0) << Printable(text, 4000);
        EXPECT_EQ(text.find('\x1b'), std::string::npos) << Printable(text, 4000);
    }
    EXPECT_NE(vorlane.LogText().find("Rover login ok:" + escaped), std::string::npos);
    EXPECT_NE(vorlane.LogText().find("Rover logout:" + escaped), std::string::npos);
    EXPECT_NE(vorlane.UserLogText().find(escaped + " login sucess"), std::string::npos);
    EXPECT_NE(vorlane.UserLogText().find(",M\\r\\n" + forged + "\\x1b[0m,46.9"), std::string::npos);
}

// Positions no receiver reports (1e308, inf, nan, huge integers), in GGA and
// KSXT, from a named-mount and a nearest rover with the GGA log on: nothing
// converts them to an integer (a sanitizer build aborts on that), and the
// stream goes on.
TEST_F(BlackboxHostile, AbsurdPositionsAreHarmless)
{
    vorlane.SetNtrip("rover_gga_log", 1);
    ASSERT_TRUE(vorlane.AddRoverAccount("near", "Near-Pw-5"));
    ASSERT_NO_FATAL_FAILURE(StartWithBaseAndRover());
    const std::string position = GnssFrames::Rtcm1005(1, 48.1, 11.5, 500.0);
    ASSERT_TRUE(base.Send(position));
    ASSERT_EQ(rover.ReadExactly(position.size(), RawPeers::kReplyMs), position);
    TestClient nearest;
    std::string reply;
    ASSERT_TRUE(LoginRover(&nearest, Port(), "NEAREST", "near", "Near-Pw-5", &reply)) << Printable(reply);

    const char* const values[] = {"1e308", "-1e308", "inf", "-inf", "nan", "1e400", "99999999999999999999999",
                                  "-4807.038e300"};
    std::string sentences;
    for (const char* v : values) {
        std::string s(v);
        sentences += NmeaSentence("GPGGA,123519," + s + ",N," + s + ",E,1,08,0.9,545.4,M,46.9,M,,") + "\r\n";
        sentences += NmeaSentence("GNGGA,123519,4807.038,S,01131.000,W,1,08," + s + "," + s + ",M," + s + ",M," + s + ",0001") + "\r\n";
        // time, longitude, latitude, height, 5 skipped, quality, 2 skipped,
        // satellites, 6 skipped, differential age.
        std::string ksxt = "KSXT,20190909084745.00," + s + "," + s + "," + s + ",299.72,-67.84,95.20,0.000,,2,,,10";
        ksxt += ",,,,,,," + s;
        sentences += NmeaSentence(ksxt) + "\r\n";
    }
    sentences += NmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") + "\r\n";
    ASSERT_TRUE(rover.Send(sentences));
    ASSERT_TRUE(nearest.Send(sentences));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    ASSERT_TRUE(vorlane.Running()) << vorlane.Diagnostics();
    ExpectStreamFlows("after the absurd positions");
    EXPECT_EQ(vorlane.Stderr().find("runtime error"), std::string::npos) << vorlane.Stderr();
}

class BlackboxHostileRelay : public RelayTest {};

// A system relay and a rover's relay with passwords, against upstreams that
// refuse every connection, for 15 s: each attempt and each release is logged
// by the account's user name, and no file the caster wrote, nor its output,
// holds a password or the credentials' Base64.
TEST_F(BlackboxHostileRelay, RelayPasswordsAreNeverLoggedOrPrinted)
{
    const std::string system = std::string(TestSecrets::kRelayUser) + ":" + TestSecrets::kRelayPassword;
    const std::string shared = std::string("shareduser:") + TestSecrets::kUpstreamPassword;
    ASSERT_TRUE(WriteRelayList(SystemLine("SYSMNT", RefusedPort(), "UP", system) +
                               SharedLine("SHARED", RefusedPort(), "UP", shared)));
    ASSERT_TRUE(AddRover("roverx"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    Clock::time_point start = Clock::now();

    TestClient relayRover;
    std::string reply;
    ASSERT_TRUE(LoginRover(&relayRover, "SHARED", "roverx", &reply)) << Printable(reply);
    ASSERT_TRUE(relayRover.Send(GgaLine(48.1, 11.5)));
    EXPECT_TRUE(relayRover.WaitClosed(RawPeers::kReplyMs)) << "a refused relay closes its rover";
    while (MsSince(start) < 15000) std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::string log = vorlane.LogText();
    EXPECT_GE(vorlane.CountInLogAtLeast(std::string("account\tis useful : ") + TestSecrets::kRelayUser + "\n", 2), 2);
    EXPECT_GE(vorlane.CountInLogAtLeast("account\tis useful : shareduser\n", 1), 1);
    EXPECT_GE(vorlane.CountInLogAtLeast("Relay_Mount:SHARED  use account:shareduser\n", 1), 1);
    const std::string outputs[] = {log, vorlane.UserLogText(), vorlane.Stdout(), vorlane.Stderr()};
    for (const std::string& secret : {std::string(TestSecrets::kRelayPassword), std::string(TestSecrets::kUpstreamPassword),
                                      Base64(system), Base64(shared)}) {
        for (const std::string& text : outputs) {
            size_t at = text.find(secret);
            EXPECT_EQ(at, std::string::npos)
                << secret << " in: " << Printable(text.substr(at == std::string::npos ? 0 : at > 80 ? at - 80 : 0, 200));
        }
    }
}

}  // namespace
