#include "NetHarness.h"

#include <event2/bufferevent.h>
#include <sys/socket.h>

namespace {

std::vector<uint64_t> Subs(PublisherTable* table, uint64_t publisher)
{
    std::vector<uint64_t> out;
    PublisherTable_CopySubscribers(table, publisher, &out);
    return out;
}

class PublisherTableTest : public NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        table = PublisherTable_Create();
    }
    void TearDown() override { PublisherTable_Free(table); }
    PublisherTable* table = nullptr;
};

}  // namespace

TEST_F(PublisherTableTest, SubscribingTwiceKeepsOneNode)
{
    EXPECT_EQ(1, AddPublisher(table, 1));
    EXPECT_TRUE(LogHas("Add Publisher(channelID:1)."));
    EXPECT_EQ(1, Subscribe(table, 1, 20));
    EXPECT_EQ(1, Subscribe(table, 1, 20));
    EXPECT_EQ((std::vector<uint64_t>{20}), Subs(table, 1));
    EXPECT_TRUE(LogHas("Sub(channelID:20) already subcribe Pub(channelID:1)."));
}

TEST_F(PublisherTableTest, UnknownPublishersAndSubscribers)
{
    EXPECT_EQ(0, Subscribe(table, 3, 4));
    EXPECT_TRUE(LogHas("Publisher(channelID:3) not exist."));
    EXPECT_EQ(0, Unsubscribe(table, 3, 4));
    EXPECT_EQ(0, RemovePublisher(table, 3));
    EXPECT_EQ(0, RekeyPublisher(table, 3, 8));
    EXPECT_EQ(nullptr, FindPublisher(table, 3));
    EXPECT_EQ(nullptr, FindSubscriberList(table, 3));
    AddPublisher(table, 3);
    EXPECT_EQ(0, Unsubscribe(table, 3, 4));
    std::vector<uint64_t> out{1};
    EXPECT_TRUE(PublisherTable_CopySubscribers(table, 3, &out));
    EXPECT_TRUE(out.empty());
}

TEST_F(PublisherTableTest, ListKeepsSubscriptionOrderThroughRemovals)
{
    AddPublisher(table, 1);
    for (uint64_t s : {13, 11, 12}) Subscribe(table, 1, s);
    EXPECT_EQ((std::vector<uint64_t>{13, 11, 12}), Subs(table, 1));
    EXPECT_EQ(1, Unsubscribe(table, 1, 11));  // the middle one
    EXPECT_EQ((std::vector<uint64_t>{13, 12}), Subs(table, 1));
    EXPECT_EQ(1, Unsubscribe(table, 1, 12));  // the last: the tail link goes back
    Subscribe(table, 1, 14);
    EXPECT_EQ((std::vector<uint64_t>{13, 14}), Subs(table, 1));
    EXPECT_EQ(1, Unsubscribe(table, 1, 13));  // the first
    EXPECT_EQ(1, Unsubscribe(table, 1, 14));
    Subscribe(table, 1, 15);
    Subscribe(table, 1, 16);
    EXPECT_EQ((std::vector<uint64_t>{15, 16}), Subs(table, 1));

    PublisherTableGuard guard(table);
    SubscriberNode** list = FindSubscriberList(table, 1);
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(&FindPublisher(table, 1)->first, list);
    EXPECT_EQ(15u, (*list)->channelID);
    EXPECT_EQ(16u, (*list)->next->channelID);
    EXPECT_EQ(nullptr, (*list)->next->next);
}

TEST_F(PublisherTableTest, RekeyMovesThePublisherWithItsSubscribers)
{
    AddPublisher(table, 5);
    Subscribe(table, 5, 30);
    Subscribe(table, 5, 31);
    EXPECT_EQ(1, RekeyPublisher(table, 5, 9));
    EXPECT_EQ(nullptr, FindPublisher(table, 5));
    ASSERT_NE(nullptr, FindPublisher(table, 9));
    EXPECT_EQ((std::vector<uint64_t>{30, 31}), Subs(table, 9));
    Subscribe(table, 9, 32);  // the moved list's tail link still works
    EXPECT_EQ((std::vector<uint64_t>{30, 31, 32}), Subs(table, 9));
    EXPECT_EQ(0, RekeyPublisher(table, 5, 10));
    EXPECT_TRUE(LogHas("Publisher(channelID:5) not exist."));
}

