#include "net/NHServer.h"

#include "net/EventLoop.h"
#include "platform/Process.h"
#include "runtime/Log.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
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

// How long accepting pauses after an accept error (EMFILE and the like):
// long enough for connections to close and free descriptors, short enough
// that new clients barely notice.
const int ACCEPT_PAUSE_MS = 1000;

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

void ResumeAccept(evutil_socket_t, short, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (server->listener) {
        evconnlistener_enable(server->listener);
        Log_Info("%s:accepting again", "AcceptErrorCallback");
    }
}

// What is left when the loop has ended: the listener, the timer and the
// connections belong to the base and go with it.
void TearDown(NHServer* server, struct event_base* base)
{
    server->base.store(nullptr);
    if (server->listener) {
        evconnlistener_free(server->listener);
        server->listener = nullptr;
    }
    if (server->acceptResume) {
        event_free(server->acceptResume);
        server->acceptResume = nullptr;
    }
    if (server->timerEvent && event_initialized(server->timerEvent)) event_del(server->timerEvent);
    TcpConnectionTable* table = server->table;
    table->records.Clear([](TcpConnection* record) {
        // Whoever watches the connection (a relay) learns of its end here too.
        if (record->closeHook) record->closeHook(record->channelID, record->closeHookArg);
        if (record->bev) {
            bufferevent_clear_tag(record->bev);
            bufferevent_free(record->bev);
        }
        free(record);
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

const char* Flag(short events, short flag, const char* word) { return (events & flag) ? word : "-"; }

}  // namespace

NHServer* NHServer_Create()
{
    NHServer* server = new (std::nothrow) NHServer();
    if (!server) Log_Fatal("%s:malloc error", "NHServer_Create");
    event_set_log_callback(LibeventLogCb);
    server->queue = CommandQueue_Create();
    server->table = TcpConnection_CreateHashTable();
    server->publishers = PublisherTable_Create();
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

int NHServer_SetOpenCallback(NHServer* server, NetHandleOpenCb cb)
{
    server->openCb = cb;
    return 1;
}

int NHServer_SetCloseCallback(NHServer* server, NetHandleCloseCb cb)
{
    server->closeCb = cb;
    return 1;
}

int NHServer_SetReadCallback(NHServer* server, NetHandleReadCb cb)
{
    server->readCb = cb;
    return 1;
}

int NHServer_SetWriteCallback(NHServer* server, NetHandleWriteCb cb)
{
    server->writeCb = cb;
    return 1;
}

int NHServer_SetRelayConnectedCallback(NHServer* server, NetHandleRelayConnectedCb cb)
{
    server->relayConnectedCb = cb;
    return 1;
}

int NHServer_SetRelayVerifiedCallback(NHServer* server, NetHandleRelayVerifiedCb cb)
{
    server->relayVerifiedCb = cb;
    return 1;
}

int NHServer_SetRelayClosedCallback(NHServer* server, NetHandleRelayClosedCb cb)
{
    server->relayClosedCb = cb;
    return 1;
}

int NHServer_SetTickCallback(NHServer* server, NetHandleTimerCb cb)
{
    server->tickCb = cb;
    return 1;
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

int NHServer_Run(NHServer* server, const char* ip, int port, int mode)
{
    int result = LibeventServerLoop(server, ip, port, mode);
    Log_Info("%s:exit", "NHServer_Run");
    return result;
}

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

    if (mode == NHSERVER_MODE_LISTEN) {
        server->listener = evconnlistener_new_bind(
            base, AcceptCallback, server,
            LEV_OPT_CLOSE_ON_FREE | LEV_OPT_REUSEABLE | LEV_OPT_THREADSAFE | LEV_OPT_CLOSE_ON_EXEC, -1,
            reinterpret_cast<struct sockaddr*>(&address), sizeof(address));
        if (!server->listener) {
            Log_Error("NetHandle:new bind is error, code = %d", errno);
            EventLoop_FreeBase(base);
            return NHSERVER_ERR_BIND;
        }
        evconnlistener_set_error_cb(server->listener, AcceptErrorCallback);
        server->acceptResume = evtimer_new(base, ResumeAccept, server);
    }

    event_base_set_loop_hook(base, CommandQueue_LoopHook, server);
    // From here on posts wake this base; what was posted before is run by
    // the first drain of the dispatch.
    server->base.store(base);
    NHServer_StartTimer(server);

    if (!server->stopRequested.load()) EventLoop_Dispatch(base);

    Log_Info("%s:exit", "LibeventServerLoop");
    TearDown(server, base);
    return NHSERVER_OK;
}

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

void AcceptCallback(struct evconnlistener* listener, int fd, struct sockaddr*, int, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    struct event_base* base = evconnlistener_get_base(listener);
    struct bufferevent* bev = bufferevent_socket_new(base, fd, BEV_OPT_CLOSE_ON_FREE | BEV_OPT_THREADSAFE);
    if (!bev) {
        Log_Error("%s:bufferevent_socket_new fail", "AcceptCallback");
        evutil_closesocket(fd);
        return;
    }
    bufferevent_setcb(bev, ReadDataCallback, nullptr, EventCallback, server);
    bufferevent_enable(bev, EV_READ | EV_WRITE);

    struct sockaddr_storage peer;
    socklen_t length = sizeof(peer);
    memset(&peer, 0, sizeof(peer));
    char text[66] = {0};
    int port = 0;
    if (getpeername(fd, reinterpret_cast<struct sockaddr*>(&peer), &length) == 0) {
        if (peer.ss_family == AF_INET) {
            struct sockaddr_in* in4 = reinterpret_cast<struct sockaddr_in*>(&peer);
            inet_ntop(AF_INET, &in4->sin_addr, text, sizeof(text));
            port = ntohs(in4->sin_port);
        } else {
            struct sockaddr_in6* in6 = reinterpret_cast<struct sockaddr_in6*>(&peer);
            inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
            port = ntohs(in6->sin6_port);
        }
    }
    uint64_t channelID = TcpConnection_OpenEvent(server->table, server->openCb, 0, text, port, bev);
    bufferevent_set_tag(bev, channelID);
}

void ReadDataCallback(struct bufferevent* bev, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (!server) {
        Log_Info("%s: arg is null", "ReadDataCallback");
        return;
    }
    TcpConnection_ReadDataEvent(server->table, server->readCb, bufferevent_get_tag(bev), bev);
}

namespace {

// The last step of a close-after-flush: the output has reached the socket.
// Closing now while input waits unread would make the kernel reset the
// connection and drop what the peer has not read yet. So the write side is
// shut down (the peer reads everything, then the end) and the close follows
// the peer's own end, or the read time-out.
void FinishFlushedClose(NHServer* server, struct bufferevent* bev)
{
    uint64_t channelID = bufferevent_get_tag(bev);
    // The library stops reading at the peer's end: nothing can arrive after it.
    if (!(bufferevent_get_enabled(bev) & EV_READ)) {
        TcpConnnection_Close(server->table, server->closeCb, channelID, TCP_CONNECTION_CLOSE_BY_COMMAND);
        return;
    }
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd >= 0) shutdown(fd, SHUT_WR);
}

// Whatever the peer sends while its close is pending is not a request any more.
void DiscardInputCallback(struct bufferevent* bev, void*)
{
    struct evbuffer* input = bufferevent_get_input(bev);
    evbuffer_drain(input, evbuffer_get_length(input));
}

void FlushedEventCallback(struct bufferevent* bev, short events, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (!server) return;
    if (events & BEV_EVENT_EOF) {
        // The peer has ended its side; it may still be reading ours.
        if (evbuffer_get_length(bufferevent_get_output(bev)) > 0) return;
        TcpConnnection_Close(server->table, server->closeCb, bufferevent_get_tag(bev),
                             TCP_CONNECTION_CLOSE_BY_COMMAND);
        return;
    }
    EventCallback(bev, events, arg);
}

}  // namespace

void NHServer_CloseAfterFlush(NHServer* server, uint64_t channelID)
{
    TcpConnection* record = TcpConnection_Find(server->table, channelID);
    if (!record) return;
    struct bufferevent* bev = record->bev;
    if (!bev) {
        TcpConnnection_Close(server->table, server->closeCb, channelID, TCP_CONNECTION_CLOSE_BY_COMMAND);
        return;
    }
    // Freeing a bufferevent drops what its output still holds: wait for the
    // write callback at an empty output instead (low watermark 0).
    bufferevent_setwatermark(bev, EV_WRITE, 0, 0);
    bufferevent_setcb(bev, DiscardInputCallback, FlushedCloseCallback, FlushedEventCallback, server);
    struct timeval limit;
    limit.tv_sec = NHSERVER_FLUSH_TIMEOUT_S;
    limit.tv_usec = 0;
    bufferevent_set_timeouts(bev, &limit, &limit);
    DiscardInputCallback(bev, server);
    if (evbuffer_get_length(bufferevent_get_output(bev)) == 0) FinishFlushedClose(server, bev);
}

void FlushedCloseCallback(struct bufferevent* bev, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (!server || evbuffer_get_length(bufferevent_get_output(bev)) > 0) return;
    FinishFlushedClose(server, bev);
}

void EventCallback(struct bufferevent* bev, short events, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    uint64_t channelID = bufferevent_get_tag(bev);
    Log_Info("NT:EventCallback:channelID=%.0f, %s, %s, %s, %s, %s, %s", static_cast<double>(channelID),
             Flag(events, BEV_EVENT_READING, "read"), Flag(events, BEV_EVENT_WRITING, "write"),
             Flag(events, BEV_EVENT_EOF, "eof"), Flag(events, BEV_EVENT_ERROR, "error"),
             Flag(events, BEV_EVENT_TIMEOUT, "timeout"), Flag(events, BEV_EVENT_CONNECTED, "connected"));
    if (!server) return;
    TcpConnnection_Close(server->table, server->closeCb, channelID, TCP_CONNECTION_CLOSE_BY_EVENT);
}

void AcceptErrorCallback(struct evconnlistener* listener, void* arg)
{
    // Running out of descriptors (EMFILE, ENFILE) or buffers is passing:
    // leaving the loop would end the service for good. Pause accepting so the
    // still readable listener does not spin, and try again shortly.
    int error = EVUTIL_SOCKET_ERROR();
    NHServer* server = static_cast<NHServer*>(arg);
    Log_Error("%s:accept error %d (%s), accepting again in %d ms", "AcceptErrorCallback", error,
              evutil_socket_error_to_string(error), ACCEPT_PAUSE_MS);
    evconnlistener_disable(listener);
    if (server && server->acceptResume) {
        struct timeval pause;
        pause.tv_sec = ACCEPT_PAUSE_MS / 1000;
        pause.tv_usec = (ACCEPT_PAUSE_MS % 1000) * 1000;
        evtimer_add(server->acceptResume, &pause);
    }
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
