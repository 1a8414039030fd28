// Another caster for relay tests, on 127.0.0.1 and a free port: it reads each
// client's request up to its blank line, answers with the reply it is given
// (nothing at all for a silent upstream), then records whatever else the
// client sends and writes what the test hands it. The reply may carry the
// stream's first bytes, go a byte at a time, or frame the stream in chunks
// (Chunk) as an HTTP/1.1 server does.
#pragma once

#include "support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeUpstream {
public:
    struct Behaviour {
        Behaviour() = default;
        Behaviour(const char* text) : reply(text) {}  // NOLINT: a reply alone reads best as a plain text
        std::string reply;            // sent once the request is in; empty: never answer
        std::string replyRest;        // sent after delayMs, for a reply cut in two
        int delayMs = 0;
        bool closeAfterReply = false;  // a refusing caster hangs up
        // Above 0: the reply and its rest go a byte at a time, each in a
        // segment of its own, this many ms apart.
        int bytePauseMs = 0;
    };

    // One chunk of the chunked transfer coding: the size in hex (upper case
    // when asked), the extension text as given (";name=value"), CRLF, the
    // data, CRLF. Empty data makes the last chunk, "0" and its line end
    // (the empty line that ends the trailers is the caller's).
    static std::string Chunk(const std::string& data, const std::string& extension = "", bool upperHex = false)
    {
        char size[32];
        snprintf(size, sizeof(size), upperHex ? "%zX" : "%zx", data.size());
        return size + extension + "\r\n" + data + (data.empty() ? "" : "\r\n");
    }

    // One client connection as the upstream sees it.
    class Conn {
    public:
        std::string Received()
        {
            std::lock_guard<std::mutex> guard(mutex_);
            return received_;
        }
        // Waits until what was received holds text (or has at least n bytes).
        bool WaitFor(const std::string& text, int timeoutMs = 3000)
        {
            std::unique_lock<std::mutex> lock(mutex_);
            return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return received_.find(text) != std::string::npos; });
        }
        bool WaitEnded(int timeoutMs = 3000)
        {
            std::unique_lock<std::mutex> lock(mutex_);
            return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return ended_; });
        }
        void Send(const std::string& bytes)
        {
            std::lock_guard<std::mutex> guard(mutex_);
            outgoing_.push_back(bytes);
        }
        void Close() { closeRequested_ = true; }

    private:
        friend class FakeUpstream;
        std::mutex mutex_;
        std::condition_variable changed_;
        std::string received_;
        std::deque<std::string> outgoing_;
        std::atomic<bool> closeRequested_{false};
        bool ended_ = false;  // the client closed, or the upstream did
    };

    explicit FakeUpstream(Behaviour behaviour)
        : behaviour_(behaviour), listener_(64, [this](int fd) { return Accepted(fd); })
    {
    }

    ~FakeUpstream() { listener_.Stop(); }

    int Port() const { return listener_.Port(); }

    // The index-th connection (0 first), once it has arrived.
    std::shared_ptr<Conn> WaitConnection(size_t index, int timeoutMs = 3000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return conns_.size() > index; })) {
            return nullptr;
        }
        return conns_[index];
    }

    size_t ConnectionCount()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return conns_.size();
    }

private:
    std::function<void()> Accepted(int fd)
    {
        auto conn = std::make_shared<Conn>();
        {
            std::lock_guard<std::mutex> guard(mutex_);
            conns_.push_back(conn);
        }
        changed_.notify_all();
        return [this, fd, conn] { Serve(fd, conn); };
    }

    static bool SendAll(int fd, const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // One byte per segment: no coalescing on the way, a pause after each.
    static bool SendSlowly(int fd, const std::string& bytes, int pauseMs)
    {
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        for (char c : bytes) {
            if (send(fd, &c, 1, MSG_NOSIGNAL) != 1) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        return true;
    }

    bool SendReply(int fd, const std::string& bytes)
    {
        return behaviour_.bytePauseMs > 0 ? SendSlowly(fd, bytes, behaviour_.bytePauseMs) : SendAll(fd, bytes);
    }

    // Reads what is there within waitMs; false once the client has ended.
    bool ReadSome(int fd, Conn& conn, int waitMs)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0) return true;
        char buffer[8192];
        ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) return false;
        {
            std::lock_guard<std::mutex> guard(conn.mutex_);
            conn.received_.append(buffer, static_cast<size_t>(n));
        }
        conn.changed_.notify_all();
        return true;
    }

    void Serve(int fd, std::shared_ptr<Conn> conn)
    {
        bool open = true;
        while (open && !listener_.Stopping() && !conn->closeRequested_) {
            {
                std::lock_guard<std::mutex> guard(conn->mutex_);
                if (conn->received_.find("\r\n\r\n") != std::string::npos) break;
            }
            open = ReadSome(fd, *conn, 20);
        }
        if (open && !behaviour_.reply.empty()) {
            SendReply(fd, behaviour_.reply);
            if (!behaviour_.replyRest.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(behaviour_.delayMs));
                SendReply(fd, behaviour_.replyRest);
            }
            if (behaviour_.closeAfterReply) open = false;
        }
        while (open && !listener_.Stopping() && !conn->closeRequested_) {
            std::deque<std::string> out;
            {
                std::lock_guard<std::mutex> guard(conn->mutex_);
                out.swap(conn->outgoing_);
            }
            for (const std::string& bytes : out) SendAll(fd, bytes);
            open = ReadSome(fd, *conn, 10);
        }
        close(fd);
        {
            std::lock_guard<std::mutex> guard(conn->mutex_);
            conn->ended_ = true;
        }
        conn->changed_.notify_all();
    }

    Behaviour behaviour_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Conn>> conns_;
    LoopbackListener listener_;  // last: its threads use the members above
};
