// Calls posted onto the loop, the per-connection close hook, the loop's
// resolver, and the outgoing connections and publisher changes an owner
// makes on the loop with them.
#include "NetHarness.h"
#include "support/OnLoop.h"

#include <arpa/inet.h>
#include <event2/bufferevent.h>
#include <event2/dns.h>
#include <event2/event.h>
#include <event2/util.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

namespace {

struct HookLog {
    std::mutex mutex;
    std::vector<std::string> events;  // "close:<id>" from the close callback, "hook:<id>" from the hook
};

HookLog& Hooks()
{
    static HookLog log;
    return log;
}

void RecordingClose(uint64_t id, int reason)
{
    {
        std::lock_guard<std::mutex> guard(Hooks().mutex);
        Hooks().events.push_back("close:" + std::to_string(id));
    }
    NetRecorder::Close(id, reason);
}

void RecordingHook(uint64_t id, void* arg)
{
    std::lock_guard<std::mutex> guard(Hooks().mutex);
    Hooks().events.push_back("hook:" + std::to_string(id) + ":" + static_cast<const char*>(arg));
}

std::mutex g_kindsMutex;
std::map<uint64_t, int> g_openKinds;

void RecordingOpen(uint64_t id, const char* ip, int port, int kind)
{
    {
        std::lock_guard<std::mutex> guard(g_kindsMutex);
        g_openKinds[id] = kind;
    }
    NetRecorder::Open(id, ip, port, kind);
}

int OpenKind(uint64_t id)
{
    std::lock_guard<std::mutex> guard(g_kindsMutex);
    auto it = g_openKinds.find(id);
    return it == g_openKinds.end() ? -1 : it->second;
}

std::vector<std::string> HookEvents()
{
    std::lock_guard<std::mutex> guard(Hooks().mutex);
    return Hooks().events;
}


}  // namespace

TEST_F(NetTest, PostedCallsRunOnTheLoopInOrderWithOtherCommands)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    ASSERT_NE(0u, id);

    std::thread::id loopThread;
    std::vector<bool> openWhenRun;
    std::mutex mutex;
    ASSERT_TRUE(OnLoop(s.server, [&] {
        std::lock_guard<std::mutex> guard(mutex);
        loopThread = std::this_thread::get_id();
    }));
    EXPECT_NE(std::this_thread::get_id(), loopThread);

    struct Probe {
        NHServer* server;
        uint64_t id;
        std::vector<bool>* seen;
        std::mutex* mutex;
    };
    auto probe = [](void* arg) {
        Probe* p = static_cast<Probe*>(arg);
        std::lock_guard<std::mutex> guard(*p->mutex);
        p->seen->push_back(TcpConnection_Find(NHServer_ConnectionTable(p->server), p->id) != nullptr);
    };
    Probe before{s.server, id, &openWhenRun, &mutex};
    Probe after{s.server, id, &openWhenRun, &mutex};
    NHServer_PostCall(s.server, probe, &before);
    NHServer_PostClose(s.server, id);
    NHServer_PostCall(s.server, probe, &after);
    ASSERT_TRUE(OnLoop(s.server, [] {}));
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ((std::vector<bool>{true, false}), openWhenRun);
}

