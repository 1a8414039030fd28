// Rovers on a relay mount checked by an authentication centre written here:
// only an HTTP 2xx reply whose "code" is the integer 0 lets the rover in, the
// rover user table is then not asked, and a slow centre holds up no stream.
#include "blackbox/RelayFixture.h"
#include "support/FakeAuthCentre.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <signal.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class AuthCentreLoginTest : public RelayTest {
protected:
    // A relay mount SHARED (its upstream is never reached: no rover here
    // sends a position) checked by the centre.
    void StartWithCentre(FakeAuthCentre& centre)
    {
        ASSERT_TRUE(UseAuthCentre(centre.Url()));
        ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", RefusedPort(), "UP", "acc1:pw1")));
        ASSERT_NO_FATAL_FAILURE(StartCaster());
    }

    // The caster's answer to a login on SHARED.
    std::string Login(const std::string& user, const std::string& password, int timeoutMs = RawPeers::kReplyMs)
    {
        TestClient rover;
        if (!rover.Connect(Port()) || !rover.Send(NtripTexts::GetRequest("SHARED", user, password))) return "";
        std::string head = rover.ReadExactly(NtripTexts::kIcyOk.size(), timeoutMs);
        if (head == NtripTexts::kIcyOk) return head;
        return head + rover.ReadUntil("\r\n\r\n", 1000);
    }
};

struct CentreCase {
    const char* what;
    int status;
    const char* body;
    std::string reply;  // what the rover is answered
};

// One caster, one centre whose answer changes from case to case.
TEST_F(AuthCentreLoginTest, OnlyTheIntegerCodeZeroLetsTheRoverIn)
{
    FakeAuthCentre centre(FakeAuthCentre::Answer{});
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));
    const std::string badPassword = NtripTexts::Refusal401(NtripTexts::kRealmBadPassword);
    const std::string refused = NtripTexts::Refusal401("SHARED");
    const CentreCase cases[] = {
        {"code 0", 200, "{\"code\":0,\"msg\":\"ok\"}", NtripTexts::kIcyOk},
        {"code 0, HTTP 201", 201, "{\"code\":0}", NtripTexts::kIcyOk},
        {"code 1", 200, "{\"code\":1}", badPassword},
        {"code 2", 200, "{\"code\":2}", refused},
        {"code -1", 200, "{\"code\":-1}", refused},
        {"not JSON", 200, "<html>ok</html>", refused},
        {"no code", 200, "{\"result\":0}", refused},
        {"HTTP 500 with code 0", 500, "{\"code\":0}", refused},
        {"HTTP 404 with code 0", 404, "{\"code\":0}", refused},
        {"string code", 200, "{\"code\":\"0\"}", refused},
        {"fractional code", 200, "{\"code\":0.5}", refused},
        {"a JSON array", 200, "[0]", refused},
    };
    size_t asked = 0;
    for (const CentreCase& c : cases) {
        SCOPED_TRACE(c.what);
        FakeAuthCentre::Answer answer;
        answer.status = c.status;
        answer.body = c.body;
        centre.SetAnswer(answer);
        // Nobody in the rover user table: the centre alone decides.
        std::string got = Login("centreuser", "centrepass");
        EXPECT_EQ(c.reply, got) << Printable(got);
        ++asked;
        ASSERT_TRUE(centre.WaitRequests(asked, 1000));
    }
    // Every check was one POST of the user, the password and the node "1".
    for (const std::string& request : centre.Requests()) {
        EXPECT_EQ(0u, request.find("POST /auth/check HTTP/1.1\r\n")) << Printable(request);
        EXPECT_NE(std::string::npos, request.find("Content-Type: application/json\r\n")) << Printable(request);
        std::string body = FakeAuthCentre::BodyOf(request);
        EXPECT_NE(std::string::npos, body.find("\"name\":\"centreuser\"")) << body;
        EXPECT_NE(std::string::npos, body.find("\"password\":\"centrepass\"")) << body;
        EXPECT_NE(std::string::npos, body.find("\"node\":\"1\"")) << body;
    }
    EXPECT_GE(vorlane.CountInLogAtLeast("Rover login To Auth Centre error(error:3)", 1), 1);
    EXPECT_GE(vorlane.CountInLogAtLeast("Rover login To Auth Centre error(error:1)", 1), 1);
}

