// A TCP server over one libevent loop: it listens on one address, gives every
// connection a channelID, reads connections in chunks into the read callback,
// writes data chains with a limit on unsent bytes, closes connections with a
// reason and runs one periodic timer. Its owner hands it one table of
// callbacks at creation; the server itself is opaque.
//
// Threads: NHServer_Create, NHServer_SetTimer (before the run),
// NHServer_Destroy, NHServer_ListenPort, NHServer_HasPublisher and the
// NHServer_Post* calls may run on any thread. Everything else (the
// callbacks, the connections, the commands, and the calls marked "loop
// thread") runs on the loop thread, the thread that called NHServer_Run.
//
// Commands: each post pushes one command on the server's queue and wakes the
// loop; the loop drains the queue after every iteration and runs the
// commands one by one, in the order in which they were pushed:
// - every post wakes the loop, and a post from any thread is run by the
//   first drain that starts after it;
// - commands run in post order, each exactly once; commands posted while a
//   drain runs, also by the commands themselves, run in the same drain;
// - a post made before the server's loop has an event base is queued, and
//   the first drain of the loop runs it.
//
// Re-entrancy: commands also run from inside callbacks (NHServer_Broadcast
// drains the queue from inside the read that calls it), so a command may
// close or discard the very connection whose callback is running. The rule:
// nothing frees, drains or moves a connection's input while a read of it is
// handing out pieces (they point into it). A close run from inside the read
// frees the connection's record, never its input, which the read holds until
// it returns; a close-after-flush run there leaves the discarding of the
// input to the read's end. Either way the read hands out no further piece,
// and no callback of the connection runs after its close callback. A read
// of a connection from inside its own read does nothing. A write callback
// may close only the connection it is told of (a broadcast walks its list
// in place), and a broadcast or drain started from inside another is posted.
#pragma once

#include "net/ConnTraffic.h"
#include "runtime/CommonDataChain.h"

#include <cstddef>
#include <cstdint>

struct NHServer;
struct bufferevent;
struct event_base;
struct evdns_base;

// kind: 0 accepted connection, 1 outgoing connection (a relay's).
typedef void (*NetHandleOpenCb)(uint64_t channelID, const char* ip, int port, int kind);
// reason: TCP_CONNECTION_CLOSE_BY_COMMAND or TCP_CONNECTION_CLOSE_BY_EVENT.
typedef void (*NetHandleCloseCb)(uint64_t channelID, int reason);
typedef void (*NetHandleReadCb)(uint64_t channelID, const char* bytes, int length);
// (channelID, bytes written, 0)
typedef void (*NetHandleWriteCb)(uint64_t channelID, int bytes, int unused);
// (period in ms, timer argument); the timer and the tick callback share it.
typedef void (*NetHandleTimerCb)(int periodMs, void* arg);

static const int TCP_CONNECTION_CLOSE_BY_COMMAND = 1;
static const int TCP_CONNECTION_CLOSE_BY_EVENT = 2;

// What a server tells its owner, all on the loop thread. A null entry is
// not called (a server without a read callback must not be read: the first
// bytes are fatal).
struct NHServerCallbacks {
    NetHandleOpenCb open;
    NetHandleCloseCb close;
    NetHandleReadCb read;
    // Told what a written chain or broadcast gave a connection. Owners
    // that keep figures count them with NHServer_CountWrites instead: this
    // runs once per subscriber and chunk. It must not close a connection
    // other than the one it is told of, nor run commands.
    NetHandleWriteCb write;
    // Runs right after every timer callback, with its period and argument.
    NetHandleTimerCb tick;
};

// Start-up results of NHServer_Run.
static const int NHSERVER_OK = 0;
static const int NHSERVER_ERR_BASE = 1;
static const int NHSERVER_ERR_ADDRESS = 2;
static const int NHSERVER_ERR_BIND = 3;

// The listener mode the system uses: a TCP listener on ip:port.
static const int NHSERVER_MODE_LISTEN = 1;

// A server with the callbacks (copied; null: none), an empty command queue,
// connection table and publisher table; installs the library's log callback.
// maxConnections caps the accepted and outgoing connections open at once (0:
// no cap): a connection accepted past the cap is closed at once, so idle
// peers cannot take the process's descriptors, with one warning a second at
// most.
NHServer* NHServer_Create(const NHServerCallbacks* callbacks, int maxConnections = 0);
// Frees a server whose loop has returned (or never ran): queued commands,
// connections left, publishers and the timer.
void NHServer_Free(NHServer* server);

// The periodic timer, before the run: 0, or -1 when the period is below 1 ms.
int NHServer_SetTimer(NHServer* server, NetHandleTimerCb cb, int periodMs, void* arg);

// Runs the loop on the calling thread until NHServer_Destroy breaks it.
// 0 after a normal end; 1 no event base; 2 ip is not a dotted IPv4 address;
// 3 the address cannot be bound. Port 0 binds a free port (NHServer_ListenPort).
int NHServer_Run(NHServer* server, const char* ip, int port, int mode);
// After a run that returned 3: the errno of the failed bind or listen (0
// otherwise). Read on the thread that ran it.
int NHServer_ListenError(const NHServer* server);

// Breaks the server's loop (any thread; also before the loop has started,
// which then returns at once). Frees nothing.
void NHServer_Destroy(NHServer* server);

// The port the listener is bound to, or 0 while it is not listening.
int NHServer_ListenPort(NHServer* server);

