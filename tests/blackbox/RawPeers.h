// Hand-made peers over plain loopback sockets, for tests that check every
// byte: a base that logs in with "SOURCE" and streams, a rover that logs in
// with "GET" and reads, a client that asks for the source table.
#pragma once

#include "blackbox/GnssFrames.h"
#include "blackbox/NtripTexts.h"
#include "support/TestClient.h"
#include "support/WaitFor.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace RawPeers {

// Reading a reply: generous, a sanitizer build under load is slow.
const int kReplyMs = 3000;

// Connects and sends a base's login; *reply gets the bytes of an
// "ICY 200 OK\r\n\r\n"-sized read. True when that is the reply.
inline bool LoginBase(TestClient* c, int port, const std::string& mount, const std::string& password,
                      std::string* reply = nullptr)
{
    if (!c->Connect(port) || !c->Send(NtripTexts::SourceRequest(password, mount))) return false;
    std::string got = c->ReadExactly(NtripTexts::kIcyOk.size(), kReplyMs);
    if (reply) *reply = got;
    return got == NtripTexts::kIcyOk;
}

// The same for a rover's "GET" with Basic authorization.
inline bool LoginRover(TestClient* c, int port, const std::string& mount, const std::string& user,
                       const std::string& password, std::string* reply = nullptr)
{
    if (!c->Connect(port) || !c->Send(NtripTexts::GetRequest(mount, user, password))) return false;
    std::string got = c->ReadExactly(NtripTexts::kIcyOk.size(), kReplyMs);
    if (reply) *reply = got;
    return got == NtripTexts::kIcyOk;
}

// Asks for the source table on a new connection and reads until the caster
// closes it; *closed tells whether it did.
inline std::string FetchSourceTable(int port, const std::string& gga = "", bool* closed = nullptr)
{
    TestClient c;
    if (!c.Connect(port) || !c.Send(NtripTexts::SourceTableRequest(gga))) return "";
    return c.ReadUntilEof(kReplyMs, closed);
}

// Polls the source table until it lists the mount (true) or the time is up.
inline bool WaitListed(int port, const std::string& mount, int timeoutMs = kReplyMs)
{
    return WaitFor([&] { return FetchSourceTable(port).find(NtripTexts::StrLine(mount)) != std::string::npos; },
                   timeoutMs, 50);
}

// Nothing arrives within ms (and the connection stays open).
inline bool StaysQuiet(TestClient* c, int ms, std::string* got = nullptr)
{
    std::string extra = c->ReadAvailable(ms);
    if (got) *got = extra;
    return extra.empty() && !c->PeerClosed();
}

// A base streaming the counter stream (GnssFrames::CounterBytes) from a
// thread of its own: chunkBytes every intervalMs, until totalBytes are out
// (0: until Stop). Sends only: what the caster sends back stays unread.
class CounterStream {
public:
    CounterStream(TestClient* base, size_t chunkBytes, int intervalMs, uint64_t totalBytes = 0)
        : base_(base), chunk_(chunkBytes), interval_(intervalMs), total_(totalBytes)
    {
    }
    ~CounterStream() { Stop(); }
    CounterStream(const CounterStream&) = delete;
    CounterStream& operator=(const CounterStream&) = delete;

    void Start()
    {
        stop_ = false;
        thread_ = std::thread([this] { Run(); });
    }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Waits for a bounded stream to finish; false on time-out (or send failure).
    bool Finish(int timeoutMs)
    {
        WaitFor([this] { return done_.load(); }, timeoutMs, 10);
        Stop();
        return done_ && !failed_;
    }
    uint64_t Sent() const { return sent_; }
    bool Failed() const { return failed_; }

private:
    void Run()
    {
        // Paced against the start, so a late wake-up does not slow the rate.
        auto start = std::chrono::steady_clock::now();
        for (uint64_t k = 0; !stop_; ++k) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(interval_ * static_cast<int64_t>(k)));
            size_t n = chunk_;
            if (total_ > 0 && sent_ + n > total_) n = static_cast<size_t>(total_ - sent_);
            if (n > 0 && !base_->Send(GnssFrames::CounterBytes(sent_, n))) {
                failed_ = true;
                break;
            }
            sent_ += n;
            if (total_ > 0 && sent_ >= total_) break;
        }
        done_ = true;
    }

    TestClient* base_;
    size_t chunk_;
    int interval_;
    uint64_t total_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> failed_{false};
    std::atomic<uint64_t> sent_{0};
};

}  // namespace RawPeers