// A user of the rover user table is refused when the centre says no, and the
// refusal leaves the connection open for another try.
TEST_F(AuthCentreLoginTest, TheCentreDecidesOverTheUserTable)
{
    ASSERT_TRUE(AddRover("alice"));
    FakeAuthCentre::Answer no;
    no.body = "{\"code\":1}";
    FakeAuthCentre centre(no);
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));
    TestClient rover;
    ASSERT_TRUE(rover.Connect(Port()));
    ASSERT_TRUE(rover.Send(NtripTexts::GetRequest("SHARED", "alice", "pw-alice")));
    std::string got = rover.ReadUntil("\r\n\r\n", RawPeers::kReplyMs);
    EXPECT_EQ(NtripTexts::Refusal401(NtripTexts::kRealmBadPassword), got) << Printable(got);

    centre.SetAnswer(FakeAuthCentre::Answer{});
    ASSERT_TRUE(rover.Send(NtripTexts::GetRequest("SHARED", "alice", "pw-alice")));
    got = rover.ReadExactly(NtripTexts::kIcyOk.size(), RawPeers::kReplyMs);
    EXPECT_EQ(NtripTexts::kIcyOk, got) << Printable(got);
    EXPECT_EQ(2u, centre.RequestCount());
}

// A centre that takes the request and never answers refuses, within the
// client's time-out.
TEST_F(AuthCentreLoginTest, ACentreThatNeverAnswersRefuses)
{
    FakeAuthCentre::Answer silent;
    silent.silent = true;
    FakeAuthCentre centre(silent);
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));
    Clock::time_point start = Clock::now();
    std::string got = Login("centreuser", "centrepass", 20000);
    EXPECT_EQ(NtripTexts::Refusal401("SHARED"), got) << Printable(got);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
}

