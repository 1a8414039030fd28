// What the control port and the "PPP-RTK" base meet from peers that hold
// connections, flood them or lie about lengths: idle connections past the
// cap, connections that never log in or keep guessing passwords, a
// connect/close loop, a burst of requests in one write, a base that reports
// ever new stations or claims a 16 MB body. The caster port and a real
// control centre are served throughout.
#include "blackbox/CtrlOpsFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/PppRtkFixture.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace CtrlTexts;
using Clock = std::chrono::steady_clock;
using CtrlWire::Pb;
using CtrlWire::Received;

const int kControlCap = 128;

// Waits (bounded) until pred() holds.
template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

// The "HH:MM:SS" of every log line that holds text.
std::vector<std::string> SecondsOfLines(const std::string& log, const std::string& text)
{
    std::vector<std::string> seconds;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(text) == std::string::npos) continue;
        size_t space = line.find(' ');
        seconds.push_back(space == std::string::npos ? line : line.substr(space + 1, 8));
    }
    return seconds;
}

class BlackboxCtrlConnections : public CtrlOpsTest {
protected:
    long Threads() const { return vorlane.StatusField("Threads"); }

    // A version request answered on the connection.
    static bool Answers(CtrlCenterClient* c, int32_t id)
    {
        if (!c->Request(21, id, Pb())) return false;
        Received r;
        return c->NextReply(&r, kReplyMs) && r.type == 1020 && r.id == id;
    }
};

TEST_F(BlackboxCtrlConnections, IdleConnectionsPastTheCapAreClosedAtAcceptAndTheCasterKeepsServing)
{
    vorlane.SetOpenFileLimit(1024);
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("capped", "Rover-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto centre = Centre();

    // More idle connections than the process has descriptors.
    const int kIdle = 1100;
    std::vector<std::unique_ptr<TestClient>> idle;
    for (int i = 0; i < kIdle; ++i) {
        idle.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(idle.back()->Connect(vorlane.ControlPort())) << "connection " << i;
    }
    ASSERT_TRUE(vorlane.WaitForLog("closed at accept"));
    // The loop accepts and closes them one after another: counted until it
    // has come to the last.
    int closed = 0;
    WaitFor(
        [&] {
            closed = 0;
            for (auto& c : idle) closed += c->WaitClosed(0) ? 1 : 0;
            return closed >= kIdle - kControlCap;
        },
        20000, 50);
    EXPECT_GE(closed, kIdle - kControlCap) << "connections past the cap stayed open";
    EXPECT_LT(closed, kIdle) << "the control port took no idle connection at all";
    EXPECT_LT(vorlane.OpenFileCount(), 400) << "the idle connections hold the descriptors";

    // The caster port still takes a base and a rover, and the bytes flow.
    TestClient base, rover;
    std::string reply;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1", &reply)) << Printable(reply);
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "MNT1", "capped", "Rover-Pw-1", &reply)) << Printable(reply);
    std::string stream;
    for (int i = 0; i < 10; ++i) stream += GnssFrames::RtcmFiller(1074, 600, static_cast<uint32_t>(i));
    ASSERT_TRUE(base.Send(stream));
    std::string got = rover.ReadExactly(stream.size(), 5000);
    EXPECT_TRUE(got == stream) << FirstDifference(got, stream);
    EXPECT_TRUE(Answers(centre.get(), 40)) << "the logged-in centre is not served";

    // The refusals are told, one line a second at most.
    std::vector<std::string> seconds = SecondsOfLines(vorlane.LogText(), "closed at accept");
    std::set<std::string> distinct(seconds.begin(), seconds.end());
    EXPECT_EQ(distinct.size(), seconds.size()) << "two refusal lines in one second";
    EXPECT_EQ(vorlane.CountInLog("accept error"), 0) << "the process ran out of descriptors";
}

TEST_F(BlackboxCtrlConnections, ConnectionsThatNeverLogInAreClosedAfter30sAndTheirThreadsGo)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto centre = Centre();
    ASSERT_TRUE(Answers(centre.get(), 2));
    long start = Threads();
    ASSERT_GT(start, 0);

    // Each says one byte, so that each kept one has its decode thread.
    const int kHeld = 300;
    std::vector<std::unique_ptr<TestClient>> held;
    for (int i = 0; i < kHeld; ++i) {
        held.push_back(std::make_unique<TestClient>());
        ASSERT_TRUE(held.back()->Connect(vorlane.ControlPort()));
        held.back()->Send("\xAA");
    }
    EXPECT_TRUE(WaitUntil([&] { return Threads() >= start + kControlCap / 2; }, 10000))
        << "threads " << Threads() << " from " << start;
    EXPECT_LE(Threads(), start + kControlCap + 8) << "more threads than the cap allows";

    // Every one of them is closed within 30 s and a timer period.
    Clock::time_point opened = Clock::now();
    for (auto& c : held) EXPECT_TRUE(c->WaitClosed(40000)) << "an unauthenticated connection stayed open";
    EXPECT_GE(Clock::now() - opened, std::chrono::seconds(20)) << "closed long before the login time";
    EXPECT_TRUE(vorlane.WaitForLog("no login within 30000 ms"));
    EXPECT_TRUE(WaitUntil([&] { return Threads() <= start + 3; }, 10000))
        << "threads " << Threads() << " from " << start;

    // The centre that logged in is still there and served.
    EXPECT_TRUE(Answers(centre.get(), 3));
    Received r;
    EXPECT_TRUE(centre->WaitFor(CtrlCenterClient::HEARTBEAT, &r, 5000));
}

