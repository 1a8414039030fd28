#include "net/NHServerInternal.h"
#include "net/NHServerTesting.h"

#include "net/EventLoop.h"
#include "platform/Process.h"
#include "runtime/Log.h"

#include <arpa/inet.h>
#include <event2/bufferevent.h>
#include <event2/dns.h>
#include <event2/event.h>
#include <event2/listener.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// Once per process: a server holds thousands of connections, and a peer that
// resets its connection must give EPIPE on write, not end the process.
void PrepareProcessOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        signal(SIGPIPE, SIG_IGN);
        long limit = Platform_RaiseOpenFileLimit();
        Log_Info("%s:open files limit = %ld", "NHServer_Run", limit);
    });
}

// What is left when the loop has ended: the listener, the timer and the
// connections belong to the base and go with it.
void TearDown(NHServer* server, struct event_base* base)
{
    server->base.store(nullptr);
    server->loopThread.store(std::thread::id());
    NHServer_CloseListener(server);
    if (server->timerEvent && event_initialized(server->timerEvent)) event_del(server->timerEvent);
    TcpConnectionTable* table = server->table;
    table->records.Clear([](TcpConnection* record) {
        // Whoever watches the connection (a relay) learns of its end here too.
        if (record->closeHook) record->closeHook(record->channelID, record->closeHookArg);
        TcpConnection_Free(record);
    });
    if (server->dnsBase) {
        // A cancelled lookup answers its owner one iteration later; give it
        // that iteration so the owner can free what it keeps for it.
        event_base_loop(base, EVLOOP_NONBLOCK);
        evdns_base_free(server->dnsBase, 0);
        server->dnsBase = nullptr;
    }
    EventLoop_FreeBase(base);
}

void TimerCallback(int, short, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (server->timerCb) {
        server->timerCb(server->timerPeriodMs, server->timerArg);
    } else {
        Log_Info("NHServer:timeout callback is null");
    }
    if (server->tickCb) server->tickCb(server->timerPeriodMs, server->timerArg);
}

// Adds the timer to the running base: 0, or -1 without a timer.
int NHServer_StartTimer(NHServer* server)
{
    struct event_base* base = server->base.load();
    if (server->timerPeriodMs < 1 || !server->timerEvent || !base) return -1;
    event_assign(server->timerEvent, base, -1, EV_PERSIST, TimerCallback, server);
    struct timeval period;
    period.tv_sec = server->timerPeriodMs / 1000;
    period.tv_usec = (server->timerPeriodMs % 1000) * 1000;
    event_add(server->timerEvent, &period);
    return 0;
}

// The whole run of NHServer_Run on the calling thread.
int LibeventServerLoop(NHServer* server, const char* ip, int port, int mode)
{
    PrepareProcessOnce();

    struct event_base* base = EventLoop_NewBase();
    if (!base) {
        Log_Error("NetHandle:LibeventServerLoop:event_base_new fail");
        return NHSERVER_ERR_BASE;
    }

    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (!ip || inet_pton(AF_INET, ip, &address.sin_addr) != 1) {
        Log_Error("NetHandle:LibeventServerLoop:inet_addr fail");
        EventLoop_FreeBase(base);
        return NHSERVER_ERR_ADDRESS;
    }
    if (address.sin_addr.s_addr == htonl(INADDR_ANY)) {
        Log_Info("%s:ip = 0.0.0.0, port = %d", "LibeventServerLoop", port);
    } else if (address.sin_addr.s_addr == htonl(INADDR_LOOPBACK)) {
        Log_Info("%s:ip = 127.0.0.1, port = %d", "LibeventServerLoop", port);
    }

    server->listenError = 0;
    if (mode == NHSERVER_MODE_LISTEN) {
        if (!NHServer_Listen(server, base, &address)) {
            server->listenError = errno;
            Log_Error("NetHandle:new bind is error, code = %d", server->listenError);
            EventLoop_FreeBase(base);
            return NHSERVER_ERR_BIND;
        }
    }

    event_base_set_loop_hook(base, CommandQueue_LoopHook, server);
    server->loopThread.store(std::this_thread::get_id());
    // From here on posts wake this base; what was posted before is run by
    // the first drain of the dispatch.
    server->base.store(base);
    NHServer_StartTimer(server);

    if (!server->stopRequested.load()) EventLoop_Dispatch(base);

    Log_Info("%s:exit", "LibeventServerLoop");
    TearDown(server, base);
    return NHSERVER_OK;
}

}  // namespace

