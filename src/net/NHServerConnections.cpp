// The listener of a server, the callbacks of its connections, the close that
// waits until a connection's output has reached the peer, and the calls with
// which the owner brings in and drives its outgoing connections.
#include "net/NHServerInternal.h"

#include "net/EventLoop.h"
#include "platform/SteadyClock.h"
#include "runtime/Log.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/listener.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// How long a close-after-flush waits for the peer to take more bytes.
const int NHSERVER_FLUSH_TIMEOUT_S = 30;
// The shortest time between two lines about connections refused at the cap.
const int NHSERVER_REFUSAL_LOG_MS = 1000;
// How long accepting pauses after an accept error (EMFILE and the like):
// long enough for connections to close and free descriptors, short enough
// that new clients barely notice.
const int ACCEPT_PAUSE_MS = 1000;

void ReadDataCallback(struct bufferevent* bev, void* server);
void EventCallback(struct bufferevent* bev, short events, void* server);
void FlushedCloseCallback(struct bufferevent* bev, void* server);

const char* Flag(short events, short flag, const char* word) { return (events & flag) ? word : "-"; }

// The peer of an accepted socket as text and port; "" and 0 when unknown.
void PeerText(int fd, char* text, size_t size, int* port)
{
    struct sockaddr_storage peer;
    socklen_t length = sizeof(peer);
    memset(&peer, 0, sizeof(peer));
    *port = 0;
    if (getpeername(fd, reinterpret_cast<struct sockaddr*>(&peer), &length) != 0) return;
    if (peer.ss_family == AF_INET) {
        struct sockaddr_in* in4 = reinterpret_cast<struct sockaddr_in*>(&peer);
        inet_ntop(AF_INET, &in4->sin_addr, text, static_cast<socklen_t>(size));
        *port = ntohs(in4->sin_port);
    } else {
        struct sockaddr_in6* in6 = reinterpret_cast<struct sockaddr_in6*>(&peer);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, static_cast<socklen_t>(size));
        *port = ntohs(in6->sin6_port);
    }
}

// A server at its connection cap closes a new connection at once. One line
// a second at most says so, with how many were closed since the last one.
bool RefusedAtCap(NHServer* server, int fd)
{
    if (server->maxConnections <= 0 || TcpConnection_Count(server->table) < uint32_t(server->maxConnections)) {
        return false;
    }
    ++server->refusedSinceLog;
    int64_t now = Platform_SteadyNowMs();
    if (server->refusalLogMs == 0 || now - server->refusalLogMs >= NHSERVER_REFUSAL_LOG_MS) {
        char text[66] = {0};
        int port = 0;
        PeerText(fd, text, sizeof(text), &port);
        Log_Warn("%s:%d connections open, the cap; %s:%d closed at accept (%u closed so since the last line)",
                 "AcceptCallback", server->maxConnections, text, port, server->refusedSinceLog);
        server->refusalLogMs = now;
        server->refusedSinceLog = 0;
    }
    evutil_closesocket(fd);
    return true;
}

// Gives the accepted socket a buffered connection and a channelID.
void AcceptCallback(struct evconnlistener* listener, int fd, struct sockaddr*, int, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (RefusedAtCap(server, fd)) return;
    struct event_base* base = evconnlistener_get_base(listener);
    // Only the loop thread ever touches a connection (other threads post),
    // so it needs no lock of its own.
    struct bufferevent* bev = bufferevent_socket_new(base, fd, BEV_OPT_CLOSE_ON_FREE);
    if (!bev) {
        Log_Error("%s:bufferevent_socket_new fail", "AcceptCallback");
        evutil_closesocket(fd);
        return;
    }
    char text[66] = {0};
    int port = 0;
    PeerText(fd, text, sizeof(text), &port);
    uint64_t channelID = TcpConnection_OpenEvent(server->table, server->openCb, 0, text, port, bev);
    // The callbacks get the record itself: no look-up of the channel on a read.
    TcpConnection* record = TcpConnection_Find(server->table, channelID);
    bufferevent_setcb(bev, ReadDataCallback, nullptr, EventCallback, record);
    bufferevent_enable(bev, EV_READ | EV_WRITE);
}

