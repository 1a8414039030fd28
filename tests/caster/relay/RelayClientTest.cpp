// The relay client against an upstream caster written here, over loopback:
// the request bytes, the reply check, the first message, and one end per
// relay whatever ends it, without blocking the loop or leaking sockets.
#include "caster/relay/RelayClient.h"
#include "net/NHServerTesting.h"
#include "runtime/Log.h"
#include "support/FakeUpstream.h"
#include "support/OnLoop.h"
#include "support/TempDir.h"
#include "support/TestClient.h"
#include "support/WaitFor.h"

#include <dirent.h>
#include <event2/dns.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the server's and the relay's callbacks saw, in order. The callbacks carry no context
// argument, so one recorder serves the test process.
struct Recorder {
    struct Closed {
        std::string name;
        int state;
        uint64_t relayChannelID;
        uint64_t roverChannelID;
        std::string account;
        bool hadRequest;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    std::vector<Closed> closed;
    std::map<uint64_t, std::string> received;
    std::map<uint64_t, int> openKind;
    std::vector<uint64_t> connected;
    std::vector<std::string> verified;

    static Recorder& Get()
    {
        static Recorder r;
        return r;
    }
    void Add(const std::string& event)
    {
        Add(event, [] {});
    }
    // The event and what change records it in one hold: a story that waits
    // for the change finds the event there too.
    template <typename Change>
    void Add(const std::string& event, Change change)
    {
        {
            std::lock_guard<std::mutex> guard(mutex);
            change();
            events.push_back(event);
        }
        changed.notify_all();
    }
    template <typename Pred>
    bool WaitFor(Pred pred, int timeoutMs = 3000)
    {
        return ::WaitFor(mutex, changed, pred, timeoutMs);
    }
    size_t ClosedCount()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return closed.size();
    }
    bool WaitClosed(size_t n, int timeoutMs = 3000)
    {
        return WaitFor([&] { return closed.size() >= n; }, timeoutMs);
    }
    Closed LastClosed()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return closed.empty() ? Closed{} : closed.back();
    }
    size_t IndexOf(const std::string& event)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
    }
    // The last time the event came, or events.size() when never.
    size_t LastIndexOf(const std::string& event)
    {
        std::lock_guard<std::mutex> guard(mutex);
        auto last = std::find(events.rbegin(), events.rend(), event);
        return last == events.rend() ? events.size() : static_cast<size_t>(events.rend() - last - 1);
    }

    static void Open(uint64_t id, const char* ip, int port, int kind)
    {
        Recorder& r = Get();
        r.Add("open:" + std::to_string(id) + ":" + std::to_string(kind) + ":" + ip + ":" + std::to_string(port),
              [&] { r.openKind[id] = kind; });
    }
    static void Close(uint64_t id, int reason)
    {
        Get().Add("close:" + std::to_string(id) + ":" + std::to_string(reason));
    }
    static void Read(uint64_t id, const char* bytes, int length)
    {
        Recorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            if (r.received[id].empty()) r.events.push_back("read:" + std::to_string(id));
            r.received[id].append(bytes, static_cast<size_t>(length));
        }
        r.changed.notify_all();
    }
    static void Connected(uint64_t id, void* arg)
    {
        RelayContext* context = static_cast<RelayContext*>(arg);
        Recorder& r = Get();
        r.Add("connected:" + std::to_string(id) + ":" + std::to_string(context->relayChannelID),
              [&] { r.connected.push_back(id); });
    }
    static void Verified(void* arg)
    {
        RelayContext* context = static_cast<RelayContext*>(arg);
        Recorder& r = Get();
        r.Add("verified:" + std::string(context->name) + ":" + std::to_string(context->state),
              [&] { r.verified.push_back(context->name); });
    }
    static void RelayClosed(void* arg)
    {
        RelayContext* context = static_cast<RelayContext*>(arg);
        Recorder& r = Get();
        r.Add("closed:" + std::string(context->name) + ":" + std::to_string(context->state), [&] {
            r.closed.push_back(Closed{context->name, context->state, context->relayChannelID, context->roverChannelID,
                                      context->account, context->request != nullptr});
        });
    }
};

