// What the loop counts of the bytes it writes to a connection, and the
// broadcast's walk over a publisher's subscribers while connections go.
#include "NetHarness.h"

namespace {

struct Attach {
    NHServer* server;
    uint64_t channelID;
    ConnTraffic* traffic;
};

void AttachOnLoop(void* arg)
{
    Attach* a = static_cast<Attach*>(arg);
    EXPECT_EQ(0, NHServer_CountWrites(a->server, a->channelID, a->traffic));
}

// Every subscriber that the write callback is told of, in order; at the
// first write to `trigger` it closes `victim` at once, on the loop.
std::atomic<NHServer*> g_server{nullptr};
std::atomic<uint64_t> g_trigger{0};
std::atomic<uint64_t> g_victim{0};

void ClosingWrite(uint64_t id, int bytes, int unused)
{
    NetRecorder::Write(id, bytes, unused);
    if (id == g_trigger.load() && g_victim.load() != 0) {
        EXPECT_EQ(1, NHServer_CloseNow(g_server.load(), g_victim.load(), TCP_CONNECTION_CLOSE_BY_COMMAND));
        g_victim = 0;
    }
}

}  // namespace

// Nothing is counted before counting starts, not even the time the rate is
// measured from; from then on every send and broadcast adds its bytes, with
// the rate over the whole seconds since the write before. The counters
// outlive the connection for whoever still holds them.
TEST_F(NetTest, WritesAreCountedWithTheConnectionOnceCountingStarts)
{
    ServerThread s;
    std::atomic<uint64_t> publisher{0};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id == publisher.load()) NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
    };
    ASSERT_TRUE(s.Start());
    TestClient pub, rover;
    publisher = s.Connect(pub);
    uint64_t roverID = s.Connect(rover);
    ASSERT_NE(0u, roverID);

    ConnTrafficClock start = ConnTraffic_Now();
    start.steadyMs -= 4000;  // four seconds before the first counted write
    ConnTraffic* traffic = ConnTraffic_New(start.steadyMs, start.wallS - 4);
    Attach attach = {s.server, roverID, traffic};
    NHServer_PostCall(s.server, AttachOnLoop, &attach);
    NHServer_PostSend(s.server, roverID, "hello", 5);
    ASSERT_EQ("hello", rover.ReadExactly(5));
    ConnTrafficFigures figures = ConnTraffic_Read(traffic);
    EXPECT_FALSE(figures.counting);
    EXPECT_EQ(0u, figures.bytesSent);
    EXPECT_EQ(start.steadyMs, figures.lastWriteMs);

    ConnTraffic_StartCounting(traffic);
    NHServer_PostSend(s.server, roverID, "0123456789abcdef", 16);
    ASSERT_EQ("0123456789abcdef", rover.ReadExactly(16));
    figures = ConnTraffic_Read(traffic);
    EXPECT_TRUE(figures.counting);
    EXPECT_EQ(16u, figures.bytesSent);
    EXPECT_EQ(4, figures.outputRate);  // 16 bytes over 4 s (or a little more)
    EXPECT_GE(figures.lastWriteMs, start.steadyMs + 4000);

    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, roverID);
    NHServer_PostSend(s.server, publisher, "go", 2);
    ASSERT_EQ("go", pub.ReadExactly(2));
    ASSERT_TRUE(pub.Send("chunk!"));
    ASSERT_EQ("chunk!", rover.ReadExactly(6));
    figures = ConnTraffic_Read(traffic);
    EXPECT_EQ(22u, figures.bytesSent);
    EXPECT_EQ(6, figures.outputRate);  // within a second of the send before

    rover.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(roverID) == 1; }));
    EXPECT_EQ(22u, ConnTraffic_Read(traffic).bytesSent);
    ConnTraffic_Release(traffic);
    rec.onRead = nullptr;
}

// A subscriber closed in the middle of a broadcast (by the write callback
// of the one before it) gets nothing of it and no second close; the others
// get it in order; its node, left until its unsubscription, finds no
// connection at the next chunk and changes nothing for the others.
TEST_F(NetTest, ASubscriberClosedDuringABroadcastIsSkippedAndTheOthersGetIt)
{
    NHServerCallbacks callbacks = NetRecorder::Callbacks();
    callbacks.write = ClosingWrite;
    ServerThread s(callbacks);
    g_server = s.server;
    std::atomic<uint64_t> publisher{0};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id == publisher.load()) NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
    };
    ASSERT_TRUE(s.Start());
    TestClient pub, first, second, third;
    publisher = s.Connect(pub);
    uint64_t a = s.Connect(first), b = s.Connect(second), c = s.Connect(third);
    NHServer_PostAddPublisher(s.server, publisher);
    for (uint64_t id : {a, b, c}) NHServer_PostSubscribe(s.server, publisher, id);
    NHServer_PostSend(s.server, publisher, "go", 2);
    ASSERT_EQ("go", pub.ReadExactly(2));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        rec.writes.clear();
    }
    g_trigger = a;
    g_victim = b;

    ASSERT_TRUE(pub.Send("one"));
    EXPECT_EQ("one", first.ReadExactly(3));
    EXPECT_EQ("one", third.ReadExactly(3));
    EXPECT_TRUE(second.WaitClosed());
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(b) == 1; }));

    ASSERT_TRUE(pub.Send("two"));
    EXPECT_EQ("two", first.ReadExactly(3));
    EXPECT_EQ("two", third.ReadExactly(3));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{a, 3}, {c, 3}, {a, 3}, {c, 3}}), rec.writes);
    EXPECT_EQ(1u, rec.closed.count(b));
    EXPECT_EQ(0u, rec.closed.count(a) + rec.closed.count(c));
    rec.onRead = nullptr;
}
