#include "NetHarness.h"

#include "net/EventLoop.h"
#include "support/WaitFor.h"

#include <event2/event.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

namespace {

CommonDataChain* ChainOf(const std::string& bytes)
{
    CommonDataChain* chain = CommonDataChain_Alloc();
    CommonDataChain_AppendAll(chain, bytes.data(), bytes.size());
    return chain;
}

}  // namespace

// Under ctest every case runs in a process of its own, so the counter starts
// at 0 here and the first connection is 1; IDs are shared by both servers.
TEST_F(NetTest, ChannelIdsCountOnAcrossServers)
{
    uint64_t start = NetHandle_LastChannelId();
    ServerThread one, two;
    ASSERT_TRUE(one.Start());
    ASSERT_TRUE(two.Start());
    TestClient a, b, c;
    uint64_t ida = one.Connect(a);
    uint64_t idb = two.Connect(b);
    uint64_t idc = one.Connect(c);
    EXPECT_EQ(start + 1, ida);
    EXPECT_EQ(start + 2, idb);
    EXPECT_EQ(start + 3, idc);
    if (start == 0) {
        EXPECT_EQ(1u, ida);
        EXPECT_EQ(3u, idc);
    }
    EXPECT_TRUE(LogHas("LibeventServerLoop:ip = 127.0.0.1, port = 0"));
    EXPECT_TRUE(LogHas("NHServer_Run:open files limit = "));
}

TEST_F(NetTest, WaitingBytesReachTheReadCallbackInChunksOf2048)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    ASSERT_NE(0u, id);
    std::string bytes = Pattern(5000, 1);
    ASSERT_TRUE(client.Send(bytes));
    ASSERT_TRUE(rec.WaitFor([&] { return rec.received[id].size() == 5000; }));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(bytes, rec.received[id]);
    EXPECT_EQ((std::vector<int>{2048, 2048, 904}), rec.chunks[id]);
}

// Writes go straight to the socket while nothing waits, so the limit counts
// only what the kernel did not take. The test first fills the kernel (the
// client reads nothing), then makes exactly 204800 bytes wait. It runs on the
// loop thread, where nothing flushes the output between the writes, so the
// lengths are exact.
TEST_F(NetTest, UnsentLimitAllows204800AndRefuses204801)
{
    ServerThread s;
    struct Seen {
        int first = -1, second = -1, third = -1;
        long afterFirst = -2, afterSecond = -2, afterThird = -2;
        size_t takenByKernel = 0;
    } seen;
    rec.onOpen = [&](uint64_t id) {
        TcpConnectionTable* table = NHServer_ConnectionTable(s.server);
        CommonDataChain* fill = ChainOf(std::string(4096, 'k'));
        for (int i = 0; i < 100000 && TcpConnection_OutputLength(table, id) == 0; ++i) {
            TcpConnection_Write(table, fill, id, nullptr);
            seen.takenByKernel += 4096;
        }
        long waiting = TcpConnection_OutputLength(table, id);
        seen.takenByKernel -= static_cast<size_t>(waiting);
        CommonDataChain* big = ChainOf(std::string(204800 - static_cast<size_t>(waiting), 'x'));
        CommonDataChain* one = ChainOf("y");
        seen.first = TcpConnection_Write(table, big, id, nullptr);
        seen.afterFirst = TcpConnection_OutputLength(table, id);
        seen.second = TcpConnection_Write(table, one, id, nullptr);
        seen.afterSecond = TcpConnection_OutputLength(table, id);
        seen.third = TcpConnection_Write(table, one, id, nullptr);
        seen.afterThird = TcpConnection_OutputLength(table, id);
        if (seen.third != 0) NHServer_PostClose(s.server, id);
        CommonDataChain_Free(fill);
        CommonDataChain_Free(big);
        CommonDataChain_Free(one);
    };
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    ASSERT_NE(0u, id);
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) > 0; }));
    EXPECT_GT(seen.takenByKernel, 0u);
    EXPECT_EQ(0, seen.first);
    EXPECT_EQ(204800, seen.afterFirst);
    EXPECT_EQ(0, seen.second);  // 204800 waiting is still allowed
    EXPECT_EQ(204801, seen.afterSecond);
    EXPECT_EQ(1, seen.third);   // 204801 waiting is refused
    EXPECT_EQ(0, seen.afterThird);  // the unsent bytes are dropped
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_COMMAND, rec.closed[id]);
    }
    bool closed = false;
    std::string got = client.ReadUntilEof(3000, &closed);
    EXPECT_TRUE(closed);
    // What the kernel took arrives; nothing of the dropped bytes does.
    EXPECT_EQ(std::string(seen.takenByKernel, 'k'), got);
    EXPECT_TRUE(LogHas("Send to Channel " + std::to_string(id) +
                       " Unsend bufferSize is too large:204801 ,stop writing and close!"));
    rec.onOpen = nullptr;
}