// The hook follows the close callback once, whether a command or the peer's
// end closes the connection, and also when the loop ends with it open.
TEST_F(NetTest, CloseHookRunsOnceAfterTheCloseCallbackOnEveryKindOfClose)
{
    static const char* kinds[] = {"command", "peer", "teardown"};
    NHServerCallbacks callbacks = NetRecorder::Callbacks();
    callbacks.close = RecordingClose;
    ServerThread s(callbacks);
    ASSERT_TRUE(s.Start());
    TestClient a, b, c;
    uint64_t ida = s.Connect(a), idb = s.Connect(b), idc = s.Connect(c);
    ASSERT_TRUE(ida && idb && idc);
    ASSERT_TRUE(OnLoop(s.server, [&] {
        EXPECT_EQ(0, TcpConnection_SetCloseHook(NHServer_ConnectionTable(s.server), ida, RecordingHook, (void*)kinds[0]));
        EXPECT_EQ(0, TcpConnection_SetCloseHook(NHServer_ConnectionTable(s.server), idb, RecordingHook, (void*)kinds[1]));
        EXPECT_EQ(0, TcpConnection_SetCloseHook(NHServer_ConnectionTable(s.server), idc, RecordingHook, (void*)kinds[2]));
        EXPECT_EQ(-1, TcpConnection_SetCloseHook(NHServer_ConnectionTable(s.server), 999999, RecordingHook, nullptr));
    }));

    NHServer_PostClose(s.server, ida);
    NHServer_PostClose(s.server, ida);  // a second close finds nothing
    b.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(ida) && rec.closed.count(idb); }));
    s.Stop();

    std::vector<std::string> events = HookEvents();
    auto at = [&](const std::string& e) {
        return std::find(events.begin(), events.end(), e) - events.begin();
    };
    std::string a1 = std::to_string(ida), b1 = std::to_string(idb), c1 = std::to_string(idc);
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "hook:" + a1 + ":command"));
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "hook:" + b1 + ":peer"));
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "hook:" + c1 + ":teardown"));
    EXPECT_LT(at("close:" + a1), at("hook:" + a1 + ":command"));
    EXPECT_LT(at("close:" + b1), at("hook:" + b1 + ":peer"));
    EXPECT_EQ(0, std::count(events.begin(), events.end(), "close:" + c1));  // no callback at teardown
}

TEST_F(NetTest, ResolverLooksUpNamesWithoutBlockingTheLoop)
{
    ServerThread s;
    EXPECT_EQ(nullptr, NHServer_DnsBase(s.server));  // no loop yet
    ASSERT_TRUE(s.Start());

    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        int result = -1;
        std::string address;
    } lookup;
    ASSERT_TRUE(OnLoop(s.server, [&] {
        struct evdns_base* dns = NHServer_DnsBase(s.server);
        ASSERT_NE(nullptr, dns);
        EXPECT_EQ(dns, NHServer_DnsBase(s.server));  // one per loop
        struct evutil_addrinfo hints;
        memset(&hints, 0, sizeof(hints));
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        evdns_getaddrinfo(dns, "localhost", nullptr, &hints, [](int result, struct evutil_addrinfo* res, void* arg) {
            Lookup* l = static_cast<Lookup*>(arg);
            std::lock_guard<std::mutex> guard(l->mutex);
            l->result = result;
            if (res) {
                char text[64] = {0};
                const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
                inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
                l->address = text;
                evutil_freeaddrinfo(res);
            }
            l->finished = true;
            l->done.notify_all();
        }, &lookup);
    }));
    std::unique_lock<std::mutex> lock(lookup.mutex);
    ASSERT_TRUE(lookup.done.wait_for(lock, std::chrono::seconds(3), [&] { return lookup.finished; }));
    EXPECT_EQ(0, lookup.result);
    EXPECT_EQ("127.0.0.1", lookup.address);
}

