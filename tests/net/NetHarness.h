// Runs an NHServer on a thread of its own for tests and records what its
// callbacks saw. The callbacks have no context argument, so one recorder per
// process collects them from every server the test starts.
#pragma once

#include "net/NHServerTesting.h"
#include "runtime/Log.h"
#include "support/Files.h"
#include "support/TempDir.h"
#include "support/TestClient.h"

#include <event2/bufferevent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct NetRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint64_t> opened;
    std::map<uint64_t, int> closed;  // reason
    std::map<uint64_t, std::string> received;
    std::map<uint64_t, std::vector<int>> chunks;
    std::vector<std::pair<uint64_t, int>> writes;  // (channel, bytes) in call order
    std::vector<std::string> timerCalls;           // "timer:<period>" / "tick:<period>"

    // Run on the loop thread, inside the callbacks.
    std::function<void(uint64_t)> onOpen;
    std::function<void(uint64_t, const char*, int)> onRead;

    static NetRecorder& Get()
    {
        static NetRecorder recorder;
        return recorder;
    }

    // The open, close, read and write callbacks below, for a server.
    static NHServerCallbacks Callbacks()
    {
        NHServerCallbacks callbacks = {};
        callbacks.open = Open;
        callbacks.close = Close;
        callbacks.read = Read;
        callbacks.write = Write;
        return callbacks;
    }

    // Waits until pred() (called with the mutex held) is true.
    template <typename Pred>
    bool WaitFor(Pred pred, int timeoutMs = 3000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
    }

    static void Open(uint64_t id, const char*, int, int)
    {
        NetRecorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.opened.push_back(id);
        }
        if (r.onOpen) r.onOpen(id);
        r.changed.notify_all();
    }
    static void Close(uint64_t id, int reason)
    {
        NetRecorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.closed[id] = reason;
        }
        r.changed.notify_all();
    }
    static void Read(uint64_t id, const char* bytes, int length)
    {
        NetRecorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.received[id].append(bytes, static_cast<size_t>(length));
            r.chunks[id].push_back(length);
        }
        if (r.onRead) r.onRead(id, bytes, length);
        r.changed.notify_all();
    }
    static void Write(uint64_t id, int bytes, int)
    {
        NetRecorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.writes.emplace_back(id, bytes);
        }
        r.changed.notify_all();
    }
    static void Timer(int period, void*)
    {
        NetRecorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.timerCalls.push_back("timer:" + std::to_string(period));
        }
        r.changed.notify_all();
    }
    static void Tick(int period, void*)
    {
        NetRecorder& r = Get();
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            r.timerCalls.push_back("tick:" + std::to_string(period));
        }
        r.changed.notify_all();
    }
};

// One server with the recorder's callbacks (or those given), run on its
// own thread.
class ServerThread {
public:
    explicit ServerThread(const NHServerCallbacks& callbacks = NetRecorder::Callbacks(), int maxConnections = 0)
    {
        server = NHServer_Create(&callbacks, maxConnections);
    }
    ~ServerThread()
    {
        Stop();
        NHServer_Free(server);
    }

    // Starts the loop on 127.0.0.1 and a free port; true once it listens.
    bool Start(const char* ip = "127.0.0.1", int port = 0)
    {
        thread_ = std::thread([this, ip, port] {
            result = NHServer_Run(server, ip, port, NHSERVER_MODE_LISTEN);
            done_ = true;
        });
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (NHServer_ListenPort(server) != 0) return true;
            if (done_) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    void Stop()
    {
        if (!thread_.joinable()) return;
        NHServer_Destroy(server);
        thread_.join();
    }

    int Port() { return NHServer_ListenPort(server); }

    // Connects the client and returns the channelID the server gave it.
    uint64_t Connect(TestClient& client, int receiveBuffer = 0)
    {
        NetRecorder& r = NetRecorder::Get();
        size_t before;
        {
            std::lock_guard<std::mutex> guard(r.mutex);
            before = r.opened.size();
        }
        if (!client.IsOpen()) client.Open(receiveBuffer);
        if (!client.Connect(Port())) return 0;
        if (!r.WaitFor([&] { return r.opened.size() > before; })) return 0;
        std::lock_guard<std::mutex> guard(r.mutex);
        return r.opened[before];
    }

    NHServer* server = nullptr;
    int result = -1;

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
};

// Each test writes its own log into a temporary folder.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        prefix_ = tmp_.File("net");
        ASSERT_EQ(0, Log_Init(prefix_.c_str()));
    }

    std::string LogPath()
    {
        PlatformLocalTime now;
        Platform_GetLocalTime(&now);
        char date[32];
        snprintf(date, sizeof(date), "_%04d-%02d-%02d.log", now.year, now.month, now.day);
        return prefix_ + date;
    }

    std::string LogText() { return ReadFile(LogPath()); }

    bool LogHas(const std::string& text) { return LogText().find(text) != std::string::npos; }

    // Waits for a text to show in the log (it is written by the loop thread).
    bool WaitLog(const std::string& text, int timeoutMs = 3000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (LogHas(text)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return LogHas(text);
    }

    NetRecorder& rec = NetRecorder::Get();

private:
    TempDir tmp_;
    std::string prefix_;
};

// Gives a connection of the server a small kernel send buffer, so that a
// peer that does not read makes its bytes wait in the server's output soon.
inline void ShrinkSendBuffer(NHServer* server, uint64_t channelID)
{
    TcpConnection* record = TcpConnection_Find(NHServer_ConnectionTable(server), channelID);
    int small = 4096;
    if (record) setsockopt(bufferevent_getfd(record->bev), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
}

inline std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xff);
    return s;
}