TEST_F(NetTest, CloseOfAnUnknownChannelDoesNothing)
{
    TcpConnectionTable* table = TcpConnection_CreateHashTable();
    TcpConnnection_Close(table, NetRecorder::Close, 77, 1);
    CommonDataChain* chain = ChainOf("abc");
    EXPECT_EQ(1, TcpConnection_Write(table, chain, 77, NetRecorder::Write));
    CommonDataChain_Free(chain);
    TcpConnection_FreeHashTable(table);

    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    NHServer_PostClose(s.server, id + 1000);
    NHServer_PostShutdown(s.server, id + 1000);
    NHServer_PostSend(s.server, id, "still here", 10);
    EXPECT_EQ("still here", client.ReadExactly(10));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_TRUE(rec.closed.empty());
    EXPECT_TRUE(rec.writes.size() == 1 && rec.writes[0] == std::make_pair(id, 10));
}

TEST_F(NetTest, EndOfFileLogsTheEventLineAndClosesWithReason2)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    client.Close();
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) > 0; }));
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_EVENT, rec.closed[id]);
    }
    EXPECT_TRUE(LogHas("NT:EventCallback:channelID=" + std::to_string(id) + ", read, -, eof, -, -, -"));
}

TEST_F(NetTest, CloseByCommandEndsTheConnectionWithReason1)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    NHServer_PostSend(s.server, id, "bye", 3);
    NHServer_PostClose(s.server, id);
    bool closed = false;
    EXPECT_EQ("bye", client.ReadUntilEof(3000, &closed));
    EXPECT_TRUE(closed);
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) > 0; }));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_COMMAND, rec.closed[id]);
}

TEST_F(NetTest, ShutdownCommandEndsTheSocketAndTheEventCloses)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient client;
    uint64_t id = s.Connect(client);
    NHServer_PostShutdown(s.server, id);
    EXPECT_TRUE(client.WaitClosed(3000));
    ASSERT_TRUE(rec.WaitFor([&] { return rec.closed.count(id) > 0; }));
    std::lock_guard<std::mutex> guard(rec.mutex);
    EXPECT_EQ(TCP_CONNECTION_CLOSE_BY_EVENT, rec.closed[id]);
}

TEST_F(NetTest, AnIpThatIsNotDottedIpv4Returns2)
{
    for (const char* ip : {"not-an-ip", "127.0.0.256", "1.2.3", "", "::1"}) {
        NHServer* server = NHServer_Create(nullptr);
        EXPECT_EQ(NHSERVER_ERR_ADDRESS, NHServer_Run(server, ip, 0, NHSERVER_MODE_LISTEN)) << ip;
        NHServer_Free(server);
    }
    NHServer* server = NHServer_Create(nullptr);
    EXPECT_EQ(NHSERVER_ERR_ADDRESS, NHServer_Run(server, nullptr, 0, NHSERVER_MODE_LISTEN));
    NHServer_Free(server);
    EXPECT_TRUE(LogHas("[err] NetHandle:LibeventServerLoop:inet_addr fail"));
    EXPECT_TRUE(LogHas("NHServer_Run:exit"));
}

TEST_F(NetTest, APortInUseReturns3)
{
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    ASSERT_EQ(0, listen(holder, 4));
    socklen_t len = sizeof(addr);
    getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &len);
    int port = ntohs(addr.sin_port);

    NHServer* server = NHServer_Create(nullptr);
    EXPECT_EQ(NHSERVER_ERR_BIND, NHServer_Run(server, "127.0.0.1", port, NHSERVER_MODE_LISTEN));
    EXPECT_EQ(NHServer_ListenError(server), EADDRINUSE);
    NHServer_Free(server);
    close(holder);
    EXPECT_TRUE(LogHas("NetHandle:new bind is error, code = " + std::to_string(EADDRINUSE)));
}