const RelayClientCallbacks kRelayCallbacks = {Recorder::Connected, Recorder::Verified, Recorder::RelayClosed};

int OpenFileCount()
{
    int n = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++n;
    }
    closedir(dir);
    return n - 1;  // the directory itself
}

class RelayClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, Log_Init(tmp_.File("relay").c_str()));
        NHServerCallbacks callbacks = {};
        callbacks.open = Recorder::Open;
        callbacks.close = Recorder::Close;
        callbacks.read = Recorder::Read;
        server_ = NHServer_Create(&callbacks);
        loop_ = std::thread([this] { NHServer_Run(server_, "127.0.0.1", 0, NHSERVER_MODE_LISTEN); });
        WaitFor([this] { return NHServer_ListenPort(server_) != 0; }, 5000, 1);
        ASSERT_NE(0, NHServer_ListenPort(server_));
    }

    void TearDown() override
    {
        NHServer_Destroy(server_);
        loop_.join();
        NHServer_Free(server_);
    }

    // A relay to host:port/UP with the credentials user:pass. A rover relay
    // when roverChannelID is not 0.
    RelayContext* MakeRelay(const char* host, int port, uint64_t roverChannelID = 0, int protocol = 1,
                            const char* upstreamMount = "UP", const char* firstMessage = nullptr)
    {
        RelayRequest* request = RelayRequest_New();
        request->protocol = protocol;
        snprintf(request->upstreamHost, sizeof(request->upstreamHost), "%s", host);
        request->upstreamPort = port;
        snprintf(request->upstreamMount, sizeof(request->upstreamMount), "%s", upstreamMount);
        snprintf(request->localMount, sizeof(request->localMount), "LOCAL");
        snprintf(request->credentials, sizeof(request->credentials), "user:pass");
        RelayAccountList::Base64Encode(request->credentialsBase64, sizeof(request->credentialsBase64), "user:pass");
        RelayContext* context = RelayContext_New();
        RelayContext_Init(context, request, server_, "LOCAL", roverChannelID, "alice", firstMessage);
        context->callbacks = &kRelayCallbacks;
        return context;
    }

    std::shared_ptr<FakeUpstream::Conn> Accepted(FakeUpstream& upstream, size_t index = 0)
    {
        auto conn = upstream.WaitConnection(index);
        EXPECT_NE(nullptr, conn);
        return conn;
    }

    // A client of the caster port, standing in for a rover: its channelID.
    uint64_t ConnectRover(TestClient& client)
    {
        Recorder& r = Recorder::Get();
        size_t before;
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            before = r.openKind.size();
        }
        if (!client.Connect(NHServer_ListenPort(server_))) return 0;
        if (!r.WaitFor([&] { return r.openKind.size() > before; })) return 0;
        std::lock_guard<std::mutex> guard(r.mutex);
        uint64_t newest = 0;
        for (const auto& kv : r.openKind) newest = std::max(newest, kv.first);
        return newest;
    }

    TempDir tmp_;
    NHServer* server_ = nullptr;
    std::thread loop_;
    Recorder& rec_ = Recorder::Get();
};

const char kNtrip1Request[] =
    "GET /UP HTTP/1.0\r\n"
    "User-Agent: NTRIP RTKLIB/2.4.3\r\n"
    "Authorization: Basic dXNlcjpwYXNz\r\n\r\n";

}  // namespace

