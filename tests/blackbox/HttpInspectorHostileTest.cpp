// Hostile clients at the HTTP inspector: requests built to crash it, headers
// without end, connections that never finish or never go, more connections
// than the process has descriptors, bytes that are not UTF-8, and an
// inspector told to listen where others can reach it. Through all of it the
// caster keeps serving its bases and rovers.
#include "blackbox/GnssFrames.h"
#include "blackbox/InspectorFixture.h"
#include "runtime/Utf8Text.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using RawPeers::LoginBase;
using RawPeers::LoginRover;
using Clock = std::chrono::steady_clock;

// Mirrors the inspector's limits.
const int kCap = 128;
const int kIdleTimeoutS = 30;

class InspectorHostile : public BlackboxInspector {
protected:
    // The local addresses (hex "ADDR:PORT" of /proc/net/tcp and tcp6) the
    // caster listens on at port.
    std::vector<std::string> ListeningAddresses(int port) const
    {
        char portHex[8];
        snprintf(portHex, sizeof(portHex), "%04X", port);
        std::vector<std::string> found;
        for (const char* table : {"tcp", "tcp6"}) {
            std::ifstream in("/proc/" + std::to_string(vorlane.Pid()) + "/net/" + table);
            std::string line;
            std::getline(in, line);  // header
            while (std::getline(in, line)) {
                std::istringstream fields(line);
                std::string slot, local, remote, state;
                fields >> slot >> local >> remote >> state;
                bool listening = state == "0A";
                if (listening && local.size() > 5 && local.substr(local.size() - 4) == portHex) found.push_back(local);
            }
        }
        return found;
    }

    // The base and the rover of every story: logged in on MNT1, the rover
    // reading what the base sends.
    void StartStreaming()
    {
        ASSERT_TRUE(LoginBase(&base_, Port(), "MNT1", "Base-Pw"));
        ASSERT_TRUE(LoginRover(&rover_, Port(), "MNT1", "alice", "Alice-Pw"));
        ExpectStreaming("before");
    }

    void ExpectStreaming(const std::string& when)
    {
        std::string chunk = GnssFrames::CounterBytes(sent_, 600);
        sent_ += chunk.size();
        ASSERT_TRUE(base_.Send(chunk)) << when;
        std::string got = rover_.ReadExactly(chunk.size(), RawPeers::kReplyMs);
        EXPECT_TRUE(got == chunk) << when << ": " << FirstDifference(got, chunk);
    }

    void AddStreamingAccounts()
    {
        ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw"));
        ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw"));
    }

    TestClient base_;
    TestClient rover_;
    uint64_t sent_ = 0;
};

// Connects n clients to port; the ones that could not connect stay closed.
std::vector<std::unique_ptr<TestClient>> ConnectMany(int port, int n)
{
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < n; ++i) {
        clients.emplace_back(new TestClient);
        clients.back()->Connect(port);
    }
    return clients;
}

// How many of the clients the peer has closed, after a short look at each.
int CountClosed(std::vector<std::unique_ptr<TestClient>>& clients)
{
    int closed = 0;
    for (auto& c : clients) {
        if (c->IsOpen() && !c->PeerClosed()) c->ReadAvailable(1);
        if (!c->IsOpen() || c->PeerClosed()) ++closed;
    }
    return closed;
}

// Polls until at least n of the clients are closed (true) or timeoutMs pass.
bool WaitClosedCount(std::vector<std::unique_ptr<TestClient>>& clients, int n, int timeoutMs, int* closed)
{
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        *closed = CountClosed(clients);
        if (*closed >= n) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

// Milliseconds of the day of each daily-log line that holds text.
std::vector<long> LineTimesMs(const std::string& log, const std::string& text)
{
    std::vector<long> times;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(text) == std::string::npos) continue;
        int h = 0, m = 0, s = 0, ms = 0;
        size_t at = line.find(' ');
        if (at != std::string::npos && sscanf(line.c_str() + at + 1, "%d:%d:%d.%d", &h, &m, &s, &ms) == 4) {
            times.push_back(((h * 60L + m) * 60L + s) * 1000L + ms);
        }
    }
    return times;
}