NHServer* NHServer_Create(const NHServerCallbacks* callbacks, int maxConnections)
{
    NHServer* server = new (std::nothrow) NHServer();
    if (!server) Log_Fatal("%s:malloc error", "NHServer_Create");
    event_set_log_callback(LibeventLogCb);
    if (callbacks) {
        server->openCb = callbacks->open;
        server->closeCb = callbacks->close;
        server->readCb = callbacks->read;
        server->writeCb = callbacks->write;
        server->tickCb = callbacks->tick;
    }
    server->maxConnections = maxConnections > 0 ? maxConnections : 0;
    server->queue = CommandQueue_Create();
    server->table = TcpConnection_CreateHashTable();
    server->table->server = server;
    server->publishers = PublisherTable_Create();
    server->publishers->connections = server->table;
    return server;
}

void NHServer_Free(NHServer* server)
{
    if (!server) return;
    CommandQueue_Free(server->queue);
    TcpConnection_FreeHashTable(server->table);
    PublisherTable_Free(server->publishers);
    free(server->timerEvent);
    delete server;
}

int NHServer_SetTimer(NHServer* server, NetHandleTimerCb cb, int periodMs, void* arg)
{
    if (periodMs < 1) return -1;
    if (!server->timerEvent) {
        server->timerEvent = static_cast<struct event*>(calloc(1, event_get_struct_event_size()));
        if (!server->timerEvent) Log_Fatal("%s:malloc error", "NHServer_SetTimer");
    }
    server->timerCb = cb;
    server->timerPeriodMs = periodMs;
    server->timerArg = arg;
    return 0;
}

int NHServer_Run(NHServer* server, const char* ip, int port, int mode)
{
    int result = LibeventServerLoop(server, ip, port, mode);
    Log_Info("%s:exit", "NHServer_Run");
    return result;
}

int NHServer_ListenError(const NHServer* server) { return server->listenError; }

void NHServer_Destroy(NHServer* server)
{
    if (!server) return;
    server->stopRequested.store(true);
    struct event_base* base = server->base.load();
    if (base) EventLoop_Break(base);
    Log_Info("%s: be called", "NHServer_Destroy");
}

int NHServer_ListenPort(NHServer* server)
{
    if (!server || !server->base.load()) return 0;
    struct evconnlistener* listener = server->listener;
    if (!listener) return 0;
    struct sockaddr_in bound;
    socklen_t length = sizeof(bound);
    if (getsockname(evconnlistener_get_fd(listener), reinterpret_cast<struct sockaddr*>(&bound), &length) != 0) {
        return 0;
    }
    return ntohs(bound.sin_port);
}

struct event_base* NHServer_EventBase(NHServer* server) { return server ? server->base.load() : nullptr; }

struct evdns_base* NHServer_DnsBase(NHServer* server)
{
    if (!server) return nullptr;
    struct event_base* base = server->base.load();
    if (!base) return nullptr;
    if (!server->dnsBase) {
        // Inactive lookups keep no event of their own pending on the base.
        server->dnsBase =
            evdns_base_new(base, EVDNS_BASE_INITIALIZE_NAMESERVERS | EVDNS_BASE_DISABLE_WHEN_INACTIVE);
        if (!server->dnsBase) Log_Error("%s:evdns_base_new fail", "NHServer_DnsBase");
    }
    return server->dnsBase;
}

void LibeventLogCb(int severity, const char* message)
{
    switch (severity) {
    case EVENT_LOG_DEBUG: Log_Debug("Libevent:%s", message); break;
    case EVENT_LOG_MSG: Log_Info("Libevent:%s", message); break;
    case EVENT_LOG_WARN: Log_Warn("Libevent:%s", message); break;
    case EVENT_LOG_ERR: Log_Error("Libevent:%s", message); break;
    default: Log_Error("LibeventLogCb:severity is unknown");
    }
}
