// Commands run from inside a read: a base's broadcast drains the command
// queue before its first piece, and what it drains may close or discard the
// very connection being read. The read's pieces point into that
// connection's input, so the input must stay where it is until the read
// returns (the sanitizer build reports a use after free otherwise).
#include "NetHarness.h"

#include <atomic>

namespace {

struct Case {
    const char* name;
    void (*post)(NHServer*, uint64_t);
};

}  // namespace

TEST_F(NetTest, ACloseRunFromInsideAReadLeavesItsInputAloneAndEndsTheRead)
{
    const Case cases[] = {
        {"close after flush", NHServer_PostCloseAfterFlush},
        {"close", NHServer_PostClose},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerThread s;
        std::atomic<uint64_t> publisher{0};
        std::atomic<bool> posted{false};
        rec.onRead = [&](uint64_t id, const char* bytes, int n) {
            if (id != publisher.load()) return;
            // A full piece: more of this read is still to be handed out.
            if (n == static_cast<int>(TCP_CONNECTION_READ_CHUNK) && !posted.exchange(true)) c.post(s.server, id);
            NHServer_Broadcast(s.server, id, bytes, static_cast<size_t>(n));
        };
        ASSERT_TRUE(s.Start());
        TestClient pub, rover;
        publisher = s.Connect(pub);
        uint64_t roverId = s.Connect(rover);
        ASSERT_NE(0u, publisher.load());
        NHServer_PostAddPublisher(s.server, publisher);
        NHServer_PostSubscribe(s.server, publisher, roverId);
        NHServer_PostSend(s.server, publisher, "go", 2);
        ASSERT_EQ("go", pub.ReadExactly(2));

        const std::string bytes = Pattern(5000, 9);
        ASSERT_TRUE(pub.Send(bytes));
        // The piece that was handed out reaches the subscriber whole; the
        // rest of the read is neither handed out nor broadcast.
        const std::string first = bytes.substr(0, TCP_CONNECTION_READ_CHUNK);
        EXPECT_EQ(first, rover.ReadExactly(first.size()));
        EXPECT_EQ("", rover.ReadAvailable(200));
        pub.Send("later");
        EXPECT_TRUE(pub.WaitClosed(3000));
        pub.Close();
        ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(publisher.load()) > 0; }));
        {
            std::lock_guard<std::mutex> guard(rec.mutex);
            EXPECT_EQ(first, rec.received[publisher.load()]);
            EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_COMMAND, rec.closed[publisher.load()]);
        }
        rec.onRead = nullptr;
    }
}
