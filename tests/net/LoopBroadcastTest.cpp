// The broadcast of the loop's own reads: written at once, in order with the
// commands queued before it, and what a subscriber's kernel does not take
// waits for it without holding up the others.
#include "NetHarness.h"
#include "support/OnLoop.h"
#include "support/WaitFor.h"

#include <event2/bufferevent.h>
#include <sys/socket.h>

// A subscription and an unsubscription queued on the loop just before the
// broadcast take effect before it, as if the broadcast had been queued
// behind them; and nothing of the broadcast is left in the queue.
TEST_F(NetTest, LoopBroadcastRunsTheCommandsQueuedBeforeIt)
{
    ServerThread s;
    std::atomic<uint64_t> publisher{0}, leaving{0}, joining{0};
    std::atomic<int> queuedAfter{-1};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id != publisher.load()) return;
        NHServer_PostUnsubscribe(s.server, id, leaving.load());
        NHServer_PostSubscribe(s.server, id, joining.load());
        NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
        queuedAfter = static_cast<int>(NHServer_QueuedCommands(s.server));
    };
    ASSERT_TRUE(s.Start());
    TestClient pub, stays, goes, comes;
    publisher = s.Connect(pub);
    uint64_t staying = s.Connect(stays);
    leaving = s.Connect(goes);
    joining = s.Connect(comes);
    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, staying);
    NHServer_PostSubscribe(s.server, publisher, leaving);
    NHServer_PostSend(s.server, publisher, "go", 2);  // runs after the subscriptions
    ASSERT_EQ("go", pub.ReadExactly(2));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        rec.writes.clear();
    }

    ASSERT_TRUE(pub.Send("chunk"));
    EXPECT_EQ("chunk", stays.ReadExactly(5));
    EXPECT_EQ("chunk", comes.ReadExactly(5));
    EXPECT_EQ("", goes.ReadAvailable(100));
    EXPECT_EQ(0, queuedAfter.load());
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{staying, 5}, {joining.load(), 5}}), rec.writes);
    rec.onRead = nullptr;
}

// One subscriber reads nothing for a while and its socket buffers are small:
// its share waits in its output while the other receives each chunk at
// once; once it reads it gets every byte in order, and the write callback
// counted every chunk for both.
TEST_F(NetTest, ALaggingSubscriberGetsEveryByteInOrderOnceItReads)
{
    ServerThread s;
    std::atomic<uint64_t> publisher{0}, slow{0};
    std::atomic<long> slowWaitingMax{0};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id != publisher.load()) return;
        NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
        long waiting = TcpConnection_OutputLength(NHServer_ConnectionTable(s.server), slow.load());
        if (waiting > slowWaitingMax.load()) slowWaitingMax = waiting;
    };
    rec.onOpen = [&](uint64_t id) {
        if (id == slow.load()) ShrinkSendBuffer(s.server, id);
    };
    ASSERT_TRUE(s.Start());
    TestClient pub, fast, lazy;
    publisher = s.Connect(pub);
    uint64_t quick = s.Connect(fast);
    slow = NetHandle_LastChannelId() + 1;
    ASSERT_EQ(slow.load(), s.Connect(lazy, 4096));
    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, quick);
    NHServer_PostSubscribe(s.server, publisher, slow.load());
    NHServer_PostSend(s.server, publisher, "go", 2);
    ASSERT_EQ("go", pub.ReadExactly(2));

    // 100 chunks of 1000 bytes: far more than the slow one's kernel holds,
    // well under the unsent limit.
    std::string all;
    for (int i = 0; i < 100; ++i) {
        std::string chunk = Pattern(1000, static_cast<unsigned>(i));
        all += chunk;
        ASSERT_TRUE(pub.Send(chunk));
        ASSERT_EQ(chunk, fast.ReadExactly(chunk.size(), 5000)) << "chunk " << i;
    }
    EXPECT_GT(slowWaitingMax.load(), 0);
    EXPECT_EQ(all, lazy.ReadExactly(all.size(), 5000));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_TRUE(rec.closed.empty());
        uint64_t toQuick = 0, toSlow = 0;
        for (const auto& w : rec.writes) {
            if (w.first == quick) toQuick += static_cast<uint64_t>(w.second);
            if (w.first == slow.load()) toSlow += static_cast<uint64_t>(w.second);
        }
        EXPECT_EQ(all.size(), toQuick);
        EXPECT_EQ(all.size(), toSlow);
    }
    // The peer can read the last bytes before the loop has drained them from
    // the output: wait for the drain, not for the read. Only the loop may
    // look at a connection's output.
    auto unsent = [&] {
        long n = -1;
        TcpConnectionTable* table = NHServer_ConnectionTable(s.server);
        EXPECT_TRUE(OnLoop(s.server, [&] { n = TcpConnection_OutputLength(table, slow.load()); }));
        return n;
    };
    EXPECT_TRUE(WaitFor([&] { return unsent() == 0; }, 5000));
    rec.onRead = nullptr;
    rec.onOpen = nullptr;
}

