// A small blocking TCP client for tests over loopback: connect to
// 127.0.0.1:port, send, read exactly n bytes or until a text appears (with a
// time-out), read until the peer closes. Bytes read past what a call asked
// for stay buffered for the next call.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

// A TCP socket bound to 127.0.0.1 on a free port, listening when asked; its
// port goes to *port. -1 on failure. Held bound and unlistened, a port
// refuses every connect and no other program can take it meanwhile; held
// listening and never accepted, it takes connections that nobody answers.
inline int TestClient_BindLoopback(bool listening, int* port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || (listening && listen(fd, 16) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

// A port that was free a moment ago, below the kernel's ephemeral range:
// ports from bind(0) come from that range, where any test's outgoing
// connection may take the same number as its local port before the program
// that was handed it binds it. Random, so parallel test processes rarely
// pick alike; each pick is checked by binding it.
inline int TestClient_FreePort()
{
    int ephemeralLow = 32768;
    if (FILE* range = fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (fscanf(range, "%d", &ephemeralLow) != 1) ephemeralLow = 32768;
        fclose(range);
    }
    const int low = ephemeralLow > 12000 ? 10000 : 1024;
    static thread_local std::mt19937 pick{std::random_device{}()};
    for (int attempt = 0; ephemeralLow - low > 100 && attempt < 200; ++attempt) {
        int port = low + static_cast<int>(pick() % static_cast<unsigned>(ephemeralLow - low));
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        bool free = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        close(fd);
        if (free) return port;
    }
    int port = 0;
    int fd = TestClient_BindLoopback(false, &port);
    if (fd < 0) return 0;
    close(fd);
    return port;
}

class TestClient {
public:
    TestClient() = default;
    ~TestClient() { Close(); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;
    TestClient(TestClient&& other) noexcept : fd_(other.fd_), pending_(std::move(other.pending_)), eof_(other.eof_)
    {
        other.fd_ = -1;
    }

    // Makes the socket now (so a test can set options or count descriptors
    // before connecting). receiveBuffer > 0 sets SO_RCVBUF first.
    bool Open(int receiveBuffer = 0)
    {
        Close();
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        return true;
    }

    // Connects to 127.0.0.1:port (opening the socket when not yet open).
    bool Connect(int port, int receiveBuffer = 0)
    {
        if (fd_ < 0 && !Open(receiveBuffer)) return false;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        eof_ = false;
        pending_.clear();
        return connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    }

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool Send(const void* bytes, size_t n)
    {
        const char* p = static_cast<const char*>(bytes);
        while (n > 0) {
            ssize_t sent = send(fd_, p, n, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            p += sent;
            n -= static_cast<size_t>(sent);
        }
        return true;
    }
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }

    // Exactly n bytes, or fewer when the time-out passes or the peer closes.
    std::string ReadExactly(size_t n, int timeoutMs = 2000)
    {
        Deadline deadline(timeoutMs);
        while (pending_.size() < n && Fill(deadline)) {
        }
        return Take(pending_.size() < n ? pending_.size() : n);
    }

    // Everything up to and including the first occurrence of text; on
    // time-out or end of stream returns "" and keeps what was read.
    std::string ReadUntil(const std::string& text, int timeoutMs = 2000)
    {
        Deadline deadline(timeoutMs);
        size_t at;
        while ((at = pending_.find(text)) == std::string::npos) {
            if (!Fill(deadline)) return "";
        }
        return Take(at + text.size());
    }

    // Reads until the peer closes; *closed tells whether it did before the time-out.
    std::string ReadUntilEof(int timeoutMs = 2000, bool* closed = nullptr)
    {
        Deadline deadline(timeoutMs);
        while (Fill(deadline)) {
        }
        if (closed) *closed = eof_;
        return Take(pending_.size());
    }

    // True when the peer closed (or reset) the connection within the time-out;
    // bytes that arrive meanwhile are dropped.
    bool WaitClosed(int timeoutMs = 2000)
    {
        Deadline deadline(timeoutMs);
        while (Fill(deadline)) pending_.clear();
        return eof_;
    }

    // Whatever arrives within timeoutMs (at least one read when data waits).
    std::string ReadAvailable(int timeoutMs = 100)
    {
        Deadline deadline(timeoutMs);
        if (pending_.empty()) Fill(deadline);
        return Take(pending_.size());
    }

    bool PeerClosed() const { return eof_; }

    void ShutdownWrite()
    {
        if (fd_ >= 0) shutdown(fd_, SHUT_WR);
    }

    void Close()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    struct Deadline {
        explicit Deadline(int ms) : end(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
        int Left() const
        {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            return left.count() < 0 ? 0 : static_cast<int>(left.count());
        }
        std::chrono::steady_clock::time_point end;
    };

    // One read into pending_. False on time-out, end of stream or error.
    bool Fill(const Deadline& deadline)
    {
        if (fd_ < 0 || eof_) return false;
        pollfd p{fd_, POLLIN, 0};
        int ready;
        do {
            ready = poll(&p, 1, deadline.Left());
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) return false;
        char buffer[65536];
        ssize_t got = recv(fd_, buffer, sizeof(buffer), 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
        if (got <= 0) {
            eof_ = true;
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(got));
        return true;
    }

    std::string Take(size_t n)
    {
        std::string out = pending_.substr(0, n);
        pending_.erase(0, n);
        return out;
    }

    int fd_ = -1;
    std::string pending_;
    bool eof_ = false;
};
