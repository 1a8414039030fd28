// A close posted after a send must not cut the send: the connection is freed
// only once its output has reached the socket, however slowly the peer reads.
#include "NetHarness.h"

#include <thread>

namespace {

// Big enough that the kernel's buffers cannot take it at once while the peer
// does not read.
const size_t kBig = 4u * 1024u * 1024u;

}  // namespace

TEST_F(NetTest, CloseAfterFlushDeliversEverythingQueuedBeforeIt)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client, 4096);
    ASSERT_NE(0u, id);

    std::string bytes = Pattern(kBig, 3);
    NHServer_PostSend(s.server, id, bytes.data(), bytes.size());
    NHServer_PostCloseAfterFlush(s.server, id);
    // The peer reads nothing for a while: the close must wait for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ(0u, rec.closed.count(id));
    }
    bool closed = false;
    std::string got = client.ReadUntilEof(20000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(bytes.size(), got.size());
    EXPECT_TRUE(got == bytes);
    // The caster ended its side; the close follows the peer's end.
    client.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) > 0; }));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_COMMAND, rec.closed[id]);
}

TEST_F(NetTest, CloseAfterFlushEndsAnIdleConnectionAndDiscardsLaterInput)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient idle;
    uint64_t idleId = s.Connect(idle);
    ASSERT_NE(0u, idleId);
    NHServer_PostCloseAfterFlush(s.server, idleId);
    EXPECT_TRUE(idle.WaitClosed(3000));
    idle.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(idleId) > 0; }));

    // Bytes a peer sends while its close waits for the flush are discarded,
    // and they do not make the close reset the connection before the peer
    // has read everything.
    TestClient busy;
    uint64_t busyId = s.Connect(busy, 4096);
    ASSERT_NE(0u, busyId);
    std::string bytes = Pattern(kBig, 5);
    NHServer_PostSend(s.server, busyId, bytes.data(), bytes.size());
    NHServer_PostCloseAfterFlush(s.server, busyId);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(busy.Send("after the close"));
    bool closed = false;
    std::string got = busy.ReadUntilEof(20000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(bytes.size(), got.size());
    busy.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(busyId) > 0; }));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(0u, rec.received.count(busyId));
    EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_COMMAND, rec.closed[busyId]);
}

// A peer that is gone before the output drained: the write fails and the
// connection is closed by its event, not left waiting.
TEST_F(NetTest, CloseAfterFlushToAVanishedPeerEndsByTheEvent)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client, 4096);
    ASSERT_NE(0u, id);
    std::string bytes = Pattern(kBig, 7);
    NHServer_PostSend(s.server, id, bytes.data(), bytes.size());
    NHServer_PostCloseAfterFlush(s.server, id);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) > 0; }, 10000));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_EVENT, rec.closed[id]);
}