// No centre listens at the url: refused at once.
TEST_F(AuthCentreLoginTest, ACentreThatIsDownRefuses)
{
    ASSERT_TRUE(UseAuthCentre("http://127.0.0.1:" + std::to_string(RefusedPort()) + "/auth/check"));
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", RefusedPort(), "UP", "acc1:pw1")));
    ASSERT_TRUE(AddRover("alice"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    EXPECT_EQ(NtripTexts::Refusal401("SHARED"), Login("alice", "pw-alice"));
}

// Without a centre in "AuthCentre.json" the rover user table decides on a
// relay mount too.
TEST_F(AuthCentreLoginTest, WithoutACentreTheUserTableDecides)
{
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", RefusedPort(), "UP", "acc1:pw1")));
    ASSERT_TRUE(AddRover("alice"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    EXPECT_EQ(NtripTexts::kIcyOk, Login("alice", "pw-alice"));
    EXPECT_EQ(NtripTexts::Refusal401(NtripTexts::kRealmBadPassword), Login("alice", "wrong"));
    EXPECT_EQ(NtripTexts::Refusal401(NtripTexts::kRealmBadUser), Login("stranger", "pw"));
}

// While the centre takes four seconds over one rover's check, another base's
// stream reaches its rover without a pause.
TEST_F(AuthCentreLoginTest, ASlowCentreDoesNotDelayAnotherBasesStream)
{
    FakeAuthCentre::Answer slow;
    slow.delayMs = 4000;
    FakeAuthCentre centre(slow);
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_TRUE(AddRover("watcher"));
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));

    TestClient base, watcher;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "STATION1", "any"));
    ASSERT_TRUE(LoginRover(&watcher, "STATION1", "watcher"));
    RawPeers::CounterStream stream(&base, 100, 50);
    stream.Start();

    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    std::thread reader([&] {
        while (!stop) {
            if (!watcher.ReadAvailable(20).empty()) {
                std::lock_guard<std::mutex> guard(mutex);
                arrivals.push_back(Clock::now());
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Clock::time_point asked = Clock::now();
    std::string got = Login("centreuser", "centrepass", 10000);
    Clock::time_point answered = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    reader.join();
    stream.Stop();

    EXPECT_EQ(NtripTexts::kIcyOk, got) << Printable(got);
    EXPECT_GE(answered - asked, std::chrono::milliseconds(3500));
    std::lock_guard<std::mutex> guard(mutex);
    ASSERT_FALSE(arrivals.empty());
    Clock::time_point last = asked;
    std::chrono::milliseconds longest(0);
    for (Clock::time_point t : arrivals) {
        if (t < asked || t > answered) continue;
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(t - last));
        last = t;
    }
    longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(answered - last));
    EXPECT_LT(longest.count(), 1500) << "the stream paused while the centre was asked";
}

// A centre that never answers holds only the rovers that asked it: with more
// of them waiting than there are login workers, base logins and the user
// table's rovers, on new connections spread over every worker, are answered
// at once, and the waiting rovers are refused at the client's time-out.
TEST_F(AuthCentreLoginTest, ASilentCentreHoldsOnlyTheRoversThatAskedIt)
{
    FakeAuthCentre::Answer silent;
    silent.silent = true;
    FakeAuthCentre centre(silent);
    vorlane.SetNtrip("base_login_mode", 1);
    const int kOthers = 6;
    for (int i = 0; i < kOthers; ++i) ASSERT_TRUE(AddRover("local" + std::to_string(i)));
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));

    const int kWaiting = 4;  // twice the login workers
    std::vector<TestClient> waiting(kWaiting);
    for (int i = 0; i < kWaiting; ++i) {
        ASSERT_TRUE(waiting[i].Connect(Port()));
        ASSERT_TRUE(waiting[i].Send(NtripTexts::GetRequest("SHARED", "centre" + std::to_string(i), "pw")));
    }
    ASSERT_TRUE(centre.WaitRequests(kWaiting, 5000)) << "every waiting rover is being checked";

    std::vector<TestClient> bases(kOthers), rovers(kOthers);
    for (int i = 0; i < kOthers; ++i) {
        SCOPED_TRACE(i);
        const std::string mount = "STATION" + std::to_string(i);
        Clock::time_point start = Clock::now();
        std::string reply;
        ASSERT_TRUE(RawPeers::LoginBase(&bases[i], Port(), mount, "any", &reply)) << Printable(reply);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "base login";
        start = Clock::now();
        ASSERT_TRUE(LoginRover(&rovers[i], mount, "local" + std::to_string(i), &reply)) << Printable(reply);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "rover login";
    }
    for (TestClient& rover : waiting) {
        std::string got = rover.ReadUntil("\r\n\r\n", 20000);
        EXPECT_EQ(NtripTexts::Refusal401("SHARED"), got) << Printable(got);
    }
}