// Posters. The caller keeps its bytes and chains; the command holds copies
// of any length.
void NHServer_PostClose(NHServer* server, uint64_t channelID);
// Closes the connection once everything queued for it before this command
// has reached the peer (a source table, a last reply). From the command on,
// whatever the peer sends is discarded; when the output has drained the
// write side is shut down, and the close (reason 1) follows the peer's end.
// A peer that neither reads nor ends for 30 seconds, or whose connection
// fails, is closed by the event (reason 2).
void NHServer_PostCloseAfterFlush(NHServer* server, uint64_t channelID);
void NHServer_PostSend(NHServer* server, uint64_t channelID, const void* bytes, size_t length);
void NHServer_PostSendChain(NHServer* server, uint64_t channelID, const CommonDataChain* chain);
void NHServer_PostAddPublisher(NHServer* server, uint64_t channelID);
void NHServer_PostRemovePublisher(NHServer* server, uint64_t channelID);
void NHServer_PostSubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);
void NHServer_PostUnsubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);
// Writes the bytes to every subscriber of the publisher, in list order; a
// subscriber over the unsent limit gets a posted close, the others still
// receive them.
void NHServer_PostBroadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length);
// Shuts the socket down in both directions; the close follows from its event.
void NHServer_PostShutdown(NHServer* server, uint64_t channelID);
// Runs fn(arg) on the loop thread, in order with the other commands: work
// that must touch the loop's connections (an outgoing connect) started from
// another thread. A call still queued when the server is freed is dropped
// unrun; the caller's arg is then not released.
typedef void (*NHServerCallFn)(void* arg);
void NHServer_PostCall(NHServer* server, NHServerCallFn fn, void* arg);

// The broadcast of the loop's own reads (a base's chunk). On the loop
// thread, outside a drain, the pieces one read hands the read callback are
// gathered and, once the read is done, written to every subscriber at once
// as one piece: one system call per subscriber, no event, no wake-up, and a
// copy only for a subscriber whose kernel does not take it all. Pieces that
// come straight from the read's input are written from there; other bytes
// are copied at the call. Before the
// first piece of a read every command queued so far runs, so a subscription
// or a re-binding posted before takes effect before the chunk, exactly as if
// the broadcast had been queued behind it; commands posted during the read
// run after it. Anywhere else (another thread, or inside a command) this is
// NHServer_PostBroadcast. No lock of a registry may be held: the commands
// take them. A broadcast started while one is being written (by a write
// callback) is posted too.
void NHServer_Broadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length);

// Whether the channel is a publisher now (commands still queued not counted).
// Any thread.
bool NHServer_HasPublisher(NHServer* server, uint64_t channelID);
// The publisher table at once, without a command: for the loop thread, whose
// own commands would run only after the caller. 1 added (a publisher already
// keeps its subscribers) / subscribed (or already so); 0 no such publisher.
int NHServer_AddPublisher(NHServer* server, uint64_t channelID);
int NHServer_Subscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);

// Loop thread: stops and restarts reading a connection, so that a reader
// whose consumer falls behind leaves the bytes in the kernel (and the peer's
// sending blocks) instead of dropping them. A connection closed after a
// flush reads again (what comes is discarded). 0, or -1 for an unknown channel.
int NHServer_PauseRead(NHServer* server, uint64_t channelID);
int NHServer_ResumeRead(NHServer* server, uint64_t channelID);

// Loop thread (the open callback): counts every later write to the
// connection, sends and broadcasts, into traffic (retained until the
// connection is freed). 0, or -1 for an unknown channel.
int NHServer_CountWrites(NHServer* server, uint64_t channelID, ConnTraffic* traffic);

// Outgoing connections, made by the owner on the server's loop.
//
// The running loop's event base and its asynchronous resolver (libevent's
// evdns, set up from /etc/resolv.conf and /etc/hosts at the first call), so
// that an outgoing connection never blocks the loop on a name lookup. Loop
// thread only; nullptr while the loop does not run. Lookups still pending
// when the loop ends are dropped without their callbacks.
struct event_base* NHServer_EventBase(NHServer* server);
struct evdns_base* NHServer_DnsBase(NHServer* server);

// Told once when a connection leaves the server, however it is closed: after
// the close callback, or when the loop ends with the connection open. Its
// bufferevent is still valid during the call and is freed right after it.
typedef void (*TcpConnectionCloseHook)(uint64_t channelID, void* arg);

// Loop thread: a connected outgoing bufferevent (made on NHServer_EventBase)
// joins the server like an accepted connection: the next channelID, the open
// callback with kind 1, the server's commands and closes. The server owns
// the bufferevent from now on; its callbacks stay the caller's, who hands its
// reads to NHServer_ReadConnection. hook (may be null) is told of its end.
// Returns the channelID.
uint64_t NHServer_OpenOutgoing(NHServer* server, struct bufferevent* bev, const char* ip, int port,
                               TcpConnectionCloseHook hook, void* hookArg);
// Loop thread: hands what waits in the connection's input to the read
// callback, as for an accepted connection (pieces of at most 2048 bytes).
void NHServer_ReadConnection(NHServer* server, uint64_t channelID, struct bufferevent* bev);
// Loop thread: closes the connection now with the reason (close callback,
// then its hook). 1 closed, 0 no such connection.
int NHServer_CloseNow(NHServer* server, uint64_t channelID, int reason);
// Loop thread: shuts the socket down in both directions; the close follows
// from its event. Nothing for an unknown channel.
void NHServer_Shutdown(NHServer* server, uint64_t channelID);