const std::string kRoverMembers = "\"UserName\":\"crash\",\"Password\":\"Crash-Pw\",\"UserType\":3";

}  // namespace

TEST_F(InspectorHostile, RequestsThatOnceEndedTheProcessAreRefusedWhileTheCasterStreams)
{
    ASSERT_NO_FATAL_FAILURE(AddStreamingAccounts());
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    ASSERT_NO_FATAL_FAILURE(StartStreaming());

    struct Case {
        std::string route;
        std::string body;
        std::string message;
    } cases[] = {
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Enabled\":9223372036854775808"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Enabled\":18446744073709551615"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Enabled\":-9223372036854775808"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Enabled\":184467440737095516160"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Enabled\":1e400"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Enabled\":[1]"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"Company\":9223372036854775808"), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"ExpireTime\":\"-2147483648/1/1 0:0:0\""), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"ExpireTime\":\"2030/-2147483648/1 0:0:0\""), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"ExpireTime\":\"2030/1/1 2147483647:0:0\""), kMalformed},
        {"/xqn_user/add", AddBody(kRoverMembers + ",\"ExpireTime\":\"2030/2/31 0:0:99999999999\""), kMalformed},
        {"/xqn_user/add",
         AddBody("\"UserName\":\"crash\",\"Password\":\"Crash-Pw\",\"UserType\":9223372036854775808"), "账号添加失败"},
        {"/xqn_user/add", AddBody("\"UserName\":\"crash\",\"Password\":\"Crash-Pw\",\"UserType\":-1e300"), kMalformed},
        {"/xqn_user/get", "{\"data\":[{\"UserName\":9223372036854775808}]}", kMalformed},
        {"/xqn_user/get", "{\"data\":[[\"crash\"]]}", kMalformed},
        {"/xqn_station_info", "{\"data\":[{\"MountPoint\":18446744073709551615}]}", kMalformed},
        {"/xqn_rover_info", "{\"data\":[{\"UserName\":-9223372036854775809}]}", kMalformed},
        {"/xqn_rover_info", "{\"data\":[[]]}", kMalformed},
    };
    for (const Case& c : cases) {
        ExpectEnvelope(Ask(c.route, c.body), -2, c.message, c.route + " " + c.body);
        ASSERT_TRUE(vorlane.Running()) << c.body;
    }

    // Nothing was stored, every refusal has its line, and the caster goes on.
    ExpectEnvelope(Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"crash\"}]}"), -1, "账号不存在", "after");
    EXPECT_GE(vorlane.CountInLogAtLeast("UserAddCb:request from 127.0.0.1:", 13), 13) << vorlane.LogText();
    EXPECT_TRUE(vorlane.WaitForLog("ExpireTime is not a date in range"));
    ExpectStreaming("after");
    ExpectEnvelope(Ask("/xqn_station_stat", "{\"any\":1}"), 0, "在线基站数量:1", "after");
}

TEST_F(InspectorHostile, OversizedHeadersAreRefusedAndMemoryStaysFlat)
{
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    ExpectEnvelope(Ask("/xqn_station_stat", "{\"any\":1}"), 0, "在线基站数量:0", "before");
    long before = vorlane.StatusField("VmRSS");
    ASSERT_GT(before, 0);

    // Ten clients at once, each with 2 MB of headers: held, that would be
    // 20 MB in the caster.
    const std::string head = "POST /xqn_station_stat HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string filler = "X-Filler: " + std::string(1000, 'a') + "\r\n";
    std::vector<std::unique_ptr<TestClient>> clients = ConnectMany(vorlane.HttpPort(), 10);
    for (auto& c : clients) ASSERT_TRUE(c->IsOpen() && c->Send(head));
    for (int line = 0; line < 2048; ++line) {
        for (auto& c : clients) c->Send(filler);  // fails once the inspector has given up on it
    }
    for (auto& c : clients) {
        std::string reply = c->ReadUntilEof(5000);
        EXPECT_TRUE(c->PeerClosed());
        // libevent answers 400 or 413, depending on where the limit struck.
        if (!reply.empty()) {
            EXPECT_EQ(reply.rfind("HTTP/1.1 4", 0), 0u) << Printable(reply);
        }
    }
    long after = vorlane.StatusField("VmRSS");
    EXPECT_LT(after - before, 8 * 1024) << "VmRSS " << before << " kB before, " << after << " kB after";

    // Headers of an ordinary size still pass.
    ExpectEnvelope(Ask("/xqn_station_stat", "{\"any\":1}"), 0, "在线基站数量:0", "after");
}