// The server of a connection the loop's callbacks were given.
NHServer* ServerOf(TcpConnection* record) { return record && record->table ? record->table->server : nullptr; }

void ReadDataCallback(struct bufferevent* bev, void* arg)
{
    TcpConnection* record = static_cast<TcpConnection*>(arg);
    NHServer* server = ServerOf(record);
    if (!server) {
        Log_Info("%s: arg is null", "ReadDataCallback");
        return;
    }
    TcpConnection_ReadDataEvent(server->table, server->readCb, record->channelID, bev, NHServer_ReadRegion, server);
    // Sends what the read gathered for a publisher's subscribers.
    NHServer_FlushBroadcast(server);
}

// The last step of a close-after-flush: the output has reached the socket.
// Closing now while input waits unread would make the kernel reset the
// connection and drop what the peer has not read yet. So the write side is
// shut down (the peer reads everything, then the end) and the close follows
// the peer's own end, or the read time-out.
void FinishFlushedClose(NHServer* server, uint64_t channelID, struct bufferevent* bev)
{
    // The library stops reading at the peer's end: nothing can arrive after it.
    if (!(bufferevent_get_enabled(bev) & EV_READ)) {
        TcpConnnection_Close(server->table, server->closeCb, channelID, TCP_CONNECTION_CLOSE_BY_COMMAND);
        return;
    }
    evutil_socket_t fd = bufferevent_getfd(bev);
    if (fd >= 0) shutdown(fd, SHUT_WR);
}

// Whatever the peer sends while its close is pending is not a request any
// more. Never while the connection is being read: the read's pieces point
// into the input, and the read drains it when it returns.
void DiscardInputCallback(struct bufferevent* bev, void* arg)
{
    TcpConnection* record = static_cast<TcpConnection*>(arg);
    if (record && record->reading) return;
    struct evbuffer* input = bufferevent_get_input(bev);
    evbuffer_drain(input, evbuffer_get_length(input));
}

void FlushedEventCallback(struct bufferevent* bev, short events, void* arg)
{
    TcpConnection* record = static_cast<TcpConnection*>(arg);
    NHServer* server = ServerOf(record);
    if (!server) return;
    if (events & BEV_EVENT_EOF) {
        // The peer has ended its side; it may still be reading ours.
        if (evbuffer_get_length(bufferevent_get_output(bev)) > 0) return;
        TcpConnnection_Close(server->table, server->closeCb, record->channelID, TCP_CONNECTION_CLOSE_BY_COMMAND);
        return;
    }
    EventCallback(bev, events, arg);
}

void FlushedCloseCallback(struct bufferevent* bev, void* arg)
{
    TcpConnection* record = static_cast<TcpConnection*>(arg);
    NHServer* server = ServerOf(record);
    if (!server || evbuffer_get_length(bufferevent_get_output(bev)) > 0) return;
    FinishFlushedClose(server, record->channelID, bev);
}

void EventCallback(struct bufferevent*, short events, void* arg)
{
    TcpConnection* record = static_cast<TcpConnection*>(arg);
    NHServer* server = ServerOf(record);
    uint64_t channelID = record ? record->channelID : 0;
    Log_Info("NT:EventCallback:channelID=%.0f, %s, %s, %s, %s, %s, %s", static_cast<double>(channelID),
             Flag(events, BEV_EVENT_READING, "read"), Flag(events, BEV_EVENT_WRITING, "write"),
             Flag(events, BEV_EVENT_EOF, "eof"), Flag(events, BEV_EVENT_ERROR, "error"),
             Flag(events, BEV_EVENT_TIMEOUT, "timeout"), Flag(events, BEV_EVENT_CONNECTED, "connected"));
    if (!server) return;
    TcpConnnection_Close(server->table, server->closeCb, channelID, TCP_CONNECTION_CLOSE_BY_EVENT);
}


