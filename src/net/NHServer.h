// A TCP server over one libevent loop: it listens on one address, gives every
// connection a channelID, reads connections in chunks into the read callback,
// writes data chains with a limit on unsent bytes, closes connections with a
// reason and runs one periodic timer.
//
// Threads: NHServer_Create, the setters (before the run), NHServer_Destroy
// and the NHServer_Post* calls (NHServer_Commands.h) may run on any thread. Everything else (the
// callbacks, the connection table, the commands) runs on the loop thread,
// the thread that called NHServer_Run. The publisher table has its own lock
// (see PublisherTable.h), so a worker may also use it directly.
#pragma once

#include "net/NHServer_Commands.h"
#include "net/NHServer_Connections.h"
#include "net/NHServer_State.h"

struct event_base;
struct evconnlistener;
struct evdns_base;

// Start-up results of NHServer_Run / LibeventServerLoop.
static const int NHSERVER_OK = 0;
static const int NHSERVER_ERR_BASE = 1;
static const int NHSERVER_ERR_ADDRESS = 2;
static const int NHSERVER_ERR_BIND = 3;

// The listener mode the system uses: a TCP listener on ip:port.
static const int NHSERVER_MODE_LISTEN = 1;

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

// At most maxConnections accepted and outgoing connections at once (0, the
// default: no cap). A connection accepted past the cap is closed at once,
// so idle peers cannot take the process's descriptors; a warning says so,
// once per NHSERVER_REFUSAL_LOG_MS at most. Before the run; returns 1.
int NHServer_SetConnectionCap(NHServer* server, int maxConnections);

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

// The loop's asynchronous resolver (libevent's evdns, set up from
// /etc/resolv.conf and /etc/hosts at the first call), so that outgoing
// connections never block the loop on a name lookup. Loop thread only;
// nullptr while the loop does not run. Lookups still pending when the loop
// ends are dropped without their callbacks.
struct evdns_base* NHServer_DnsBase(NHServer* server);

// Loop callbacks of the listener and the timer (the connections' own are in
// NHServer_Connections.h).
void AcceptErrorCallback(struct evconnlistener* listener, void* server);
void TimerCallback(int fd, short events, void* server);
void LibeventLogCb(int severity, const char* message);