TEST_F(InspectorHostile, IdleAndHalfSentConnectionsAreClosedByTheTimeOut)
{
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int filesBefore = vorlane.OpenFileCount();
    ASSERT_GT(filesBefore, 0);

    // Kept alive after an answer, silent from the start, or stopped half-way
    // through a request: 200 in all, past the cap the rest are closed at once.
    std::vector<std::unique_ptr<TestClient>> clients;
    Clock::time_point opened = Clock::now();
    const std::string request = "POST /xqn_station_stat HTTP/1.1\r\nHost: x\r\nContent-Length: 9\r\n\r\n{\"any\":1}";
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back(new TestClient);
        ASSERT_TRUE(clients.back()->Connect(vorlane.HttpPort()));
        ASSERT_TRUE(clients.back()->Send(request));
        std::string reply = clients.back()->ReadUntil("\"status\":0}\n", 3000);
        ASSERT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << Printable(reply);
    }
    for (int i = 0; i < 196; ++i) {
        clients.emplace_back(new TestClient);
        if (!clients.back()->Connect(vorlane.HttpPort())) continue;
        if (i % 4 == 0) clients.back()->Send("POST /xqn_station_stat HTTP/1.1\r\nContent-Length: 100\r\n\r\n{");
        if (i % 4 == 1) clients.back()->Send("GET /xqn_rov");
    }
    int closed = 0;
    EXPECT_TRUE(WaitClosedCount(clients, 200 - kCap, 10000, &closed)) << closed;
    EXPECT_EQ(closed, 200 - kCap) << "the cap holds " << kCap;

    // The time-out closes every one of them, and their descriptors go.
    EXPECT_TRUE(WaitClosedCount(clients, 200, (kIdleTimeoutS + 15) * 1000, &closed)) << closed << " closed";
    EXPECT_GE(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - opened).count(), kIdleTimeoutS - 1);
    int filesAfter = -1;
    for (int i = 0; i < 100 && (filesAfter = vorlane.OpenFileCount()) != filesBefore; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(filesAfter, filesBefore);

    // Every place is free again.
    std::vector<std::unique_ptr<TestClient>> again = ConnectMany(vorlane.HttpPort(), kCap - 1);
    ExpectEnvelope(Ask("/xqn_station_stat", "{\"any\":1}"), 0, "在线基站数量:0", "after");
    EXPECT_EQ(CountClosed(again), 0);
}