// Adding a publisher twice must not put an empty entry in front of the
// first: its subscribers would stop receiving.
TEST_F(PublisherTableTest, AddingAnExistingPublisherKeepsItsSubscribers)
{
    AddPublisher(table, 7);
    Subscribe(table, 7, 70);
    EXPECT_EQ(1, AddPublisher(table, 7));
    EXPECT_EQ((std::vector<uint64_t>{70}), Subs(table, 7));
    EXPECT_EQ(1u, PublisherTable_Count(table));
    EXPECT_EQ(1, RemovePublisher(table, 7));
    EXPECT_EQ(0, RemovePublisher(table, 7));
}

TEST_F(PublisherTableTest, RekeyOntoAnExistingPublisherKeepsBothAudiences)
{
    AddPublisher(table, 1);
    Subscribe(table, 1, 10);
    Subscribe(table, 1, 11);
    AddPublisher(table, 2);
    Subscribe(table, 2, 11);
    Subscribe(table, 2, 12);
    EXPECT_EQ(1, RekeyPublisher(table, 1, 2));
    EXPECT_EQ(nullptr, FindPublisher(table, 1));
    EXPECT_EQ((std::vector<uint64_t>{11, 12, 10}), Subs(table, 2));
    EXPECT_EQ(1u, PublisherTable_Count(table));
}

TEST_F(PublisherTableTest, GrowsAndFindsEveryPublisher)
{
    for (uint64_t id = 1; id <= 3000; ++id) {
        AddPublisher(table, id * 977);
        Subscribe(table, id * 977, id);
    }
    EXPECT_EQ(3000u, PublisherTable_Count(table));
    for (uint64_t id = 1; id <= 3000; ++id) ASSERT_EQ((std::vector<uint64_t>{id}), Subs(table, id * 977));
    for (uint64_t id = 1; id <= 3000; id += 2) ASSERT_EQ(1, RemovePublisher(table, id * 977));
    EXPECT_EQ(1500u, PublisherTable_Count(table));
}

// A login worker re-keys while the loop walks the table to broadcast and
// runs subscribe commands: every walk sees a whole list.
TEST_F(PublisherTableTest, RekeyFromAWorkerWhileTheLoopWalks)
{
    AddPublisher(table, 100);
    for (uint64_t s = 1; s <= 50; ++s) Subscribe(table, 100, s);
    std::atomic<bool> stop{false};
    std::atomic<int> rekeys{0};
    std::thread worker([&] {
        uint64_t current = 100;
        while (!stop.load()) {
            PublisherTableGuard guard(table);
            if (FindPublisher(table, current)) {
                uint64_t next = current == 100 ? 200 : 100;
                RekeyPublisher(table, current, next);
                current = next;
                ++rekeys;
            }
        }
    });
    std::vector<uint64_t> out;
    for (int walk = 0; walk < 3000 || rekeys.load() < 100; ++walk) {
        bool found = PublisherTable_CopySubscribers(table, 100, &out) || PublisherTable_CopySubscribers(table, 200, &out);
        if (found) {
            ASSERT_GE(out.size(), 50u);
            for (size_t i = 0; i < 50; ++i) ASSERT_EQ(i + 1, out[i]);
        }
        Subscribe(table, 100, 1000 + walk);
        Unsubscribe(table, 100, 1000 + walk);
    }
    stop = true;
    worker.join();
}

