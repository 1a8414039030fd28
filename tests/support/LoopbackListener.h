// A TCP listener on 127.0.0.1 at a free port, for the fakes of outside
// servers: one thread accepts, each connection is served on a thread of its
// own, and every thread is joined when the listener stops.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class LoopbackListener {
public:
    // Runs on the accepting thread for each new connection, in the order they
    // arrive; what it returns serves the connection on a thread of its own.
    using Accept = std::function<std::function<void()>(int fd)>;

    LoopbackListener(int backlog, Accept accept) : accept_(std::move(accept))
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 && listen(fd_, backlog) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port_ = ntohs(addr.sin_port);
        }
        acceptor_ = std::thread([this] { Run(); });
    }
    ~LoopbackListener() { Stop(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Port() const { return port_; }
    // True once Stop has begun: long-running handlers end on it.
    bool Stopping() const { return stop_; }

    // Stops accepting and joins every thread. An owner calls it first in its
    // own destructor, so that no handler outlives the state it uses.
    void Stop()
    {
        if (stop_.exchange(true)) return;
        acceptor_.join();
        for (std::thread& t : handlers_) t.join();
        close(fd_);
    }

private:
    void Run()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            handlers_.emplace_back(accept_(fd));
        }
    }

    Accept accept_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> handlers_;  // acceptor thread only, joined after it
};
