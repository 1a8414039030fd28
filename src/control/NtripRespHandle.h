// The control-centre server's connection side: one record per process that
// keeps the control port's address, the decode and dispatch functions given
// to each connection's decode framework, the heartbeat function and the
// table of open control connections.
//
// Threads: the server callbacks run on the control loop thread, which alone
// changes the table (under the control lock); broadcasts come from any
// thread and only read it under that lock. A connection's entry lives from
// its open callback to its close callback; the close frees it only after its
// decode thread has ended, so a dispatcher may use the entry it is given.
#pragma once

#include "decoding/DecodeFramework.h"
#include "decoding/LogRoot.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

struct NHServer;

// One open control connection. channelID comes first: the entry's address
// is the address of its channel ID, the context its decode framework hands
// to the dispatcher.
struct CtrlConnection {
    uint64_t channelID;
    CtrlConnection* next;
    DFW::DecodeFramework* framework;  // owned
    // Set by an accepted operator login, cleared by logout: until then the
    // connection is served only login, logout and version requests, and
    // gets no notification.
    std::atomic<bool> loggedIn;
};

namespace RTS {

static const size_t NTRIP_RESP_IP_SIZE = 29;
static const int NTRIP_RESP_TIMER_MS = 3000;

typedef void (*NtripRespTimerFunc)(int status);

// False when the record exists already, ip is null or longer than 28
// characters. Otherwise records the values, installs the open, close and
// read callbacks and the 3000 ms timer on server, and returns true. Binds
// nothing.
bool NtripRespHandle_Create(NHServer* server, DecodeFunc decode, DFW::DispatchFunc dispatch,
                            NtripRespTimerFunc timer, const char* ip, int port);
// Starts the thread that runs the control loop on the recorded address.
// When the port cannot listen the thread logs it at error level and ends:
// the caster goes on without a control port.
void NtripRespHandle_Start();

// Posts the bytes to every open connection, or only to the logged-in ones.
void NtripRespHandle_Broadcast(const unsigned char* bytes, size_t n, bool loggedInOnly);

// Marks the connection's login; false when the channel has no entry.
bool NtripRespHandle_SetLoggedIn(uint64_t channelID, bool loggedIn);

// Open connections (tests and benchmarks).
size_t NtripRespHandle_Count();

// Server callbacks (control loop thread).
void NtripRespHandle_TcpOpenCallback(uint64_t channelID, const char* ip, int port, int kind);
void NtripRespHandle_TcpCloseCallback(uint64_t channelID, int reason);
void NtripRespHandle_TcpReadCallback(uint64_t channelID, const char* bytes, int n);
void NtripRespHandle_TimerCallback(int periodMs, void* arg);

}  // namespace RTS