TEST(RelayRequestTest, RequestTextsOfBothProtocols)
{
    RelayRequest request{};
    snprintf(request.upstreamHost, sizeof(request.upstreamHost), "caster.example");
    snprintf(request.credentialsBase64, sizeof(request.credentialsBase64), "dXNlcjpwYXNz");
    struct Case {
        int protocol;
        const char* mount;
        std::string text;
    } cases[] = {
        {1, "UP", kNtrip1Request},
        {0, "UP", kNtrip1Request},
        {3, "UP", kNtrip1Request},
        {2, "/UP",
         "GET /UP HTTP/1.0\r\nHost: caster.example\r\nNtrip-Version: Ntrip/2.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\n"
         "Referer: RELAY\r\nConnection: close\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n"},
        {2, "UP",
         "GET UP HTTP/1.0\r\nHost: caster.example\r\nNtrip-Version: Ntrip/2.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\n"
         "Referer: RELAY\r\nConnection: close\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n"},
    };
    for (const Case& c : cases) {
        request.protocol = c.protocol;
        snprintf(request.upstreamMount, sizeof(request.upstreamMount), "%s", c.mount);
        char out[RELAY_REQUEST_MAX];
        int length = Relay_FormatRequest(&request, out, sizeof(out));
        EXPECT_EQ(c.text, std::string(out, length > 0 ? static_cast<size_t>(length) : 0)) << c.protocol;
    }
    char small[16];
    EXPECT_EQ(-1, Relay_FormatRequest(&request, small, sizeof(small)));
    EXPECT_EQ(-1, Relay_FormatRequest(nullptr, small, sizeof(small)));

    // Every field full to its last byte, with no NUL in it: bounded, and it fits.
    RelayRequest full;
    memset(&full, 'x', sizeof(full));
    full.protocol = 2;
    full.account = nullptr;
    char out[RELAY_REQUEST_MAX];
    int length = Relay_FormatRequest(&full, out, sizeof(out));
    EXPECT_GT(length, 0);
    EXPECT_EQ(std::string(RELAY_TEXT_SIZE, 'x'), std::string(out + 4, RELAY_TEXT_SIZE));
}

TEST(RelayRequestTest, RequestFromAPoolMountCarriesItsAccount)
{
    std::unique_ptr<RelayAccountList> pool(RelayAccountList::Create());
    ASSERT_EQ(0, pool->AddRelayMount("LOCAL", "caster.example", 2101, "UP"));
    RelayAccount* account = pool->AddAccount("user:pass");
    ASSERT_EQ(0, pool->AttachAccount("LOCAL", account));
    RelayRequest request{};
    ASSERT_EQ(1, RelayRequest_FromMount(&request, pool->FindMount("LOCAL"), pool->TakeIdleAccount("LOCAL")));
    EXPECT_EQ(RELAY_PROTOCOL_NTRIP1, request.protocol);
    EXPECT_STREQ("caster.example", request.upstreamHost);
    EXPECT_EQ(2101, request.upstreamPort);
    EXPECT_STREQ("UP", request.upstreamMount);
    EXPECT_STREQ("LOCAL", request.localMount);
    EXPECT_STREQ("user:pass", request.credentials);
    EXPECT_STREQ("dXNlcjpwYXNz", request.credentialsBase64);
    EXPECT_EQ(account, request.account);
    char out[RELAY_REQUEST_MAX];
    EXPECT_EQ(std::string(kNtrip1Request), std::string(out, Relay_FormatRequest(&request, out, sizeof(out))));
    EXPECT_EQ(0, RelayRequest_FromMount(&request, nullptr, account));
}

