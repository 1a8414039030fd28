// A server's connection cap (idle peers cannot take every descriptor) and
// the pause of reading that lets a slow consumer hold a fast peer back.
#include "net/NetHarness.h"

namespace {

int CountIn(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

size_t Opened(NetRecorder& rec)
{
    std::lock_guard<std::mutex> guard(rec.mutex);
    return rec.opened.size();
}

TEST_F(NetTest, ConnectionsPastTheCapAreClosedAtAcceptWithOneLineASecond)
{
    ServerThread s(NetRecorder::Callbacks(), 3);
    ASSERT_TRUE(s.Start());
    TestClient kept[3];
    uint64_t ids[3];
    for (int i = 0; i < 3; ++i) ASSERT_NE(0u, ids[i] = s.Connect(kept[i]));
    size_t opened = Opened(rec);

    auto start = std::chrono::steady_clock::now();
    const int kRefused = 20;
    for (int i = 0; i < kRefused; ++i) {
        TestClient extra;
        ASSERT_TRUE(extra.Connect(s.Port()));
        EXPECT_TRUE(extra.WaitClosed(3000)) << "connection " << i << " past the cap stayed open";
    }
    long seconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(opened, Opened(rec)) << "a refused connection reached the open callback";
    ASSERT_TRUE(WaitLog("AcceptCallback:3 connections open, the cap; 127.0.0.1:"));
    int lines = CountIn(LogText(), "connections open, the cap");
    EXPECT_GE(lines, 1);
    EXPECT_LE(lines, 1 + seconds) << "more than one refusal line a second";

    // The kept ones are served; once one goes, a new one is taken again.
    NHServer_PostSend(s.server, ids[0], "ok", 2);
    EXPECT_EQ("ok", kept[0].ReadExactly(2, 3000));
    kept[1].Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(ids[1]) == 1; }));
    TestClient later;
    EXPECT_NE(0u, s.Connect(later));
}

// Resumes reading the channel given as the argument (loop thread).
NHServer* g_pausedServer = nullptr;
void ResumeOnLoop(void* arg)
{
    NHServer_ResumeRead(g_pausedServer, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(arg)));
}

TEST_F(NetTest, APausedConnectionKeepsItsBytesInTheKernelUntilResumed)
{
    ServerThread s;
    g_pausedServer = s.server;
    std::atomic<bool> pauseOnRead{true};
    rec.onRead = [&](uint64_t ch, const char*, int) {
        if (pauseOnRead.load()) NHServer_PauseRead(s.server, ch);
    };
    ASSERT_TRUE(s.Start());
    TestClient c;
    uint64_t id = s.Connect(c);
    ASSERT_NE(0u, id);
    ASSERT_TRUE(c.Send("first"));
    ASSERT_TRUE(rec.WaitFor([&] { return rec.received[id] == "first"; }));
    pauseOnRead = false;
    ASSERT_TRUE(c.Send("second"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ("first", rec.received[id]) << "read while paused";
    }
    NHServer_PostCall(s.server, ResumeOnLoop, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
    EXPECT_TRUE(rec.WaitFor([&] { return rec.received[id] == "firstsecond"; }));

    // A close after flush on a paused connection still sees the peer's end.
    pauseOnRead = true;
    ASSERT_TRUE(c.Send("third"));
    ASSERT_TRUE(rec.WaitFor([&] { return rec.received[id] == "firstsecondthird"; }));
    NHServer_PostSend(s.server, id, "bye", 3);
    NHServer_PostCloseAfterFlush(s.server, id);
    EXPECT_EQ("bye", c.ReadExactly(3, 3000));
    c.Close();
    EXPECT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) == 1; }));
    s.Stop();
    rec.onRead = nullptr;
}

}  // namespace