// The centre answers 2,000 nested brackets (4 KB): the rover is refused as
// by any reply without a code, and the caster goes on serving a base and a
// rover on a named mount, and the next relay login.
TEST_F(AuthCentreLoginTest, AReplyTooDeepToReadIsARefusalAndTheCasterServesOn)
{
    FakeAuthCentre::Answer deep;
    deep.body = std::string(2000, '[') + std::string(2000, ']');
    FakeAuthCentre centre(deep);
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_TRUE(AddRover("watcher"));
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));

    std::string got = Login("centreuser", "centrepass");
    EXPECT_EQ(NtripTexts::Refusal401("SHARED"), got) << Printable(got);
    ASSERT_TRUE(centre.WaitRequests(1, RawPeers::kReplyMs));
    EXPECT_GE(vorlane.CountInLogAtLeast("holds no integer \"code\", user centreuser refused", 1), 1);
    ASSERT_TRUE(vorlane.Running()) << vorlane.WaitExit(0).Describe();

    TestClient base, watcher;
    std::string reply;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "STATION1", "any", &reply)) << Printable(reply);
    ASSERT_TRUE(LoginRover(&watcher, "STATION1", "watcher", &reply)) << Printable(reply);
    const std::string bytes = GnssFrames::CounterBytes(0, 600);
    ASSERT_TRUE(base.Send(bytes));
    got = watcher.ReadExactly(bytes.size(), RawPeers::kReplyMs);
    EXPECT_EQ(bytes, got) << FirstDifference(got, bytes);

    centre.SetAnswer(FakeAuthCentre::Answer{});
    EXPECT_EQ(NtripTexts::kIcyOk, Login("centreuser", "centrepass"));
}

// 24 relay rovers log in while the centre holds every check it takes and
// never answers, and leave while their checks wait. Only the 4 checks in
// flight when they left reach the centre; the rest are dropped unasked, and
// a rover logging in behind them is let in once the centre's threads come
// free (its check times out after 10 s), well within its login time.
TEST_F(AuthCentreLoginTest, RoversThatLeftAreNotAskedAboutAndTheRoverBehindThemGetsIn)
{
    FakeAuthCentre centre(FakeAuthCentre::Answer{});
    centre.SetJudge([](const std::string& name) {
        FakeAuthCentre::Answer answer;
        answer.silent = name != "surveyor";
        return answer;
    });
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));

    const int kLeaving = 24;
    const size_t kThreads = 4;  // the centre's threads in the caster
    std::vector<TestClient> leaving(kLeaving);
    for (int i = 0; i < kLeaving; ++i) {
        ASSERT_TRUE(leaving[i].Connect(Port()));
        ASSERT_TRUE(leaving[i].Send(NtripTexts::GetRequest("SHARED", "leaver" + std::to_string(i), "pw")));
    }
    ASSERT_TRUE(centre.WaitRequests(kThreads, 5000)) << "every thread holds a check";
    // They give up after a second, as real rovers do: by then every login
    // has queued its check.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (TestClient& rover : leaving) rover.Close();

    Clock::time_point start = Clock::now();
    std::string got = Login("surveyor", "pw-surveyor", 20000);
    EXPECT_EQ(NtripTexts::kIcyOk, got) << Printable(got);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));

    size_t leavers = 0;
    for (const std::string& request : centre.Requests()) {
        leavers += FakeAuthCentre::NameOf(request).compare(0, 6, "leaver") == 0 ? 1 : 0;
    }
    EXPECT_LE(leavers, kThreads) << "only the checks in flight when the rovers left were posted";
    EXPECT_GE(vorlane.CountInLogAtLeast("Rover login dropped unasked", kLeaving - static_cast<int>(kThreads)),
              kLeaving - static_cast<int>(kThreads));
}