TEST(RelayContextTest, InitNamesRoverAndSystemRelaysAndKeepsOnlyTheFirstSentence)
{
    RelayRequest* request = RelayRequest_New();
    snprintf(request->localMount, sizeof(request->localMount), "SYSMOUNT");
    RelayContext* context = RelayContext_New();
    EXPECT_EQ(1, RelayContext_Init(context, request, nullptr, "LOCAL", 0x1FFFFFFFFull, "alice",
                                   "$GPGGA,1*00\r\n$GPRMC,2*00\r\n"));
    EXPECT_STREQ("LOCAL--1", context->name);  // the channel's low word as a signed number
    EXPECT_STREQ("alice", context->account);
    EXPECT_EQ("$GPGGA,1*00\r\n", std::string(context->firstMessage, context->firstMessageLength));
    EXPECT_EQ(RELAY_READ_TIMEOUT_S, context->readTimeout.tv_sec);

    std::string longSentence(RELAY_FIRST_MESSAGE_MAX + 500, 'G');
    EXPECT_EQ(1, RelayContext_Init(context, request, nullptr, "LOCAL", 42, "alice", longSentence.c_str()));
    EXPECT_STREQ("LOCAL-42", context->name);
    EXPECT_EQ(static_cast<size_t>(RELAY_FIRST_MESSAGE_MAX), context->firstMessageLength);

    std::string longAccount(200, 'a');
    EXPECT_EQ(1, RelayContext_Init(context, request, nullptr, "LOCAL", 0, longAccount.c_str(), "$GPGGA\n"));
    EXPECT_STREQ("SYSMOUNT", context->name);
    EXPECT_STREQ(RELAY_SYSTEM_ACCOUNT, context->account);
    EXPECT_EQ(0u, context->firstMessageLength);
    EXPECT_EQ(nullptr, context->firstMessage);
    EXPECT_EQ(0, RelayContext_Init(nullptr, request, nullptr, "LOCAL", 0, "", ""));
    RelayContext_Free(context);  // frees the request too
}

TEST_F(RelayClientTest, SystemRelaySendsTheNtrip1RequestAndRelaysTheStreamAfterIcy)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    uint64_t before = NetHandle_LastChannelId();
    ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", upstream.Port())));
    auto conn = Accepted(upstream);
    ASSERT_TRUE(conn->WaitFor("\r\n\r\n"));
    ASSERT_TRUE(rec_.WaitFor([&] { return !rec_.verified.empty(); }));
    uint64_t relay = rec_.connected.at(0);
    EXPECT_EQ(before + 1, relay);  // the next ID of the process-wide counter
    std::string port = std::to_string(upstream.Port());
    EXPECT_LT(rec_.IndexOf("open:" + std::to_string(relay) + ":1:127.0.0.1:" + port),
              rec_.IndexOf("connected:" + std::to_string(relay) + ":0"));
    EXPECT_EQ("LOCAL", rec_.verified.at(0));

    // The stream reaches the read callback byte for byte; the reply does not.
    std::string stream;
    for (int i = 0; i < 5000; ++i) stream.push_back(static_cast<char>((i * 37) & 0xff));
    conn->Send(stream);
    ASSERT_TRUE(rec_.WaitFor([&] { return rec_.received[relay].size() >= stream.size(); }));
    EXPECT_EQ(stream, rec_.received[relay]);
    EXPECT_EQ(kNtrip1Request, conn->Received());  // no NUL, no first message, nothing sent since

    conn->Close();
    ASSERT_TRUE(rec_.WaitClosed(1));
    EXPECT_EQ(1u, rec_.ClosedCount());
    Recorder::Closed closed = rec_.LastClosed();
    EXPECT_EQ(1, closed.state);
    EXPECT_EQ(relay, closed.relayChannelID);
    EXPECT_EQ("SYSTEM", closed.account);
    EXPECT_TRUE(closed.hadRequest);
    EXPECT_LT(rec_.IndexOf("close:" + std::to_string(relay) + ":2"), rec_.IndexOf("closed:LOCAL:1"));
}