TEST_F(BlackboxCtrlConnections, EightRefusedLoginsCloseTheConnectionAndEachIsLoggedWithItsPeer)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto guesser = Centre(false);
    const std::string forged = "op-anna\r\n12:00:00.000:[INFO] forged\x1b[2J";
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(guesser->Login(forged, "guess-" + std::to_string(i), i), 21) << "attempt " << i;
    }
    EXPECT_TRUE(Answers(guesser.get(), 70)) << "closed before the eighth refusal";
    EXPECT_EQ(guesser->Login(kOperator, "guess-8", 8), 21);
    EXPECT_TRUE(guesser->Raw().WaitClosed(5000)) << "the eighth refusal did not close it";
    EXPECT_TRUE(vorlane.WaitForLog("closed after 8 refused logins"));

    std::string log = vorlane.LogText();
    EXPECT_NE(log.find("from 127.0.0.1:"), std::string::npos) << "no peer in the login lines";
    EXPECT_NE(log.find("op-anna\\r\\n12:00:00.000:[INFO] forged\\x1b[2J"), std::string::npos)
        << "the name is not escaped";
    EXPECT_EQ(log.find("\n12:00:00.000:[INFO] forged"), std::string::npos) << "a forged line reached the log";
    EXPECT_EQ(vorlane.CountInLogAtLeast("refused (8 of 8 on this connection)", 1), 1);

    // A new connection starts counting afresh, and the operator gets in.
    auto next = Centre(false);
    EXPECT_EQ(next->Login(kOperator, "wrong"), 21);
    EXPECT_EQ(next->Login(kOperator, kOperatorPassword), 20);
    EXPECT_TRUE(Answers(next.get(), 90));
}

TEST_F(BlackboxCtrlConnections, AConnectCloseLoopLeavesARealCentreItsHeartbeatsAndAnswers)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto centre = Centre();
    std::atomic<bool> stop{false};
    std::atomic<int> loops{0};
    // Four loops at once; every other connection says a byte first, so its
    // close has a decode thread to end.
    std::vector<std::thread> churn;
    for (int t = 0; t < 4; ++t) {
        churn.emplace_back([&] {
            for (int i = 0; i < 20000 && !stop; ++i) {
                TestClient c;
                if (!c.Connect(vorlane.ControlPort())) continue;
                if (i % 2) c.Send(std::string("\xAA\x41\x13", 3));
                c.Close();
                ++loops;
            }
        });
    }

    // While the loop runs the centre asks and is answered, and the
    // heartbeat keeps coming.
    int heartbeats = 0, answered = 0, asked = 0;
    Clock::time_point end = Clock::now() + std::chrono::seconds(20);
    while (heartbeats < 3 && Clock::now() < end) {
        ++asked;
        ASSERT_TRUE(centre->Request(21, 1000 + asked, Pb()));
        Received r;
        while (centre->Next(&r, kReplyMs)) {
            if (r.type == CtrlCenterClient::HEARTBEAT) {
                ++heartbeats;
                continue;
            }
            if (r.type == 1020 && r.id == 1000 + asked) ++answered;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    for (std::thread& t : churn) t.join();
    EXPECT_GE(loops.load(), 200) << "the loop hardly ran";
    EXPECT_EQ(answered, asked) << "a request went unanswered during the loop";
    EXPECT_GE(heartbeats, 3) << "heartbeats stopped during the loop";
    EXPECT_FALSE(centre->BadFrameSeen());
}

TEST_F(BlackboxCtrlConnections, FiveHundredAddUserFramesInOneWriteAreAllAnswered)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto centre = Centre();
    // Long texts, so that the burst is twice the connection's ring.
    const int kUsers = 500;
    const std::string contact(180, 'c');
    const std::string company(180, 'k');
    std::string burst;
    for (int i = 0; i < kUsers; ++i) {
        Pb item = CtrlOps::UserItem(0, 3, "burst-" + std::to_string(i), "Burst-Pw-" + std::to_string(i), contact);
        item.Bytes(9, company);
        burst += CtrlWire::Frame(11, 5000 + i, CtrlOps::UserRequest({item}).Str());
    }
    ASSERT_GT(burst.size(), 200000u);
    ASSERT_TRUE(centre->Send(burst));

    std::vector<int> acks;
    Received r;
    while (static_cast<int>(acks.size()) < kUsers && centre->NextReply(&r, 15000)) {
        EXPECT_EQ(r.type, 1011u);
        EXPECT_EQ(r.id, 5000 + static_cast<int32_t>(acks.size())) << "out of order or lost";
        acks.push_back(static_cast<int>(CtrlWire::ParsePb(r.body).Int(ACK)));
    }
    ASSERT_EQ(static_cast<int>(acks.size()), kUsers) << "requests of the burst went unanswered";
    for (int i = 0; i < kUsers; ++i) EXPECT_EQ(acks[i], 20) << "user " << i;
    EXPECT_EQ(vorlane.CountInLog("ring full"), 0);

    // The last one is in the store and the connection goes on.
    auto list = List(centre.get(), 12, 1012, 77, CtrlOps::UserRequest({CtrlOps::UserItem(0, 3, "burst-499", "")}));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(CtrlWire::ParsePb(list[0].body).Int(ACK), 20);
}