TEST_F(NetTest, DestroyBeforeTheLoopStartsEndsTheRunAtOnce)
{
    NHServer* server = NHServer_Create(nullptr);
    NHServer_Destroy(server);
    EXPECT_EQ(NHSERVER_OK, NHServer_Run(server, "127.0.0.1", 0, NHSERVER_MODE_LISTEN));
    NHServer_Free(server);
    EXPECT_TRUE(LogHas("NHServer_Destroy: be called"));
    EXPECT_TRUE(LogHas("LibeventServerLoop:exit"));
}

TEST_F(NetTest, TimerRunsThePeriodicCallbackThenTheTick)
{
    NHServerCallbacks callbacks = NetRecorder::Callbacks();
    callbacks.tick = NetRecorder::Tick;
    ServerThread s(callbacks);
    EXPECT_EQ(-1, NHServer_SetTimer(s.server, NetRecorder::Timer, 0, nullptr));
    EXPECT_EQ(0, NHServer_SetTimer(s.server, NetRecorder::Timer, 15, nullptr));
    ASSERT_TRUE(s.Start());
    ASSERT_TRUE(rec.WaitFor([&] { return rec.timerCalls.size() >= 6; }));
    std::lock_guard<std::mutex> guard(rec.mutex);
    for (size_t i = 0; i + 1 < 6; i += 2) {
        EXPECT_EQ("timer:15", rec.timerCalls[i]);
        EXPECT_EQ("tick:15", rec.timerCalls[i + 1]);
    }
}

TEST_F(NetTest, TimerWithoutCallbackLogs)
{
    ServerThread s;
    EXPECT_EQ(0, NHServer_SetTimer(s.server, nullptr, 5, nullptr));
    ASSERT_TRUE(s.Start());
    EXPECT_TRUE(WaitLog("NHServer:timeout callback is null"));
}

TEST_F(NetTest, LibeventLogLinesGoToTheDailyLog)
{
    LibeventLogCb(EVENT_LOG_DEBUG, "d");
    LibeventLogCb(EVENT_LOG_MSG, "m");
    LibeventLogCb(EVENT_LOG_WARN, "w");
    LibeventLogCb(EVENT_LOG_ERR, "e");
    LibeventLogCb(9, "x");
    EXPECT_TRUE(LogHas("[debug] Libevent:d"));
    EXPECT_TRUE(LogHas("[info] Libevent:m"));
    EXPECT_TRUE(LogHas("[warn] Libevent:w"));
    EXPECT_TRUE(LogHas("[err] Libevent:e"));
    EXPECT_TRUE(LogHas("[err] LibeventLogCb:severity is unknown"));
    EXPECT_FALSE(LogHas("Libevent:x"));
}

// With no descriptor left the listener cannot accept. The server must log
// it and serve again once descriptors are free, not leave its loop.
TEST_F(NetTest, AcceptErrorPausesAndTheServerKeepsServing)
{
    ServerThread s;
    ASSERT_TRUE(s.Start());
    TestClient clients[3];
    for (TestClient& c : clients) ASSERT_TRUE(c.Open());

    // Under the limit no descriptor is left to open the log with: it is read
    // through one opened before.
    int logFd = open(LogPath().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(logFd, 0);
    auto logged = [&](const std::string& text) {
        std::string all;
        char buffer[4096];
        ssize_t n;
        while ((n = pread(logFd, buffer, sizeof(buffer), static_cast<off_t>(all.size()))) > 0) {
            all.append(buffer, static_cast<size_t>(n));
        }
        return all.find(text) != std::string::npos;
    };

    rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);  // every descriptor below is taken
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &tight));
    bool connected = true;
    for (TestClient& c : clients) connected = c.Connect(s.Port()) && connected;
    // The limit stays until the loop has met it.
    bool refused = WaitFor([&] { return logged("AcceptErrorCallback:accept error " + std::to_string(EMFILE)); },
                           10000, 5);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));
    close(logFd);
    ASSERT_TRUE(connected);
    EXPECT_TRUE(refused);

    ASSERT_TRUE(rec.WaitFor([&] { return rec.opened.size() == 3; }, 5000));
    std::vector<uint64_t> ids;
    {
        std::lock_guard<std::mutex> guard(rec.mutex);
        ids = rec.opened;
    }
    for (size_t i = 0; i < 3; ++i) NHServer_PostSend(s.server, ids[i], "ok", 2);
    for (TestClient& c : clients) EXPECT_EQ("ok", c.ReadExactly(2, 3000));
    EXPECT_TRUE(LogHas("AcceptErrorCallback:accepting again"));
    EXPECT_FALSE(LogHas("AcceptErrorCallback:event loop exit"));
}