// A peer streams relay logins with ever new passwords on one connection
// while a real rover logs in on another. The peer's first login is being
// checked when the rest arrive: those are refused without asking the
// centre, and the connection is closed at its limit of refused requests.
// The real rover is let in within two seconds.
TEST_F(AuthCentreLoginTest, AConnectionStreamingLoginsIsAskedAboutOneAtATimeAndClosed)
{
    FakeAuthCentre centre(FakeAuthCentre::Answer{});
    centre.SetJudge([](const std::string& name) {
        FakeAuthCentre::Answer answer;
        answer.delayMs = 50;
        answer.body = name == "surveyor" ? "{\"code\":0}" : "{\"code\":1}";
        return answer;
    });
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));

    std::mt19937 random(std::random_device{}());
    std::string stream;
    for (int i = 0; i < 2000; ++i) {
        stream += NtripTexts::GetRequest("SHARED", "guesser", "pw" + std::to_string(random()));
    }
    TestClient guesser;
    ASSERT_TRUE(guesser.Connect(Port()));
    // The first login reaches the centre before the rest are sent: a check
    // whose connection is closing by its turn (at its limit) is not posted.
    ASSERT_TRUE(guesser.Send(NtripTexts::GetRequest("SHARED", "guesser", "pw-first")));
    ASSERT_TRUE(centre.WaitRequests(1, RawPeers::kReplyMs)) << "the first login is checked";
    // Sends until all is out or the caster closes the connection.
    std::thread sender([&] { guesser.Send(stream); });

    Clock::time_point start = Clock::now();
    std::string got = Login("surveyor", "pw-surveyor", 2000);
    EXPECT_EQ(NtripTexts::kIcyOk, got) << Printable(got);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));

    EXPECT_TRUE(guesser.WaitClosed(RawPeers::kReplyMs)) << "the guesser is closed at its limit";
    sender.join();
    EXPECT_EQ(1, centre.MostInFlight("guesser"));
    EXPECT_LT(centre.RequestCountOf("guesser"), 8u) << "its refused logins were not asked";
    EXPECT_GE(vorlane.CountInLogAtLeast("asks again while the centre checks", 1), 1);
}

// The build that ends through a normal exit stops with the centre checking
// the logins of two rovers. The stop drops what waits for the centre; the
// centre's yes to the two comes after it and lets neither in: nothing of a
// login goes on into what the exit is taking down, and the process ends in
// order.
TEST_F(AuthCentreLoginTest, ACentresYesThatComesAfterTheStopLetsNoRoverIn)
{
#ifndef VORLANE_ORDERLY_EXIT
    GTEST_SKIP() << "only the build that ends through a normal exit stops the centre's checks";
#endif
    FakeAuthCentre::Answer yes;
    yes.held = true;
    FakeAuthCentre centre(yes);
    ASSERT_NO_FATAL_FAILURE(StartWithCentre(centre));
    std::vector<TestClient> rovers(2);
    for (size_t i = 0; i < rovers.size(); ++i) {
        ASSERT_TRUE(rovers[i].Connect(Port()));
        ASSERT_TRUE(rovers[i].Send(NtripTexts::GetRequest("SHARED", "late" + std::to_string(i), "pw") +
                                   GgaLine(39.10, -121.00)));
    }
    ASSERT_TRUE(centre.WaitRequests(rovers.size(), 5000)) << "both logins are checked";

    stopAtEnd_ = false;
    ASSERT_EQ(0, kill(vorlane.Pid(), SIGTERM));
    ASSERT_TRUE(vorlane.WaitForLog("AuthCentreQueue_Stop:no check is taken any more", 10000))
        << vorlane.Diagnostics();
    centre.LetGo();
    ExitStatus status = vorlane.WaitExit(20000);
    EXPECT_TRUE(status.Success()) << status.Describe() << "\n" << vorlane.Diagnostics();
    EXPECT_EQ(2, vorlane.CountInLog("Rover login dropped at the stop"));
    EXPECT_EQ(0, vorlane.CountInLog("Rover login ok"));
    EXPECT_EQ(0, vorlane.CountInLog("did not end in time"));
    for (TestClient& rover : rovers) {
        EXPECT_EQ("", rover.ReadExactly(NtripTexts::kIcyOk.size(), 2000)) << "a rover was let in at the stop";
    }
}

}  // namespace

