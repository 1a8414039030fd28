// A TCP server over one libevent loop: it listens on one address, gives every
// connection a channelID, reads connections in chunks into the read callback,
// writes data chains with a limit on unsent bytes, closes connections with a
// reason and runs one periodic timer.
//
// Threads: NHServer_Create, the setters (before the run), NHServer_Destroy
// and the NHServer_Post* calls may run on any thread. Everything else (the
// callbacks, the connection table, the commands) runs on the loop thread,
// the thread that called NHServer_Run. The publisher table has its own lock
// (see PublisherTable.h), so a worker may also use it directly.
#pragma once

#include "net/CommandQueue.h"
#include "net/PublisherTable.h"
#include "net/TcpConnection.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct event;
struct event_base;
struct evconnlistener;
struct evdns_base;
struct sockaddr;

typedef void (*NetHandleRelayConnectedCb)(uint64_t relayChannelID, void* relayContext);
typedef void (*NetHandleRelayVerifiedCb)(void* relayContext);
typedef void (*NetHandleRelayClosedCb)(void* relayContext);
// (period in ms, timer argument); the timer and the tick callback share it.
typedef void (*NetHandleTimerCb)(int periodMs, void* arg);

// Start-up results of NHServer_Run / LibeventServerLoop.
static const int NHSERVER_OK = 0;
static const int NHSERVER_ERR_BASE = 1;
static const int NHSERVER_ERR_ADDRESS = 2;
static const int NHSERVER_ERR_BIND = 3;

// How long a close-after-flush waits for the peer to take more bytes.
static const int NHSERVER_FLUSH_TIMEOUT_S = 30;

// The listener mode the system uses: a TCP listener on ip:port.
static const int NHSERVER_MODE_LISTEN = 1;

struct NHServer {
    NetHandleOpenCb openCb;
    NetHandleCloseCb closeCb;
    NetHandleReadCb readCb;
    NetHandleWriteCb writeCb;
    NetHandleRelayConnectedCb relayConnectedCb;
    NetHandleRelayVerifiedCb relayVerifiedCb;
    NetHandleRelayClosedCb relayClosedCb;
    NetHandleTimerCb tickCb;
    CommandQueue* queue;
    TcpConnectionTable* table;
    // Set while the loop runs; posters read it from any thread.
    std::atomic<struct event_base*> base;
    PublisherTable* publishers;
    struct event* timerEvent;
    int timerPeriodMs;
    NetHandleTimerCb timerCb;
    void* timerArg;

    // Loop-thread state of our own.
    struct evconnlistener* listener;
    struct event* acceptResume;  // re-enables the listener after an accept error
    std::atomic<bool> stopRequested;
    std::vector<uint64_t> broadcastScratch;
    struct evdns_base* dnsBase;  // made at the first lookup, freed with the loop
};

// A zeroed server with an empty command queue, connection table and
// publisher table; installs LibeventLogCb as the library's log callback.
NHServer* NHServer_Create();
// Frees a server whose loop has returned (or never ran): queued commands,
// connections left, publishers and the timer.
void NHServer_Free(NHServer* server);

int NHServer_SetOpenCallback(NHServer* server, NetHandleOpenCb cb);
int NHServer_SetCloseCallback(NHServer* server, NetHandleCloseCb cb);
int NHServer_SetReadCallback(NHServer* server, NetHandleReadCb cb);
int NHServer_SetWriteCallback(NHServer* server, NetHandleWriteCb cb);
int NHServer_SetRelayConnectedCallback(NHServer* server, NetHandleRelayConnectedCb cb);
int NHServer_SetRelayVerifiedCallback(NHServer* server, NetHandleRelayVerifiedCb cb);
int NHServer_SetRelayClosedCallback(NHServer* server, NetHandleRelayClosedCb cb);
int NHServer_SetTickCallback(NHServer* server, NetHandleTimerCb cb);

// 0, or -1 when the period is below 1 ms.
int NHServer_SetTimer(NHServer* server, NetHandleTimerCb cb, int periodMs, void* arg);
// Adds the timer to the running base: 0, or -1 without a timer.
int NHServer_StartTimer(NHServer* server);

// Runs the loop on the calling thread until NHServer_Destroy breaks it.
// 0 after a normal end; 1 no event base; 2 ip is not a dotted IPv4 address;
// 3 the address cannot be bound. Port 0 binds a free port (NHServer_ListenPort).
int NHServer_Run(NHServer* server, const char* ip, int port, int mode);
int LibeventServerLoop(NHServer* server, const char* ip, int port, int mode);

// Breaks the server's loop (any thread; also before the loop has started,
// which then returns at once). Frees nothing.
void NHServer_Destroy(NHServer* server);

// The port the listener is bound to, or 0 while it is not listening. Any thread.
int NHServer_ListenPort(NHServer* server);

// Posters: any thread. The caller keeps its bytes and chains; the command
// holds copies of any length.
void NHServer_PostClose(NHServer* server, uint64_t channelID);
// Closes the connection once everything queued for it before this command
// has reached the peer (a source table, a last reply). From the command on,
// whatever the peer sends is discarded; when the output has drained the
// write side is shut down, and the close (reason 1) follows the peer's end.
// A peer that neither reads nor ends for NHSERVER_FLUSH_TIMEOUT_S seconds,
// or whose connection fails, is closed by the event (reason 2).
void NHServer_PostCloseAfterFlush(NHServer* server, uint64_t channelID);
void NHServer_PostSend(NHServer* server, uint64_t channelID, const void* bytes, size_t length);
void NHServer_PostSendChain(NHServer* server, uint64_t channelID, const CommonDataChain* chain);
void NHServer_PostAddPublisher(NHServer* server, uint64_t channelID);
void NHServer_PostRemovePublisher(NHServer* server, uint64_t channelID);
void NHServer_PostSubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);
void NHServer_PostUnsubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);
void NHServer_PostBroadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length);
void NHServer_PostShutdown(NHServer* server, uint64_t channelID);
// Runs fn(arg) on the loop thread, in order with the other commands: work
// that must touch the loop's connections (an outgoing connect) started from
// another thread. A call still queued when the server is freed is dropped
// unrun; the caller's arg is then not released.
typedef void (*NHServerCallFn)(void* arg);
void NHServer_PostCall(NHServer* server, NHServerCallFn fn, void* arg);

// The loop's asynchronous resolver (libevent's evdns, set up from
// /etc/resolv.conf and /etc/hosts at the first call), so that outgoing
// connections never block the loop on a name lookup. Loop thread only;
// nullptr while the loop does not run. Lookups still pending when the loop
// ends are dropped without their callbacks.
struct evdns_base* NHServer_DnsBase(NHServer* server);

// The close-after-flush command itself; loop thread only.
void NHServer_CloseAfterFlush(NHServer* server, uint64_t channelID);

// Wakes the server's loop so that its queue is drained; nothing before the
// loop has a base (its first drain runs what is queued).
void NHServer_Wake(NHServer* server);

// Loop callbacks.
void AcceptCallback(struct evconnlistener* listener, int fd, struct sockaddr* address, int length, void* server);
void ReadDataCallback(struct bufferevent* bev, void* server);
// Write callback of a connection waiting for its close-after-flush.
void FlushedCloseCallback(struct bufferevent* bev, void* server);
void EventCallback(struct bufferevent* bev, short events, void* server);
void AcceptErrorCallback(struct evconnlistener* listener, void* server);
void TimerCallback(int fd, short events, void* server);
void LibeventLogCb(int severity, const char* message);
