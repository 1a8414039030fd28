// A loopback port held bound for as long as the object lives, so that no
// other program can take it meanwhile (as it could a port merely found
// free). Refusing, it is never listened on and every connect to it is
// refused; listening, it takes connections that nobody answers.
#pragma once

#include "support/TestClient.h"

#include <unistd.h>

class HeldPort {
public:
    enum Mode { kRefusing, kListening };

    explicit HeldPort(Mode mode) { fd_ = TestClient_BindLoopback(mode == kListening, &port_); }
    ~HeldPort()
    {
        if (fd_ >= 0) close(fd_);
    }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    // 0 when no port could be bound.
    int Port() const { return fd_ >= 0 ? port_ : 0; }

private:
    int fd_ = -1;
    int port_ = 0;
};