TEST_F(InspectorHostile, EveryWayAConnectionEndsGivesItsPlaceBack)
{
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    const std::string ok = "POST /xqn_station_stat HTTP/1.1\r\nHost: x\r\nContent-Length: 9\r\n\r\n{\"any\":1}";
    const std::string endings[] = {
        ok,                                                                          // answered, kept alive
        "POST /xqn_station_stat HTTP/1.0\r\nContent-Length: 9\r\n\r\n{\"any\":1}",  // answered, closed by the server
        "POST /xqn_user/add HTTP/1.1\r\nContent-Length: 2\r\n\r\n[]",               // malformed
        "GET /nowhere HTTP/1.1\r\n\r\n",                                              // 404
        "NONSENSE\r\n\r\n",                                                           // not HTTP
        "GET /x HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n",               // headers too long
        "",                                                                          // connected, then gone
    };
    // Three times as many connections as the cap, one after the other.
    for (int round = 0; round < 3 * kCap / 7 + 1; ++round) {
        for (const std::string& bytes : endings) {
            TestClient c;
            ASSERT_TRUE(c.Connect(vorlane.HttpPort()));
            if (!bytes.empty()) {
                ASSERT_TRUE(c.Send(bytes));
                EXPECT_EQ(c.ReadUntil("\r\n", 3000).rfind("HTTP/1.", 0), 0u) << Printable(bytes);
            }
        }
    }
    // None of them holds a place: the cap less one idle client, and a
    // request (asked again while the last closes are still on their way).
    std::vector<std::unique_ptr<TestClient>> idle = ConnectMany(vorlane.HttpPort(), kCap - 1);
    Answer a;
    EXPECT_TRUE(WaitAnswer("/xqn_station_stat", "{\"any\":1}", [](const Answer& x) { return x.http == 200; }, &a));
    ExpectEnvelope(a, 0, "在线基站数量:0", "after");
    EXPECT_EQ(CountClosed(idle), 0);
}

TEST_F(InspectorHostile, IdleConnectionsPastTheCapNeverTakeTheCasterPortsDescriptors)
{
    ASSERT_NO_FATAL_FAILURE(AddStreamingAccounts());
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    // The caster gets 1,024 descriptors, as on a host with the common limit
    // (it raises its soft limit to the hard one at start, so both are set
    // from here); the test itself needs more than that for its clients.
    struct rlimit small = {1024, 1024};
    ASSERT_EQ(prlimit(vorlane.Pid(), RLIMIT_NOFILE, &small, nullptr), 0) << strerror(errno);
    struct rlimit own;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
    if (own.rlim_cur < 1400 && own.rlim_max >= 1400) {
        own.rlim_cur = 1400;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &own), 0);
    }
    ASSERT_GE(own.rlim_cur, 1400u) << "the test needs 1,400 descriptors of its own";
    std::string limits;
    {
        std::ifstream in("/proc/" + std::to_string(vorlane.Pid()) + "/limits");
        std::stringstream text;
        text << in.rdbuf();
        limits = text.str();
    }
    ASSERT_NE(limits.find("Max open files            1024"), std::string::npos) << limits;

    std::vector<std::unique_ptr<TestClient>> idle = ConnectMany(vorlane.HttpPort(), 1100);
    int closed = 0;
    EXPECT_TRUE(WaitClosedCount(idle, 1100 - kCap, 20000, &closed)) << closed;
    EXPECT_EQ(closed, 1100 - kCap);

    // The caster port still takes a base and a rover, and the base streams.
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    ExpectStreaming("with the inspector full");

    // The refusals were logged, never twice within a second.
    std::vector<long> lines = LineTimesMs(vorlane.LogText(), "new connections refused");
    EXPECT_GE(lines.size(), 1u);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_GE(lines[i] - lines[i - 1], 900) << "refusal lines " << i - 1 << " and " << i;
    }

    // Once the idle clients go, the inspector serves again.
    idle.clear();
    Answer a;
    EXPECT_TRUE(WaitAnswer("/xqn_station_stat", "{\"any\":1}", [](const Answer& x) { return x.http == 200; }, &a))
        << Printable(a.raw);
    ExpectEnvelope(a, 0, "在线基站数量:1", "after");
    ExpectStreaming("after");
}