// A relay rover's first GGA sent in the same segment as its login waits
// while the centre checks the login, then starts its relay: the upstream
// gets the request and that sentence, and the rover sends nothing more.
TEST_F(AuthCentreLoginTest, AGgaSentWithALoginTheCentreChecksStartsTheRelay)
{
    FakeAuthCentre centre(FakeAuthCentre::Answer{});
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    ASSERT_TRUE(UseAuthCentre(centre.Url()));
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", upstream.Port(), "UP", "acc1:pw1")));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient rover;
    const std::string gga = GgaLine(39.10, -121.00);
    ASSERT_TRUE(rover.Connect(Port()));
    ASSERT_TRUE(rover.Send(NtripTexts::GetRequest("SHARED", "centreuser", "centrepass") + gga));
    ASSERT_EQ(NtripTexts::kIcyOk, rover.ReadExactly(NtripTexts::kIcyOk.size(), RawPeers::kReplyMs));
    std::shared_ptr<FakeUpstream::Conn> conn = upstream.WaitConnection(0, 5000);
    ASSERT_TRUE(conn) << "the sentence sent with the login started no relay";
    EXPECT_TRUE(conn->WaitFor(RelayRequest("UP", "acc1:pw1") + gga)) << Printable(conn->Received());
    const std::string bytes = GnssFrames::CounterBytes(0, 400);
    conn->Send(bytes);
    std::string got = rover.ReadExactly(bytes.size(), RawPeers::kReplyMs);
    EXPECT_EQ(bytes, got) << FirstDifference(got, bytes);
}

// A rover that sends fast: far more positions behind its login than the
// login decoder holds, all while the centre checks the login. Once the centre
// lets it in, its newest positions reach its road, whole and in order up to
// the last one sent, as many as the login decoder holds: only the oldest
// whole sentences are gone, and its relay starts with the first that stayed.
TEST_F(AuthCentreLoginTest, AFastRoversNewestPositionsOutliveTheCentresCheckWhole)
{
    FakeAuthCentre::Answer yes;
    yes.held = true;
    FakeAuthCentre centre(yes);
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    vorlane.SetNtrip("rover_gga_log", 1);
    ASSERT_TRUE(UseAuthCentre(centre.Url()));
    ASSERT_TRUE(WriteRelayList(SharedLine("SHARED", upstream.Port(), "UP", "acc1:pw1")));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    const size_t kSent = 60;
    const size_t kDecoderHolds = 2000;  // bytes the login decoder keeps with no request in sight
    std::vector<std::string> sentences;
    std::string positions;
    for (size_t i = 0; i < kSent; ++i) {
        sentences.push_back(GgaLine(39.0 + 0.001 * static_cast<double>(i), -121.0));
        ASSERT_EQ(sentences[0].size(), sentences.back().size());
        positions += sentences.back();
    }
    ASSERT_GT(positions.size(), 2 * kDecoderHolds);
    const size_t kKept = kDecoderHolds / sentences[0].size();

    TestClient rover;
    ASSERT_TRUE(rover.Connect(Port()));
    ASSERT_TRUE(rover.Send(NtripTexts::GetRequest("SHARED", "fastrover", "pw") + positions));
    ASSERT_TRUE(centre.WaitRequests(1, RawPeers::kReplyMs)) << "the login is checked";
    centre.LetGo();
    ASSERT_EQ(NtripTexts::kIcyOk, rover.ReadExactly(NtripTexts::kIcyOk.size(), RawPeers::kReplyMs));

    auto logged = [&](size_t i) {
        return vorlane.UserLogText().find(sentences[i].substr(0, sentences[i].size() - 2)) != std::string::npos;
    };
    ASSERT_TRUE(WaitFor([&] { return logged(kSent - 1); }, 10000)) << "the last position reached no road";
    size_t first = kSent - 1;
    while (first > 0 && logged(first - 1)) --first;
    for (size_t i = 0; i < first; ++i) EXPECT_FALSE(logged(i)) << "position " << i << " out of order";
    EXPECT_GE(kSent - first, kKept) << "whole positions lost beyond what the login decoder holds";
    std::shared_ptr<FakeUpstream::Conn> conn = upstream.WaitConnection(0, 5000);
    ASSERT_TRUE(conn) << "the positions started no relay";
    EXPECT_TRUE(conn->WaitFor(RelayRequest("UP", "acc1:pw1") + sentences[first])) << Printable(conn->Received());
}