// Off the loop thread the broadcast is queued like any post, in order with
// the sends around it.
TEST_F(NetTest, BroadcastFromAnotherThreadIsQueuedInOrder)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient a;
    uint64_t ia = s.Connect(a);
    const uint64_t publisher = 9100;
    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, ia);
    NHServer_PostSend(s.server, ia, "1", 1);
    NHServer_Broadcast(s.server, publisher, "2", 1);
    NHServer_PostSend(s.server, ia, "3", 1);
    EXPECT_EQ("123", a.ReadExactly(3));
}

// The read callback gets a 3000-byte read (one segment on loopback, one read
// of the loop) in pieces of at most 2048 bytes; the broadcast gathers them
// and writes them to each subscriber as one piece.
TEST_F(NetTest, ThePiecesOfOneReadReachASubscriberAsOneWrite)
{
    ServerThread s;
    std::atomic<uint64_t> publisher{0};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id == publisher.load()) NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
    };
    ASSERT_TRUE(s.Start());
    TestClient pub, a, b;
    publisher = s.Connect(pub);
    uint64_t ia = s.Connect(a), ib = s.Connect(b);
    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, ia);
    NHServer_PostSubscribe(s.server, publisher, ib);
    NHServer_PostSend(s.server, publisher, "go", 2);
    ASSERT_EQ("go", pub.ReadExactly(2));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        rec.writes.clear();
    }
    std::string bytes = Pattern(3000, 7);
    ASSERT_TRUE(pub.Send(bytes));
    EXPECT_EQ(bytes, a.ReadExactly(bytes.size()));
    EXPECT_EQ(bytes, b.ReadExactly(bytes.size()));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ((std::vector<int>{2048, 952}), rec.chunks[publisher.load()]);
    EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{ia, 3000}, {ib, 3000}}), rec.writes);
    rec.onRead = nullptr;
}

// The pieces of a read are pointed at in its input until the read ends;
// bytes of the reader's own (a buffer it reuses at once) are copied at the
// broadcast. Mixed in one read, they reach the subscriber in broadcast
// order, whole, as one write.
TEST_F(NetTest, BytesOfTheReadersOwnAreCopiedAtTheBroadcast)
{
    ServerThread s;
    std::atomic<uint64_t> publisher{0};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id != publisher.load()) return;
        NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
        char own[8];
        memcpy(own, "<piece>", 7);
        NHServer_Broadcast(s.server, id, own, 7);
        memset(own, '#', sizeof own);
    };
    ASSERT_TRUE(s.Start());
    TestClient pub, sub;
    publisher = s.Connect(pub);
    uint64_t subscriber = s.Connect(sub);
    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, subscriber);
    NHServer_PostSend(s.server, publisher, "go", 2);
    ASSERT_EQ("go", pub.ReadExactly(2));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        rec.writes.clear();
    }
    std::string bytes = Pattern(3000, 3);
    ASSERT_TRUE(pub.Send(bytes));
    std::string expected = bytes.substr(0, 2048) + "<piece>" + bytes.substr(2048) + "<piece>";
    EXPECT_EQ(expected, sub.ReadExactly(expected.size()));
    std::lock_guard<std::mutex> guard(rec.mutex);
    ASSERT_EQ((std::vector<int>{2048, 952}), rec.chunks[publisher.load()]);
    EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{subscriber, static_cast<int>(expected.size())}}), rec.writes);
    rec.onRead = nullptr;
}