void ResumeAccept(evutil_socket_t, short, void* arg)
{
    NHServer* server = static_cast<NHServer*>(arg);
    if (server->listener) {
        evconnlistener_enable(server->listener);
        Log_Info("%s:accepting again", "AcceptErrorCallback");
    }
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

}  // namespace

bool NHServer_Listen(NHServer* server, struct event_base* base, const struct sockaddr_in* address)
{
    // The library's default backlog (128) overflows when thousands of rovers
    // come back at once (after a restart): each dropped connect then waits
    // for the client's SYN retry, a second and then ever longer, while the
    // loop idles. The kernel caps the backlog at its own limit.
    server->listener = evconnlistener_new_bind(
        base, AcceptCallback, server,
        LEV_OPT_CLOSE_ON_FREE | LEV_OPT_REUSEABLE | LEV_OPT_THREADSAFE | LEV_OPT_CLOSE_ON_EXEC, SOMAXCONN,
        reinterpret_cast<const struct sockaddr*>(address), sizeof(*address));
    if (!server->listener) return false;
    evconnlistener_set_error_cb(server->listener, AcceptErrorCallback);
    server->acceptResume = evtimer_new(base, ResumeAccept, server);
    return true;
}

void NHServer_CloseListener(NHServer* server)
{
    if (server->listener) {
        evconnlistener_free(server->listener);
        server->listener = nullptr;
    }
    if (server->acceptResume) {
        event_free(server->acceptResume);
        server->acceptResume = nullptr;
    }
}

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
    bufferevent_setcb(bev, DiscardInputCallback, FlushedCloseCallback, FlushedEventCallback, record);
    // A paused reader would never see the peer's end the close waits for.
    TcpConnection_ResumeRead(server->table, channelID);
    struct timeval limit;
    limit.tv_sec = NHSERVER_FLUSH_TIMEOUT_S;
    limit.tv_usec = 0;
    bufferevent_set_timeouts(bev, &limit, &limit);
    // Run from inside a read of this connection (a broadcast drains the
    // commands), the read itself discards the input at its end.
    record->discarding = true;
    DiscardInputCallback(bev, record);
    if (evbuffer_get_length(bufferevent_get_output(bev)) == 0) FinishFlushedClose(server, channelID, bev);
}

uint64_t NHServer_OpenOutgoing(NHServer* server, struct bufferevent* bev, const char* ip, int port,
                               TcpConnectionCloseHook hook, void* hookArg)
{
    uint64_t channelID = TcpConnection_OpenEvent(server->table, server->openCb, 1, ip, port, bev);
    if (hook) TcpConnection_SetCloseHook(server->table, channelID, hook, hookArg);
    return channelID;
}

void NHServer_ReadConnection(NHServer* server, uint64_t channelID, struct bufferevent* bev)
{
    TcpConnection_ReadDataEvent(server->table, server->readCb, channelID, bev, NHServer_ReadRegion, server);
}

int NHServer_CloseNow(NHServer* server, uint64_t channelID, int reason)
{
    if (!TcpConnection_Find(server->table, channelID)) return 0;
    TcpConnnection_Close(server->table, server->closeCb, channelID, reason);
    return 1;
}

void NHServer_Shutdown(NHServer* server, uint64_t channelID) { TcpConnection_Shutdown(server->table, channelID); }

int NHServer_PauseRead(NHServer* server, uint64_t channelID)
{
    return TcpConnection_PauseRead(server->table, channelID);
}

int NHServer_ResumeRead(NHServer* server, uint64_t channelID)
{
    return TcpConnection_ResumeRead(server->table, channelID);
}

int NHServer_CountWrites(NHServer* server, uint64_t channelID, ConnTraffic* traffic)
{
    return server ? TcpConnection_SetTraffic(server->table, channelID, traffic) : -1;
}
