// The control-centre server's connection side: one record per process that
// keeps the control port's address, the decode and dispatch functions given
// to each connection's decode framework, the heartbeat function and the
// table of open control connections.
//
// Hostile or idle peers are bounded: at most CTRL_MAX_CONNECTIONS at once
// (more are closed at accept), a connection without an accepted login is
// closed CTRL_LOGIN_TIMEOUT_MS after its open, and one that has been refused
// CTRL_MAX_REFUSED_LOGINS logins is closed after that answer. A
// connection's decode framework (ring, buffers and thread) is made at its
// first bytes, so an idle connection costs no thread.
//
// Threads: the server callbacks run on the control loop thread, which alone
// changes the table (under the control lock); broadcasts come from any
// thread and only read it under that lock. A connection's entry lives from
// its open callback until its decode thread has ended after the close: the
// close hands both to the framework reaper, so the loop never waits for a
// decode thread, and a dispatcher may use the entry it is given.
#pragma once

#include "decoding/DecodeFramework.h"
#include "decoding/LogRoot.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

struct NHServer;

static const int CTRL_MAX_CONNECTIONS = 128;
static const int64_t CTRL_LOGIN_TIMEOUT_MS = 30000;
static const int CTRL_MAX_REFUSED_LOGINS = 8;
// A connection stops being read while its ring holds this many unread bytes
// and reads again once its decode thread is down to the low mark: a burst
// waits in the kernel (the peer's sends block) instead of being dropped. The
// high mark leaves room for the rest of one read (16 KB) in the ring.
static const size_t CTRL_READ_HIGH_WATER = 60000;
static const size_t CTRL_READ_LOW_WATER = 20000;
static const size_t CTRL_PEER_IP_SIZE = 66;

// One open control connection. channelID comes first: the entry's address
// is the address of its channel ID, the context its decode framework hands
// to the dispatcher.
struct CtrlConnection {
    uint64_t channelID;
    CtrlConnection* next;
    DFW::DecodeFramework* framework;  // owned; made by the loop at the first bytes
    // Set by an accepted operator login, cleared by logout: until then the
    // connection is served only login, logout and version requests, and
    // gets no notification.
    std::atomic<bool> loggedIn;
    std::atomic<bool> everLoggedIn;  // spares it the login time-out
    std::atomic<int> refusedLogins;
    // Its close is posted: units still decoded are dropped unanswered.
    std::atomic<bool> closing;
    int64_t openedMs;  // steady clock
    char ip[CTRL_PEER_IP_SIZE];
    int port;
};

// What a login handler learns of its connection.
struct CtrlLoginNote {
    char ip[CTRL_PEER_IP_SIZE];
    int port;
    int refusedLogins;  // on this connection, this one included
    bool closeNow;      // the refusals reached CTRL_MAX_REFUSED_LOGINS
};

namespace RTS {

static const size_t NTRIP_RESP_IP_SIZE = 29;
static const int NTRIP_RESP_TIMER_MS = 3000;

typedef void (*NtripRespTimerFunc)(int status);

// A server for the control port: the open, close and read callbacks below
// and at most CTRL_MAX_CONNECTIONS connections at once.
NHServer* NtripRespHandle_NewServer();

// False when the record exists already, ip is null or longer than 28
// characters. Otherwise records the values, installs the 3000 ms timer on
// server (made by NtripRespHandle_NewServer), and returns true. Binds
// nothing.
bool NtripRespHandle_Create(NHServer* server, DecodeFunc decode, DFW::DispatchFunc dispatch,
                            NtripRespTimerFunc timer, const char* ip, int port);
// Starts the thread that runs the control loop on the recorded address.
// When the port cannot listen the thread logs it at error level and ends:
// the caster goes on without a control port.
void NtripRespHandle_Start();
// The orderly exit: breaks the control loop and waits at most timeoutMs for
// its thread, then ends the decode thread of every connection left and
// joins the framework reaper. True when nothing of the control side runs
// any more (also when the loop never started); false when the loop did not
// end in time, and is left running.
bool NtripRespHandle_Stop(unsigned timeoutMs);

// Posts the bytes to every open connection, or only to the logged-in ones.
void NtripRespHandle_Broadcast(const unsigned char* bytes, size_t n, bool loggedInOnly);

// Marks the connection's login; false when the channel has no entry.
bool NtripRespHandle_SetLoggedIn(uint64_t channelID, bool loggedIn);

// One login attempt: marks the login as NtripRespHandle_SetLoggedIn does,
// counts a refusal and posts the answer (replyLength bytes) under the same
// hold of the control lock, so that no notification to logged-in
// connections reaches this one ahead of its answer. At the
// CTRL_MAX_REFUSED_LOGINS-th refusal the connection is marked closing
// (note->closeNow): the caller posts the close after the answer. False, and
// nothing posted, when the channel has no entry.
bool NtripRespHandle_NoteLogin(uint64_t channelID, bool accepted, const unsigned char* reply, size_t replyLength,
                               CtrlLoginNote* note);

// Closes the connections that have not logged in within timeoutMs of their
// open (control loop thread; the 3000 ms timer runs it). Returns how many.
int NtripRespHandle_CloseWithoutLogin(int64_t nowMs, int64_t timeoutMs = CTRL_LOGIN_TIMEOUT_MS);

// Server callbacks (control loop thread).
void NtripRespHandle_TcpOpenCallback(uint64_t channelID, const char* ip, int port, int kind);
void NtripRespHandle_TcpCloseCallback(uint64_t channelID, int reason);
void NtripRespHandle_TcpReadCallback(uint64_t channelID, const char* bytes, int n);
void NtripRespHandle_TimerCallback(int periodMs, void* arg);

}  // namespace RTS