class BlackboxPppRtkHostile : public PppRtkBaseTest {};

TEST_F(BlackboxPppRtkHostile, TwentyThousandNewStationsLeaveTheTableAtItsCap)
{
    ASSERT_NO_FATAL_FAILURE(StartWithPppRtkBase());
    long rssBefore = vorlane.StatusField("VmRSS");
    const int kStations = 20000, kCap = 10000, kBatch = 500;
    int stored = 0;
    for (int first = 1; first <= kStations; first += kBatch) {
        std::string batch;
        for (int id = first; id < first + kBatch; ++id) {
            batch += CtrlWire::Frame(44, id, PppRtkTexts::StationRequest(id, "s" + std::to_string(id)).Str());
        }
        ASSERT_TRUE(base.Send(batch));
        std::vector<Received> answers;
        ASSERT_TRUE(Sync(first, &answers)) << "the base was not answered after station " << first;
        for (const Received& r : answers) stored += r.type == 1045 ? 1 : 0;
    }
    EXPECT_EQ(stored, kCap) << "new stations past the cap were taken, or some below it lost";
    EXPECT_TRUE(vorlane.WaitForLog("10000 stations held, the cap"));
    long rssAfter = vorlane.StatusField("VmRSS");
#ifdef __SANITIZE_THREAD__
    // ThreadSanitizer's shadow of every byte touched counts in the resident set, four times over.
    const long kGrowthKb = 4 * 64 * 1024;
#else
    const long kGrowthKb = 64 * 1024;
#endif
    EXPECT_LT(rssAfter - rssBefore, kGrowthKb) << "kB grown: " << rssAfter - rssBefore;

    // A known station still changes; a removal makes room for one new one.
    std::vector<Received> answers;
    Send(44, 1, PppRtkTexts::StationRequest(7, "seven again", "10.0.0.7"));
    Send(45, 2, PppRtkTexts::StationRequest(8, "eight"));
    Send(44, 3, PppRtkTexts::StationRequest(30001, "newcomer"));
    Send(44, 4, PppRtkTexts::StationRequest(30002, "one too many"));
    ASSERT_TRUE(Sync(99, &answers));
    std::vector<uint32_t> types;
    for (const Received& r : answers) types.push_back(r.type);
    EXPECT_EQ(types, (std::vector<uint32_t>{1045, 1046, 1045}));
}

TEST_F(BlackboxPppRtkHostile, AHeaderClaiming16MBIsSkippedAndEveryReportBehindItAnswered)
{
    ASSERT_NO_FATAL_FAILURE(StartWithPppRtkBase());
    std::string liar = CtrlWire::Frame(44, 1, "", 0, 0, 16LL * 1024 * 1024).substr(0, 29);
    std::string reports;
    const int kReports = 100;
    for (int id = 1; id <= kReports; ++id) {
        reports += CtrlWire::Frame(44, id, PppRtkTexts::StationRequest(id, "r" + std::to_string(id)).Str());
    }
    ASSERT_TRUE(base.Send(liar + reports));
    std::vector<int64_t> ids;
    Received r;
    while (static_cast<int>(ids.size()) < kReports && NextFrame(&r)) {
        EXPECT_EQ(r.type, 1045u);
        int64_t ack = 0;
        ids.push_back(Item(r, &ack).Int(1));
    }
    ASSERT_EQ(static_cast<int>(ids.size()), kReports) << "reports behind the lying header went unanswered";
    for (int i = 0; i < kReports; ++i) EXPECT_EQ(ids[i], i + 1);
    EXPECT_TRUE(vorlane.WaitForLog("claims 16777216 body bytes"));
}

}  // namespace