// Over real sockets: the write callback runs once per subscriber, in list
// order, and every subscriber gets the bytes.
TEST_F(NetTest, BroadcastReachesEverySubscriberInSubscriptionOrder)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient a, b, c;
    uint64_t ia = s.Connect(a), ib = s.Connect(b), ic = s.Connect(c);
    const uint64_t publisher = 9000;
    NHServer_PostAddPublisher(s.server, publisher);
    NHServer_PostSubscribe(s.server, publisher, ic);
    NHServer_PostSubscribe(s.server, publisher, ia);
    NHServer_PostSubscribe(s.server, publisher, ib);
    NHServer_PostBroadcast(s.server, publisher, "RTCM", 4);
    for (TestClient* t : {&a, &b, &c}) EXPECT_EQ("RTCM", t->ReadExactly(4));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{ic, 4}, {ia, 4}, {ib, 4}}), rec.writes);
        rec.writes.clear();
    }
    NHServer_PostUnsubscribe(s.server, publisher, ia);
    NHServer_PostBroadcast(s.server, publisher, "next", 4);
    EXPECT_EQ("next", c.ReadExactly(4));
    EXPECT_EQ("next", b.ReadExactly(4));
    EXPECT_EQ("", a.ReadAvailable(50));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{ic, 4}, {ib, 4}}), rec.writes);
        rec.writes.clear();
    }
    NHServer_PostBroadcast(s.server, 777, "none", 4);  // no such publisher
    NHServer_PostRemovePublisher(s.server, publisher);
    NHServer_PostBroadcast(s.server, publisher, "gone", 4);
    NHServer_PostSend(s.server, ia, "end", 3);
    EXPECT_EQ("end", a.ReadExactly(3));
    EXPECT_EQ("", c.ReadAvailable(50));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{ia, 3}}), rec.writes);
}

// The caster's road: a publisher connection's bytes are broadcast from the
// read callback. One subscriber never reads; once more than the limit waits
// for it, it is shut down and closed by command while the others keep
// receiving every byte. Small socket buffers on both ends of the slow one
// keep the kernel from absorbing the stream, and the publisher sends in
// rounds the readers drain, so only the slow subscriber can pass the limit.
TEST_F(NetTest, ASlowSubscriberIsClosedAtTheLimitWhileOthersKeepReceiving)
{
    ServerThread s;
    std::atomic<uint64_t> publisher{0}, slow{0};
    rec.onRead = [&](uint64_t id, const char* bytes, int n) {
        if (id == publisher.load()) NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
    };
    rec.onOpen = [&](uint64_t id) {
        if (id == slow.load()) ShrinkSendBuffer(s.server, id);
    };
    ASSERT_TRUE(s.Start());

    TestClient pub, fast1, fast2, lazy;
    publisher = s.Connect(pub);
    uint64_t f1 = s.Connect(fast1), f2 = s.Connect(fast2);
    slow = NetHandle_LastChannelId() + 1;
    ASSERT_EQ(slow.load(), s.Connect(lazy, 4096));
    NHServer_PostAddPublisher(s.server, publisher);
    for (uint64_t sub : {f1, slow.load(), f2}) NHServer_PostSubscribe(s.server, publisher, sub);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (Subs(NHServer_PublisherTable(s.server), publisher).size() < 3 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(3u, Subs(NHServer_PublisherTable(s.server), publisher).size());

    const size_t round = 64 * 1024;
    int rounds = 0;
    bool slowClosed = false;
    for (; rounds < 12 && !slowClosed; ++rounds) {
        std::string bytes = Pattern(round, static_cast<unsigned>(rounds));
        ASSERT_TRUE(pub.Send(bytes));
        ASSERT_EQ(bytes, fast1.ReadExactly(round, 5000)) << "round " << rounds;
        ASSERT_EQ(bytes, fast2.ReadExactly(round, 5000)) << "round " << rounds;
        std::lock_guard<std::mutex> guard(rec.mutex);
        slowClosed = rec.closed.count(slow.load()) > 0;
    }
    ASSERT_TRUE(slowClosed) << "after " << rounds << " rounds";
    EXPECT_GE(rounds, 3);  // 204800 bytes fit before the limit trips
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_COMMAND, rec.closed[slow.load()]);
        EXPECT_EQ(1u, rec.closed.size());
    }
    EXPECT_TRUE(LogHas("Send to Channel " + std::to_string(slow.load()) + " Unsend bufferSize is too large:"));

    // The others go on; the closed one is skipped (its node stays until the
    // owner unsubscribes it, and the write to it finds no connection).
    std::string after = Pattern(10000, 99);
    ASSERT_TRUE(pub.Send(after));
    EXPECT_EQ(after, fast1.ReadExactly(after.size()));
    EXPECT_EQ(after, fast2.ReadExactly(after.size()));
    EXPECT_TRUE(lazy.WaitClosed(5000));
    rec.onRead = nullptr;
    rec.onOpen = nullptr;
}