// An outgoing connection made on the loop, as a relay makes one, joins the
// server once it stands: a channelID of the same counter, the open callback
// with kind 1, its reads through the server's read callback, and an end
// through the close callback and then its hook.
TEST_F(NetTest, AnOutgoingConnectionJoinsTheServerAndEndsThroughItsClose)
{
    NHServerCallbacks callbacks = NetRecorder::Callbacks();
    callbacks.open = RecordingOpen;
    callbacks.close = RecordingClose;
    ServerThread s(callbacks);
    ASSERT_TRUE(s.Start());

    struct Outgoing {
        NHServer* server;
        int port;
        std::atomic<uint64_t> id{0};
    } out;
    out.server = s.server;
    out.port = s.Port();
    uint64_t before = NetHandle_LastChannelId();
    ASSERT_TRUE(OnLoop(s.server, [&] {
        struct event_base* base = NHServer_EventBase(s.server);
        ASSERT_NE(nullptr, base);
        struct bufferevent* bev = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
        ASSERT_NE(nullptr, bev);
        bufferevent_setcb(
            bev,
            [](struct bufferevent* b, void* arg) {
                Outgoing* o = static_cast<Outgoing*>(arg);
                NHServer_ReadConnection(o->server, o->id.load(), b);
            },
            nullptr,
            [](struct bufferevent* b, short events, void* arg) {
                Outgoing* o = static_cast<Outgoing*>(arg);
                if (!(events & BEV_EVENT_CONNECTED)) return;
                o->id = NHServer_OpenOutgoing(o->server, b, "127.0.0.1", o->port, RecordingHook,
                                              const_cast<char*>("outgoing"));
            },
            &out);
        struct sockaddr_in address;
        memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(out.port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bufferevent_socket_connect(bev, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)));
        bufferevent_enable(bev, EV_READ);
    }));
    // Both ends are the server's: the accepted one and the outgoing one.
    ASSERT_TRUE(rec.WaitFor([&] { return rec.opened.size() >= 2 && out.id.load() != 0; }));
    uint64_t outgoing = out.id.load();
    uint64_t accepted = 0;
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        for (uint64_t id : rec.opened) {
            if (id > before && id != outgoing) accepted = id;
        }
    }
    ASSERT_NE(0u, accepted);
    EXPECT_GT(outgoing, before);
    EXPECT_EQ(1, OpenKind(outgoing));
    EXPECT_EQ(0, OpenKind(accepted));

    NHServer_PostSend(s.server, accepted, "hello", 5);
    ASSERT_TRUE(rec.WaitFor([&] { return rec.received[outgoing] == "hello"; }));

    ASSERT_TRUE(OnLoop(s.server, [&] {
        EXPECT_EQ(1, NHServer_CloseNow(s.server, outgoing, TCP_CONNECTION_CLOSE_BY_EVENT));
        EXPECT_EQ(0, NHServer_CloseNow(s.server, outgoing, TCP_CONNECTION_CLOSE_BY_EVENT));
    }));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_EVENT, rec.closed[outgoing]);
    }
    std::vector<std::string> events = HookEvents();
    auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    std::string o1 = std::to_string(outgoing);
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "hook:" + o1 + ":outgoing"));
    EXPECT_LT(at("close:" + o1), at("hook:" + o1 + ":outgoing"));
    // The accepted end sees the outgoing one go.
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(accepted) == 1; }));
    EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_EVENT, rec.closed[accepted]);
}

// Any thread can ask whether a channel publishes; the loop changes the
// publishers at once, ahead of its own queued commands.
TEST_F(NetTest, PublishersAreSeenFromAnyThreadAndChangedAtOnceOnTheLoop)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    EXPECT_FALSE(NHServer_HasPublisher(s.server, 41));
    NHServer_PostAddPublisher(s.server, 41);
    ASSERT_TRUE(OnLoop(s.server, [] {}));
    EXPECT_TRUE(NHServer_HasPublisher(s.server, 41));

    ASSERT_TRUE(OnLoop(s.server, [&] {
        EXPECT_EQ(0, NHServer_Subscribe(s.server, 42, 7));  // no such publisher yet
        EXPECT_EQ(1, NHServer_AddPublisher(s.server, 42));
        EXPECT_TRUE(NHServer_HasPublisher(s.server, 42));
        EXPECT_EQ(1, NHServer_Subscribe(s.server, 42, 7));
        EXPECT_EQ(1, NHServer_Subscribe(s.server, 42, 7));  // once only
        EXPECT_EQ(1, NHServer_Subscribe(s.server, 42, 8));
    }));
    std::vector<uint64_t> subscribers;
    EXPECT_TRUE(PublisherTable_CopySubscribers(NHServer_PublisherTable(s.server), 42, &subscribers));
    EXPECT_EQ((std::vector<uint64_t>{7, 8}), subscribers);
    NHServer_PostRemovePublisher(s.server, 42);
    ASSERT_TRUE(OnLoop(s.server, [] {}));
    EXPECT_FALSE(NHServer_HasPublisher(s.server, 42));
}