TEST_F(InspectorHostile, TextsThatAreNotUtf8AreRefusedAndEveryAnswerIsUtf8)
{
    // Stored before this inspector existed, and sent by clients at login.
    ASSERT_TRUE(vorlane.AddRoverAccount("old\xff" "name", "Old-Pw"));
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT\xfe", "Base-Pw"));
    ASSERT_TRUE(vorlane.AddRoverAccount("rov\xc0", "Rov-Pw"));
    ASSERT_NO_FATAL_FAILURE(StartInspector());

    const std::string refused[] = {
        "\"UserName\":\"bad\xff\",\"Password\":\"p\",\"UserType\":3",
        "\"UserName\":\"bad1\",\"Password\":\"p\xed\xa0\x80\",\"UserType\":3",
        "\"UserName\":\"bad2\",\"Password\":\"p\",\"UserType\":3,\"Company\":\"\xe6\xb5\"",
        "\"UserName\":\"bad3\",\"Password\":\"p\",\"UserType\":2,\"Mail\":\"\xc0\xafx\"",
    };
    for (const std::string& members : refused) {
        ExpectEnvelope(Ask("/xqn_user/add", AddBody(members)), -2, kMalformed, Printable(members));
    }
    ExpectEnvelope(Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"bad1\"},{\"UserName\":\"bad2\"},"
                                        "{\"UserName\":\"bad3\"},{\"UserName\":\"bad\xff\"}]}"),
                   -1, "账号不存在", "refused adds");

    TestClient base;
    ASSERT_TRUE(LoginBase(&base, Port(), "MNT\xfe", "Base-Pw"));
    TestClient rover;
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNT\xfe", "rov\xc0", "Rov-Pw"));

    Answer users = Ask("/xqn_user/get", "{\"any\":1}");
    ExpectEnvelope(users, 0, "查询成功", "users");
    EXPECT_TRUE(Utf8_IsValid(users.raw.data(), users.raw.size())) << Printable(users.raw);
    EXPECT_EQ(Names(users.json["data"], "UserName"), (std::set<std::string>{"old?name", "MNT?", "rov?"}));

    Answer a;
    ASSERT_TRUE(WaitAnswer("/xqn_rover_stat", "{\"any\":1}", [](const Answer& x) { return x.json["data"].size() == 1; },
                           &a));
    for (const char* route : {"/xqn_station_stat", "/xqn_rover_stat", "/xqn_station_info", "/xqn_rover_info"}) {
        Answer answer = Ask(route, "{\"any\":1}");
        ASSERT_TRUE(answer.ran) << route;
        EXPECT_EQ(answer.http, 200) << route;
        EXPECT_TRUE(Utf8_IsValid(answer.raw.data(), answer.raw.size())) << route << ": " << Printable(answer.raw);
        ASSERT_TRUE(answer.json.isObject()) << route << ": " << Printable(answer.raw);
        ASSERT_EQ(answer.json["data"].size(), 1u) << route;
    }
    EXPECT_EQ(Ask("/xqn_station_stat", "{\"any\":1}").json["data"][0]["MountPoint"].asString(), "MNT?");
    EXPECT_EQ(Ask("/xqn_rover_stat", "{\"any\":1}").json["data"][0]["UserName"].asString(), "rov?");
    Answer info = Ask("/xqn_station_info", "{\"any\":1}");
    EXPECT_EQ(Names(info.json["data"][0]["RoverName"], "UserName"), std::set<std::string>{"rov?"});
}

TEST_F(InspectorHostile, WithoutAnIpTheInspectorListensOnLoopbackOnly)
{
    vorlane.RemoveConfig("http_server", "ip");
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    char port[8];
    snprintf(port, sizeof(port), "%04X", vorlane.HttpPort());
    EXPECT_EQ(ListeningAddresses(vorlane.HttpPort()), std::vector<std::string>{std::string("0100007F:") + port});
    EXPECT_EQ(vorlane.CountInLog("is not a loopback address"), 0);
    ExpectEnvelope(Ask("/xqn_station_stat", "{\"any\":1}"), 0, "在线基站数量:0", "loopback");
}

TEST_F(InspectorHostile, AnAddressOthersCanReachIsWarnedOfAtStart)
{
    // Not an address of this host: the bind fails, and nothing is exposed.
    vorlane.SetConfigText("http_server", "ip", "192.0.2.1");
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    EXPECT_TRUE(vorlane.WaitForLog("HttpInspectorLoop:http ip:192.0.2.1 is not a loopback address", 10000))
        << vorlane.LogText();
    EXPECT_TRUE(vorlane.WaitForLog("HttpInspectorLoop:http ip:192.0.2.1, port=" + std::to_string(vorlane.HttpPort()) +
                                   ", start fail"));
}
