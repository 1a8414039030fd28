// The server's commands through its API: posts from any thread reach the
// loop in order, copies of any length, posts before the loop starts, and
// what is left unrun when the server goes.
#include "NetHarness.h"

#include <cstring>

namespace {

// A message of the ordering test: length, poster, sequence, then a payload
// whose bytes depend on all three, so a torn or mixed message shows.
std::string Message(unsigned poster, unsigned seq, size_t payload)
{
    std::string m(9, '\0');
    uint32_t total = static_cast<uint32_t>(9 + payload);
    memcpy(&m[0], &total, 4);
    m[4] = static_cast<char>(poster);
    memcpy(&m[5], &seq, 4);
    m += Pattern(payload, poster * 1000 + seq);
    return m;
}

size_t PayloadFor(unsigned seq)
{
    static const size_t small[] = {8, 64, 300};
    return seq % 16 == 5 ? 5200 : small[seq % 3];  // every 16th spans two blocks
}

}  // namespace

// Eight threads post at once, half of them as chains. Each message must
// arrive whole, and each thread's messages in the order it posted them.
// The total stays below the unsent limit, so no drain can hit it.
TEST_F(NetTest, PostsFromEightThreadsArriveWholeAndInEachThreadsOrder)
{
    const unsigned threads = 8, perThread = 48;
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    ASSERT_NE(0u, id);

    size_t expected = 0;
    for (unsigned t = 0; t < threads; ++t)
        for (unsigned q = 0; q < perThread; ++q) expected += 9 + PayloadFor(q);
    ASSERT_LT(expected, TCP_CONNECTION_MAX_UNSENT);

    std::atomic<bool> go{false};
    std::vector<std::thread> posters;
    for (unsigned t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (unsigned q = 0; q < perThread; ++q) {
                std::string m = Message(t, q, PayloadFor(q));
                if (t % 2 == 0) {
                    NHServer_PostSend(s.server, id, m.data(), m.size());
                } else {
                    CommonDataChain* chain = CommonDataChain_Alloc();
                    CommonDataChain_AppendAll(chain, m.data(), m.size());
                    NHServer_PostSendChain(s.server, id, chain);
                    CommonDataChain_Free(chain);
                }
            }
        });
    }
    go = true;
    for (std::thread& p : posters) p.join();

    std::string stream = client.ReadExactly(expected, 5000);
    ASSERT_EQ(expected, stream.size());
    std::vector<unsigned> next(threads, 0);
    size_t at = 0;
    while (at < stream.size()) {
        uint32_t total;
        memcpy(&total, &stream[at], 4);
        unsigned poster = static_cast<unsigned char>(stream[at + 4]);
        uint32_t seq;
        memcpy(&seq, &stream[at + 5], 4);
        ASSERT_LT(poster, threads);
        ASSERT_EQ(next[poster], seq) << "poster " << poster;
        ASSERT_EQ(Message(poster, seq, PayloadFor(seq)), stream.substr(at, total));
        ++next[poster];
        at += total;
    }
    for (unsigned t = 0; t < threads; ++t) EXPECT_EQ(perThread, next[t]);
    // The loop still runs and records under the mutex.
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_TRUE(rec.closed.empty());
}

// A send longer than one block is copied into as many blocks as it needs.
TEST_F(NetTest, SendsLongerThanOneBlockArriveWhole)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    for (size_t n : {size_t(5120), size_t(5121), size_t(6000), size_t(12000), size_t(51200 + 3)}) {
        std::string bytes = Pattern(n, static_cast<unsigned>(n));
        NHServer_PostSend(s.server, id, bytes.data(), bytes.size());
        EXPECT_EQ(bytes, client.ReadExactly(n)) << n;
        ASSERT_TRUE(rec.WaitFor([&] { return !rec.writes.empty() && rec.writes.back().second == static_cast<int>(n); }))
            << n;
    }
    EXPECT_FALSE(LogHas("Have full"));
}

TEST_F(NetTest, BroadcastAcrossBlocksReachesSubscribersWhole)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient sub;
    uint64_t id = s.Connect(sub);
    NHServer_PostAddPublisher(s.server, 4242);
    NHServer_PostSubscribe(s.server, 4242, id);
    std::string bytes = Pattern(15000, 3);
    NHServer_PostBroadcast(s.server, 4242, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, sub.ReadExactly(bytes.size()));
}

// The send finds no connection and posts a close, which finds none either:
// no callback runs and the loop goes on.
TEST_F(NetTest, SendToAClosedChannelPostsACloseThatDoesNothing)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient gone, stays;
    uint64_t goneId = s.Connect(gone);
    uint64_t staysId = s.Connect(stays);
    gone.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(goneId) > 0; }));
    NHServer_PostSend(s.server, goneId, "lost", 4);
    NHServer_PostSend(s.server, staysId, "kept", 4);
    EXPECT_EQ("kept", stays.ReadExactly(4));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(1u, rec.closed.size());
    ASSERT_EQ(1u, rec.writes.size());
    EXPECT_EQ(staysId, rec.writes[0].first);
}

// Posts made before the loop has an event base wait in the queue; the
// loop's first drain runs them in order.
TEST_F(NetTest, PostsBeforeTheLoopStartsRunAtItsFirstDrain)
{
    ServerThread s;
    NHServer_PostAddPublisher(s.server, 5);
    NHServer_PostSubscribe(s.server, 5, 6);
    NHServer_PostSubscribe(s.server, 5, 7);
    NHServer_PostSend(s.server, 99, "nobody", 6);
    NHServer_PostClose(s.server, 99);
    EXPECT_EQ(5u, NHServer_QueuedCommands(s.server));
    ASSERT_TRUE(s.Start());
    std::vector<uint64_t> subs;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (NHServer_QueuedCommands(s.server) != 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(0u, NHServer_QueuedCommands(s.server));
    EXPECT_TRUE(PublisherTable_CopySubscribers(NHServer_PublisherTable(s.server), 5, &subs));
    EXPECT_EQ((std::vector<uint64_t>{6, 7}), subs);
}

// Commands queued but never run (the loop ended first) are freed with the server.
TEST_F(NetTest, CommandsLeftInTheQueueAreFreedWithTheServer)
{
    NHServer* server = NHServer_Create(nullptr);
    std::string big = Pattern(20000, 9);
    NHServer_PostSend(server, 1, big.data(), big.size());
    NHServer_PostBroadcast(server, 2, big.data(), big.size());
    NHServer_PostShutdown(server, 1);
    NHServer_Free(server);  // a leak here fails the sanitizer build
}

TEST_F(NetTest, AnUnknownCommandKindIsFatal)
{
    DecodingEvent event;
    memset(&event, 0, sizeof(event));
    event.kind = 42;
    EXPECT_DEATH(DecodingEvent_Process(&event, nullptr), "");
    EXPECT_TRUE(LogHas("NetHandle:DecodingEvent_Process unkown evnet kind"));
}