TEST_F(RelayClientTest, RoverRelaySendsOnlyTheFirstSentenceOnceAccepted)
{
    for (int protocol : {1, 2}) {
        FakeUpstream upstream("HTTP/1.1 200 OK\r\nContent-Type: gnss/data\r\n\r\n");
        size_t closedBefore = rec_.ClosedCount();
        const char* gga = "$GPGGA,023035.00,3030.0,N,11420.0,E,4,12,0.8,30.1,M,-10.2,M,1.0,0000*5C\r\n";
        std::string sentences = std::string(gga) + "$GPGSV,3,1,12*70\r\n";
        const char* mount = protocol == 2 ? "/UP" : "UP";  // 2.0 sends the mount as stored
        ASSERT_EQ(0, Relay_Connect(MakeRelay("localhost", upstream.Port(), 77, protocol, mount, sentences.c_str())));
        auto conn = Accepted(upstream);
        ASSERT_TRUE(conn->WaitFor(gga));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // nothing may follow it
        std::string expected = protocol == 2 ? "GET /UP HTTP/1.0\r\nHost: localhost\r\nNtrip-Version: Ntrip/2.0\r\n"
                                               "User-Agent: NTRIP RTKLIB/2.4.3\r\nReferer: RELAY\r\n"
                                               "Connection: close\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n"
                                             : "GET /UP HTTP/1.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\n"
                                               "Authorization: Basic dXNlcjpwYXNz\r\n\r\n";
        EXPECT_EQ(expected + gga, conn->Received()) << protocol;
        conn->Close();
        ASSERT_TRUE(rec_.WaitClosed(closedBefore + 1));
        Recorder::Closed closed = rec_.LastClosed();
        EXPECT_EQ("LOCAL-77", closed.name);
        EXPECT_EQ("alice", closed.account);
        EXPECT_EQ(77u, closed.roverChannelID);
        EXPECT_EQ(1, closed.state);
    }
}

// What the upstream sent behind its reply, in the same segment, is the
// stream's start: the read callback gets it once the relay is verified.
TEST_F(RelayClientTest, TheBytesBehindTheReplyAreReadAfterTheVerifiedCallback)
{
    std::string stream;
    for (int i = 0; i < 3000; ++i) stream.push_back(static_cast<char>((i * 41 + 211) & 0xff));
    for (const std::string& reply : {std::string("ICY 200 OK\r\n\r\n"), std::string("ICY 200 OK\r\n"),
                                     std::string("HTTP/1.1 200 OK\r\nContent-Type: gnss/data\r\n\r\n")}) {
        SCOPED_TRACE(reply);
        size_t closedBefore = rec_.ClosedCount();
        size_t connectedBefore = rec_.connected.size();
        FakeUpstream::Behaviour answer;
        answer.reply = reply + stream;
        FakeUpstream upstream(answer);
        ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", upstream.Port())));
        ASSERT_TRUE(rec_.WaitFor([&] { return rec_.connected.size() > connectedBefore; }));
        uint64_t relay = rec_.connected.back();
        ASSERT_TRUE(rec_.WaitFor([&] { return rec_.received[relay].size() >= stream.size(); }));
        EXPECT_EQ(stream, rec_.received[relay]);
        size_t read = rec_.IndexOf("read:" + std::to_string(relay));
        EXPECT_LT(rec_.IndexOf("connected:" + std::to_string(relay) + ":" + std::to_string(relay)), read);
        EXPECT_LT(rec_.LastIndexOf("verified:LOCAL:1"), read);
        Accepted(upstream)->Close();
        ASSERT_TRUE(rec_.WaitClosed(closedBefore + 1));
    }
}

// A chunked stream reaches the read callback as its data alone; its last
// chunk ends the relay (verified, closed with reason 2), and so does framing
// that is not chunked, after the data before it.
TEST_F(RelayClientTest, AChunkedStreamIsReadAsItsDataUntilItEnds)
{
    const std::string a(700, 'a');
    const std::string b = "bb\r\n0\r\n\r\nb";
    struct Case {
        const char* story;
        std::string rest;  // after the first chunk
    } cases[] = {
        {"the last chunk", FakeUpstream::Chunk(b, ";k=v") + FakeUpstream::Chunk("") + "\r\nnot the stream"},
        {"bad framing", FakeUpstream::Chunk(b) + "zz\r\nnot the stream"},
    };
    size_t n = rec_.ClosedCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        FakeUpstream::Behaviour answer;
        answer.reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + FakeUpstream::Chunk(a);
        FakeUpstream upstream(answer);
        size_t connectedBefore = rec_.connected.size();
        ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", upstream.Port())));
        ASSERT_TRUE(rec_.WaitFor([&] { return rec_.connected.size() > connectedBefore; }));
        uint64_t relay = rec_.connected.back();
        ASSERT_TRUE(rec_.WaitFor([&] { return rec_.received[relay].size() >= a.size(); }));
        Accepted(upstream)->Send(c.rest);
        ASSERT_TRUE(rec_.WaitClosed(++n));
        EXPECT_EQ(a + b, rec_.received[relay]);
        EXPECT_EQ(1, rec_.LastClosed().state);
        EXPECT_LT(rec_.IndexOf("close:" + std::to_string(relay) + ":2"), rec_.LastIndexOf("closed:LOCAL:1"));
        EXPECT_TRUE(Accepted(upstream)->WaitEnded());
    }
}

