// Calls posted onto the loop, the per-connection close hook and the loop's
// resolver: what outgoing connections build on.
#include "NetHarness.h"

#include <event2/dns.h>
#include <event2/util.h>

#include <atomic>
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

std::vector<std::string> HookEvents()
{
    std::lock_guard<std::mutex> guard(Hooks().mutex);
    return Hooks().events;
}

// Runs fn on the server's loop thread and waits for it.
template <typename F>
void OnLoop(NHServer* server, F fn)
{
    struct Job {
        explicit Job(F f) : fn(f) {}
        F fn;
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    } job(fn);
    NHServer_PostCall(server, [](void* arg) {
        Job* j = static_cast<Job*>(arg);
        j->fn();
        std::lock_guard<std::mutex> guard(j->mutex);
        j->finished = true;
        j->done.notify_all();
    }, &job);
    std::unique_lock<std::mutex> lock(job.mutex);
    ASSERT_TRUE(job.done.wait_for(lock, std::chrono::seconds(3), [&] { return job.finished; }));
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
    OnLoop(s.server, [&] {
        std::lock_guard<std::mutex> guard(mutex);
        loopThread = std::this_thread::get_id();
    });
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
        p->seen->push_back(TcpConnection_Find(p->server->table, p->id) != nullptr);
    };
    Probe before{s.server, id, &openWhenRun, &mutex};
    Probe after{s.server, id, &openWhenRun, &mutex};
    NHServer_PostCall(s.server, probe, &before);
    NHServer_PostClose(s.server, id);
    NHServer_PostCall(s.server, probe, &after);
    OnLoop(s.server, [] {});
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ((std::vector<bool>{true, false}), openWhenRun);
}

// The hook follows the close callback once, whether a command or the peer's
// end closes the connection, and also when the loop ends with it open.
TEST_F(NetTest, CloseHookRunsOnceAfterTheCloseCallbackOnEveryKindOfClose)
{
    static const char* kinds[] = {"command", "peer", "teardown"};
    ServerThread s;
    NHServer_SetCloseCallback(s.server, RecordingClose);
    ASSERT_TRUE(s.Start());
    TestClient a, b, c;
    uint64_t ida = s.Connect(a), idb = s.Connect(b), idc = s.Connect(c);
    ASSERT_TRUE(ida && idb && idc);
    OnLoop(s.server, [&] {
        EXPECT_EQ(0, TcpConnection_SetCloseHook(s.server->table, ida, RecordingHook, (void*)kinds[0]));
        EXPECT_EQ(0, TcpConnection_SetCloseHook(s.server->table, idb, RecordingHook, (void*)kinds[1]));
        EXPECT_EQ(0, TcpConnection_SetCloseHook(s.server->table, idc, RecordingHook, (void*)kinds[2]));
        EXPECT_EQ(-1, TcpConnection_SetCloseHook(s.server->table, 999999, RecordingHook, nullptr));
    });

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
    OnLoop(s.server, [&] {
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
    });
    std::unique_lock<std::mutex> lock(lookup.mutex);
    ASSERT_TRUE(lookup.done.wait_for(lock, std::chrono::seconds(3), [&] { return lookup.finished; }));
    EXPECT_EQ(0, lookup.result);
    EXPECT_EQ("127.0.0.1", lookup.address);
}
