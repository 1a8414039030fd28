// What both fan-out benchmarks measure the same way: the clock, the latency
// histogram, loopback connections, the wait for the last bytes, and the
// "--subscribers 100,1000" style count lists.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace Bench {

// Writes all n bytes to a pipe or socket; false on an error.
inline bool WriteAll(int fd, const void* data, size_t n)
{
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Reads exactly n bytes from a pipe or socket; false at its end or an error.
inline bool ReadAll(int fd, void* data, size_t n)
{
    char* p = static_cast<char*>(data);
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Each chunk starts with its send time (ns) and its sequence number.
const size_t HEADER = 16;

inline uint64_t NowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// Latencies in a fixed histogram: 10 us steps below 10 ms, 1 ms steps up to 300 s.
struct Histogram {
    static const int FINE = 1000, COARSE = 300000;
    std::vector<uint64_t> fine = std::vector<uint64_t>(FINE, 0);
    std::vector<uint64_t> coarse = std::vector<uint64_t>(COARSE + 1, 0);
    uint64_t count = 0, maxNs = 0;

    void Add(uint64_t ns)
    {
        ++count;
        maxNs = std::max(maxNs, ns);
        uint64_t us = ns / 1000;
        if (us < 10000) {
            ++fine[us / 10];
        } else {
            uint64_t ms = us / 1000;
            ++coarse[ms > COARSE ? COARSE : ms];
        }
    }
    void Merge(const Histogram& o)
    {
        for (int i = 0; i < FINE; ++i) fine[i] += o.fine[i];
        for (int i = 0; i <= COARSE; ++i) coarse[i] += o.coarse[i];
        count += o.count;
        maxNs = std::max(maxNs, o.maxNs);
    }
    // The upper edge of the bucket holding the q-quantile, in ms.
    double QuantileMs(double q) const
    {
        if (count == 0) return 0;
        uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(count - 1)) + 1, seen = 0;
        for (int i = 0; i < FINE; ++i) {
            seen += fine[i];
            if (seen >= rank) return (i + 1) * 0.01;
        }
        for (int i = 0; i <= COARSE; ++i) {
            seen += coarse[i];
            if (seen >= rank) return i + 1.0;
        }
        return maxNs / 1e6;
    }
};

// A blocking TCP connection to 127.0.0.1:port with Nagle off; -1 on failure.
inline int Connect(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return fd;
}

// Lets the last chunks arrive: returns once the readers have delivered all
// that is expected or nothing has moved for two seconds.
inline void AwaitDelivery(const std::atomic<uint64_t>& delivered, uint64_t expected)
{
    uint64_t last = delivered.load(), lastMove = NowNs();
    while (delivered.load() < expected) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        uint64_t d = delivered.load();
        if (d != last) {
            last = d;
            lastMove = NowNs();
        } else if (NowNs() - lastMove > 2000000000ull) {
            break;
        }
    }
}

// "100,1000,5000" as numbers; empty parts are skipped.
inline std::vector<int> ParseCounts(const char* text)
{
    std::vector<int> out;
    std::string s(text);
    size_t at = 0;
    while (at <= s.size()) {
        size_t comma = s.find(',', at);
        std::string part = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!part.empty()) out.push_back(atoi(part.c_str()));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

}  // namespace Bench