TEST_F(RelayClientTest, AReplyCutInTwoIsStillAccepted)
{
    FakeUpstream::Behaviour cut;
    cut.reply = "IC";
    cut.replyRest = "Y 200 OK\r\n\r\n";
    cut.delayMs = 100;
    FakeUpstream upstream(cut);
    ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", upstream.Port())));
    ASSERT_TRUE(rec_.WaitFor([&] { return !rec_.verified.empty(); }));
    Accepted(upstream)->Close();
    ASSERT_TRUE(rec_.WaitClosed(1));
    EXPECT_EQ(1, rec_.LastClosed().state);
}

// A refusal ends the relay (its channel closed with reason 2, then the
// closed callback) and shuts the rover's connection down: another status, a
// 200 whose header runs past 8 KiB, a transfer coding other than chunked.
TEST_F(RelayClientTest, RefusalsEndTheRelayAndTheRover)
{
    const std::string refusals[] = {"HTTP/1.0 401 Unauthorized\r\n\r\n", "SOURCETABLE 200 OK\r\n\r\nENDSOURCETABLE\r\n",
                                    "ERROR - Bad Password\r\n",
                                    "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(2 << 20, 'p') + "\r\n\r\n",
                                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n"};
    size_t n = 0;
    for (const std::string& text : refusals) {
        const std::string reply = text.substr(0, 40);
        FakeUpstream::Behaviour refuse;
        refuse.reply = text;
        FakeUpstream upstream(refuse);
        TestClient rover;
        uint64_t roverID = ConnectRover(rover);
        ASSERT_NE(0u, roverID);
        ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", upstream.Port(), roverID)));
        ASSERT_TRUE(rec_.WaitClosed(++n)) << reply;
        Recorder::Closed closed = rec_.LastClosed();
        EXPECT_EQ(-2, closed.state) << reply;
        EXPECT_NE(0u, closed.relayChannelID);
        EXPECT_LT(rec_.IndexOf("close:" + std::to_string(closed.relayChannelID) + ":2"),
                  rec_.IndexOf("closed:" + closed.name + ":-2"));
        EXPECT_TRUE(rover.WaitClosed()) << reply;
        EXPECT_TRUE(Accepted(upstream)->WaitEnded()) << reply;
    }
    EXPECT_TRUE(rec_.verified.empty());
}

TEST_F(RelayClientTest, SilencePastTheTimeOutEndsTheRelayOnce)
{
    FakeUpstream upstream("");
    RelayContext* context = MakeRelay("127.0.0.1", upstream.Port());
    context->readTimeout = {0, 300000};
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, Relay_Connect(context));
    ASSERT_TRUE(Accepted(upstream)->WaitFor("\r\n\r\n"));
    ASSERT_TRUE(rec_.WaitClosed(1));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(280));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
    Recorder::Closed closed = rec_.LastClosed();
    EXPECT_EQ(-1, closed.state);
    EXPECT_NE(std::string::npos, rec_.IndexOf("close:" + std::to_string(closed.relayChannelID) + ":2"));
    EXPECT_TRUE(Accepted(upstream)->WaitEnded());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(1u, rec_.ClosedCount());
}

// A reply whose end never comes (header lines without the empty line) is
// waited for only as long as the time-out: the relay is never verified.
TEST_F(RelayClientTest, AReplyThatNeverEndsIsLeftAtTheTimeOut)
{
    FakeUpstream upstream("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nContent-Type: gnss/data\r\n");
    RelayContext* context = MakeRelay("127.0.0.1", upstream.Port());
    context->readTimeout = {0, 300000};
    ASSERT_EQ(0, Relay_Connect(context));
    ASSERT_TRUE(rec_.WaitClosed(1));
    EXPECT_EQ(-1, rec_.LastClosed().state);
    EXPECT_TRUE(rec_.verified.empty());
    EXPECT_TRUE(rec_.received.empty());
    EXPECT_TRUE(Accepted(upstream)->WaitEnded());
}

// Closes by command (a base timeout, a kick, a relogin) end the relay too,
// before and after the upstream has accepted, exactly once.
TEST_F(RelayClientTest, ACloseByCommandEndsTheRelayExactlyOnce)
{
    FakeUpstream silent("");
    RelayContext* waiting = MakeRelay("127.0.0.1", silent.Port());
    waiting->readTimeout = {0, 300000};
    ASSERT_EQ(0, Relay_Connect(waiting));
    ASSERT_TRUE(Accepted(silent)->WaitFor("\r\n\r\n"));
    ASSERT_TRUE(rec_.WaitFor([&] { return rec_.connected.size() == 1; }));
    uint64_t first = rec_.connected[0];
    NHServer_PostClose(server_, first);
    ASSERT_TRUE(rec_.WaitClosed(1));
    EXPECT_EQ(0, rec_.LastClosed().state);  // never answered, never failed
    EXPECT_LT(rec_.IndexOf("close:" + std::to_string(first) + ":1"), rec_.IndexOf("closed:LOCAL:0"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the time-out: nothing more
    EXPECT_EQ(1u, rec_.ClosedCount());

    FakeUpstream accepting("ICY 200 OK\r\n\r\n");
    ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", accepting.Port())));
    ASSERT_TRUE(rec_.WaitFor([&] { return rec_.verified.size() == 1; }));
    uint64_t second = rec_.connected.at(1);
    NHServer_PostClose(server_, second);
    NHServer_PostClose(server_, second);
    ASSERT_TRUE(rec_.WaitClosed(2));
    EXPECT_EQ(1, rec_.LastClosed().state);
    EXPECT_TRUE(Accepted(accepting)->WaitEnded());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(2u, rec_.ClosedCount());
}

TEST_F(RelayClientTest, UnreachableUpstreamEndsWithoutAChannel)
{
    int port = TestClient_FreePort();
    ASSERT_EQ(0, Relay_Connect(MakeRelay("127.0.0.1", port)));
    ASSERT_TRUE(rec_.WaitClosed(1));
    Recorder::Closed closed = rec_.LastClosed();
    EXPECT_EQ(-1, closed.state);
    EXPECT_EQ(0u, closed.relayChannelID);
    std::lock_guard<std::mutex> guard(rec_.mutex);
    EXPECT_TRUE(rec_.openKind.empty());
    EXPECT_TRUE(rec_.connected.empty());
}

TEST_F(RelayClientTest, UnresolvableHostEndsTheRelay)
{
    RelayContext* context = MakeRelay("nonexistent.invalid", 2101);
    context->readTimeout = {3, 0};  // whether or not a name server answers here
    ASSERT_EQ(0, Relay_Connect(context));
    ASSERT_TRUE(rec_.WaitClosed(1, 5000));
    EXPECT_EQ(-1, rec_.LastClosed().state);
    EXPECT_EQ(0u, rec_.LastClosed().relayChannelID);
    RelayContext* empty = MakeRelay("", 2101);
    ASSERT_EQ(0, Relay_Connect(empty));
    ASSERT_TRUE(rec_.WaitClosed(2, 5000));
    EXPECT_EQ(-1, rec_.LastClosed().state);
}

// A name server that never answers: the loop goes on serving while the lookup
// waits, and the time-out ends the relay and drops the lookup.
TEST_F(RelayClientTest, ALookupThatHangsNeitherBlocksTheLoopNorOutlivesTheTimeOut)
{
    int dnsFd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(0, bind(dnsFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, getsockname(dnsFd, reinterpret_cast<sockaddr*>(&addr), &len));
    std::string nameserver = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    ASSERT_TRUE(OnLoop(server_, [&] {
        struct evdns_base* dns = NHServer_DnsBase(server_);
        evdns_base_clear_nameservers_and_suspend(dns);
        evdns_base_nameserver_ip_add(dns, nameserver.c_str());
        evdns_base_resume(dns);
    }));

    RelayContext* context = MakeRelay("relay-upstream.example", 2101);
    context->readTimeout = {0, 600000};
    ASSERT_EQ(0, Relay_Connect(context));
    pollfd p{dnsFd, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 2000));  // the query went out
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(OnLoop(server_, [] {}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(0u, rec_.ClosedCount());

    ASSERT_TRUE(rec_.WaitClosed(1));
    EXPECT_EQ(-1, rec_.LastClosed().state);
    close(dnsFd);
}

TEST_F(RelayClientTest, OpenFileCountStaysFlatOverFailedAttempts)
{
    FakeUpstream::Behaviour refuse;
    refuse.reply = "HTTP/1.0 401 Unauthorized\r\n\r\n";
    refuse.closeAfterReply = true;
    FakeUpstream refusing(refuse);
    int unreachable = TestClient_FreePort();
    auto attempt = [&](int i) {
        const char* host = i % 3 == 2 ? "nonexistent.invalid" : "127.0.0.1";
        int port = i % 3 == 0 ? unreachable : refusing.Port();
        RelayContext* context = MakeRelay(host, port);
        context->readTimeout = {1, 0};
        return Relay_Connect(context);
    };
    for (int i = 0; i < 3; ++i) ASSERT_EQ(0, attempt(i));  // the resolver's sockets open once
    ASSERT_TRUE(rec_.WaitClosed(3, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int before = OpenFileCount();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(0, attempt(i));
        ASSERT_TRUE(rec_.WaitClosed(static_cast<size_t>(4 + i), 5000));
    }
    ASSERT_TRUE(refusing.WaitConnection(7));  // i % 3 == 1, warm-up included
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the upstream's own sockets close
    EXPECT_EQ(before, OpenFileCount());
    std::lock_guard<std::mutex> guard(rec_.mutex);
    for (const Recorder::Closed& c : rec_.closed) EXPECT_TRUE(c.state == -1 || c.state == -2) << c.state;
}

TEST_F(RelayClientTest, ARelayStartedOnTheLoopItselfRuns)
{
    FakeUpstream upstream("ICY 200 OK\r\n\r\n");
    RelayContext* context = MakeRelay("127.0.0.1", upstream.Port());
    int result = -1;
    ASSERT_TRUE(OnLoop(server_, [&] { result = Relay_Connect(context); }));  // as the 5000 ms tick does
    EXPECT_EQ(0, result);
    ASSERT_TRUE(rec_.WaitFor([&] { return rec_.verified.size() == 1; }));
    Accepted(upstream)->Close();
    ASSERT_TRUE(rec_.WaitClosed(1));
}

TEST_F(RelayClientTest, ARelayThatCannotStartEndsAtOnce)
{
    EXPECT_EQ(1, Relay_Connect(nullptr));
    RelayContext* noServer = MakeRelay("127.0.0.1", 1);
    noServer->server = nullptr;
    EXPECT_EQ(1, Relay_Connect(noServer));  // freed, no callback to call
    EXPECT_EQ(0u, rec_.ClosedCount());
    RelayContext* noRequest = MakeRelay("127.0.0.1", 1);
    RelayRequest* request = noRequest->request;
    noRequest->request = nullptr;
    delete request;
    EXPECT_EQ(1, Relay_Connect(noRequest));
    EXPECT_EQ(1u, rec_.ClosedCount());  // on this thread, before the return
    EXPECT_FALSE(rec_.LastClosed().hadRequest);
}
