#include "caster/relay/RelayClient.h"

#include "caster/relay/RelayReply.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/dns.h>
#include <event2/event.h>
#include <event2/util.h>
#include <netinet/in.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// A name lookup in flight. The resolver may answer after the relay has ended
// (a time-out while it waits), so the lookup outlives its context: the end
// detaches it and cancels the request, and the resolver's callback frees it.
struct RelayLookup {
    RelayContext* context;  // null once the relay no longer waits for it
    struct evdns_getaddrinfo_request* request;
    bool inCall;     // evdns_getaddrinfo has not returned yet
    bool completed;  // it answered at once
    int result;
    struct evutil_addrinfo* addresses;
};

namespace {

int FieldLength(const char* field, size_t size) { return static_cast<int>(strnlen(field, size)); }

const char* Flag(short events, short flag, const char* word) { return (events & flag) ? word : "-"; }

// Frees the context and everything still attached to it after telling the
// caster: the one place a relay ends, reached exactly once per context.
void RelayFinish(RelayContext* context)
{
    if (RelayLookup* lookup = context->lookup) {
        context->lookup = nullptr;
        struct evdns_getaddrinfo_request* request = lookup->request;
        lookup->context = nullptr;
        if (request) evdns_getaddrinfo_cancel(request);  // its callback frees the lookup
    }
    if (context->timer) {
        event_free(context->timer);
        context->timer = nullptr;
    }
    if (context->bev) {
        bufferevent_setcb(context->bev, nullptr, nullptr, nullptr, nullptr);
        if (context->ownsBev) bufferevent_free(context->bev);
        context->bev = nullptr;
    }
    if (context->callbacks && context->callbacks->closed) {
        context->callbacks->closed(context);
    } else {
        Log_Info("%s:no relay closed callback, relay %s ends", "RelayClient", context->name);
    }
    RelayContext_Free(context);
}

// The close hook of a relay's connection: every close of the channel, by the
// relay client or by a command, ends the relay here, after the server's
// close callback has cleared the caster's records of the channel.
void RelayChannelClosed(uint64_t, void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    context->ownsBev = false;  // the connection table frees it
    RelayFinish(context);
}

// Ends the relay: through the server's close (reason 2) when the connection
// has a channel, directly when it never stood.
void RelayEnd(RelayContext* context)
{
    if (context->relayChannelID && !context->ownsBev &&
        NHServer_CloseNow(context->server, context->relayChannelID, TCP_CONNECTION_CLOSE_BY_EVENT)) {
        return;  // RelayChannelClosed has finished it
    }
    RelayFinish(context);
}

void RelayFailed(RelayContext* context, const char* detail)
{
    Log_Info("Relay connect failed , Third Mount:%s (%s:%d, %s)", context->mountName,
             context->request->upstreamHost, context->request->upstreamPort & 0xffff, detail);
    context->state = -1;
    RelayEnd(context);
}

void RelayTimeoutCallback(evutil_socket_t, short, void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    Log_Info("Relay connect timeout , Third Mount:%s", context->mountName);
    context->state = -1;
    RelayEnd(context);
}

void RelayResolved(RelayContext* context, int result, struct evutil_addrinfo* addresses)
{
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    bool found = false;
    for (struct evutil_addrinfo* ai = addresses; ai && !found; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(address)) {
            memcpy(&address, ai->ai_addr, sizeof(address));
            found = true;
        }
    }
    if (addresses) evutil_freeaddrinfo(addresses);
    if (result != 0 || !found) {
        RelayFailed(context, result != 0 ? evutil_gai_strerror(result) : "no IPv4 address");
        return;
    }
    address.sin_port = htons(static_cast<uint16_t>(context->request->upstreamPort & 0xffff));

    struct event_base* base = NHServer_EventBase(context->server);
    // Made, used and freed on the loop thread only: no lock of its own.
    struct bufferevent* bev = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
    if (!bev) {
        RelayFailed(context, "bufferevent_socket_new failed");
        return;
    }
    context->bev = bev;
    context->ownsBev = true;
    bufferevent_setcb(bev, RelayVerifyCallback, nullptr, RelayConnectCallback, context);
    // The library may report a result from inside the connect call; it is
    // handled once the call has returned and the context is complete.
    context->connecting = true;
    context->eventsWhileConnecting = 0;
    int started = bufferevent_socket_connect(bev, reinterpret_cast<struct sockaddr*>(&address), sizeof(address));
    context->connecting = false;
    if (started != 0) {
        RelayFailed(context, evutil_socket_error_to_string(EVUTIL_SOCKET_ERROR()));
        return;
    }
    bufferevent_enable(bev, EV_READ);
    if (context->eventsWhileConnecting) RelayConnectCallback(bev, context->eventsWhileConnecting, context);
}

void RelayLookupCallback(int result, struct evutil_addrinfo* addresses, void* arg)
{
    RelayLookup* lookup = static_cast<RelayLookup*>(arg);
    if (lookup->inCall) {
        lookup->completed = true;
        lookup->result = result;
        lookup->addresses = addresses;
        return;
    }
    RelayContext* context = lookup->context;
    delete lookup;
    if (!context) {
        if (addresses) evutil_freeaddrinfo(addresses);
        return;
    }
    context->lookup = nullptr;
    RelayResolved(context, result, addresses);
}

// Runs on the loop: the deadline, then the lookup, then the connect.
void RelayStart(void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    NHServer* server = context->server;
    struct event_base* base = NHServer_EventBase(server);
    struct evdns_base* dns = NHServer_DnsBase(server);
    if (!base || !dns) {
        RelayFailed(context, "no resolver");
        return;
    }
    struct timeval limit = context->readTimeout;
    if (limit.tv_sec <= 0 && limit.tv_usec <= 0) {
        limit.tv_sec = RELAY_READ_TIMEOUT_S;
        limit.tv_usec = 0;
    }
    context->timer = evtimer_new(base, RelayTimeoutCallback, context);
    if (!context->timer) {
        RelayFailed(context, "evtimer_new failed");
        return;
    }
    evtimer_add(context->timer, &limit);

    RelayLookup* lookup = new RelayLookup();
    lookup->context = context;
    lookup->inCall = true;
    struct evutil_addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    struct evdns_getaddrinfo_request* request =
        evdns_getaddrinfo(dns, context->request->upstreamHost, nullptr, &hints, RelayLookupCallback, lookup);
    lookup->inCall = false;
    if (lookup->completed) {  // an address, a hosts entry, or a failure at once
        int result = lookup->result;
        struct evutil_addrinfo* addresses = lookup->addresses;
        delete lookup;
        RelayResolved(context, result, addresses);
        return;
    }
    lookup->request = request;
    context->lookup = lookup;
}

void LogReplyLine(const RelayContext* context, const char* bytes, size_t length, const char* reason)
{
    char line[81];
    size_t n = 0;
    while (n < length && n < sizeof(line) - 1 && bytes[n] != '\r' && bytes[n] != '\n') {
        unsigned char c = static_cast<unsigned char>(bytes[n]);
        line[n] = isprint(c) ? static_cast<char>(c) : '?';
        ++n;
    }
    line[n] = '\0';
    Log_Info("%s:%s:%d/%s answered \"%s\" (%s)", "RelayVerifyCallback", context->request->upstreamHost,
             context->request->upstreamPort & 0xffff, context->request->upstreamMount, line, reason ? reason : "");
}

// Whether the relay still reads this connection after a callback it made:
// an end clears the connection's callbacks before it frees the context.
// The caller holds a reference to bev, so bev outlives such an end.
bool StillReading(struct bufferevent* bev, const RelayContext* context)
{
    bufferevent_data_cb read = nullptr;
    void* arg = nullptr;
    bufferevent_getcb(bev, &read, nullptr, nullptr, &arg);
    return read == RelayReadDataCallback && arg == context;
}

// Takes the empty line an "ICY 200 OK" may still have had off the head of
// the stream. False while the bytes cannot tell yet: a lone "\r" waits in
// the input for the byte after it.
bool TakeEmptyLine(RelayContext* context, struct evbuffer* input)
{
    char head[2];
    ev_ssize_t got = evbuffer_copyout(input, head, sizeof(head));
    int empty = RelayReply_EmptyLine(head, got > 0 ? static_cast<size_t>(got) : 0);
    if (empty < 0) return false;
    evbuffer_drain(input, static_cast<size_t>(empty));
    context->emptyLineOpen = false;
    return true;
}

// Leaves in the input only the chunk data it held, in order; the framing is
// dropped. Only the input's front is touched (its end belongs to the
// socket's reads): the data is moved out while the framing is drained, then
// put back in front. False once the stream is over (its last chunk, or
// framing that is not the chunked coding); what came after that is dropped.
bool TakeChunkFraming(RelayContext* context, struct evbuffer* input)
{
    struct evbuffer* data = evbuffer_new();
    if (!data) Log_Fatal("%s:evbuffer_new fail", "RelayReadDataCallback");
    bool open = true;
    while (open && evbuffer_get_length(input) > 0) {
        struct evbuffer_iovec extent;
        if (evbuffer_peek(input, -1, nullptr, &extent, 1) < 1) break;
        RelayChunkStep step =
            RelayChunkDecoder_Step(&context->chunks, static_cast<const char*>(extent.iov_base), extent.iov_len);
        if (step.kind == RELAY_CHUNK_DATA) {
            evbuffer_remove_buffer(input, data, step.length);
        } else if (step.kind == RELAY_CHUNK_FRAMING && step.length > 0) {
            evbuffer_drain(input, step.length);
        } else {
            Log_Info("%s:relay %s stream ends: %s", "RelayReadDataCallback", context->name,
                     step.kind == RELAY_CHUNK_END ? "last chunk" : "chunk framing malformed");
            evbuffer_drain(input, evbuffer_get_length(input));
            open = false;
        }
    }
    if (evbuffer_prepend_buffer(input, data) != 0) {
        Log_Error("%s:relay %s chunk data dropped", "RelayReadDataCallback", context->name);
        open = false;
    }
    evbuffer_free(data);
    return open;
}

}  // namespace

RelayRequest* RelayRequest_New() { return new RelayRequest(); }

int RelayRequest_FromMount(RelayRequest* request, const RelayMount* mount, RelayAccount* account)
{
    if (!request || !mount || !account) return 0;
    request->protocol = RELAY_PROTOCOL_NTRIP1;
    FixedText_Copy(request->upstreamHost, sizeof(request->upstreamHost), mount->host);
    request->upstreamPort = mount->port;
    FixedText_Copy(request->upstreamMount, sizeof(request->upstreamMount), mount->upstreamMount);
    FixedText_Copy(request->localMount, sizeof(request->localMount), mount->localName);
    FixedText_Copy(request->credentials, sizeof(request->credentials), account->credentials);
    FixedText_Copy(request->credentialsBase64, sizeof(request->credentialsBase64), account->credentialsBase64);
    request->account = account;
    return 1;
}

RelayContext* RelayContext_New() { return new RelayContext(); }

void RelayContext_Free(RelayContext* context)
{
    if (!context) return;
    free(context->firstMessage);
    delete context->request;
    delete context;
}

int RelayContext_Init(RelayContext* context, RelayRequest* request, NHServer* server, const char* mountName,
                      uint64_t roverChannelID, const char* accountText, const char* firstMessage)
{
    if (!context) return 0;
    context->request = request;
    context->server = server;
    FixedText_Copy(context->mountName, sizeof(context->mountName), mountName);
    context->roverChannelID = roverChannelID;
    free(context->firstMessage);
    context->firstMessage = nullptr;
    context->firstMessageLength = 0;
    if (roverChannelID != 0) {
        int32_t low = static_cast<int32_t>(static_cast<uint32_t>(roverChannelID & 0xffffffffu));
        snprintf(context->name, sizeof(context->name), "%s-%d", mountName ? mountName : "", low);
        FixedText_Copy(context->account, sizeof(context->account), accountText);
        if (firstMessage && *firstMessage) {
            // The sentence up to and including its first line feed, sized
            // from the text itself: only these bytes are ever sent.
            size_t length = strnlen(firstMessage, RELAY_FIRST_MESSAGE_MAX);
            const char* feed = static_cast<const char*>(memchr(firstMessage, '\n', length));
            if (feed) length = static_cast<size_t>(feed - firstMessage) + 1;
            context->firstMessage = static_cast<char*>(malloc(length + 1));
            if (!context->firstMessage) Log_Fatal("%s:malloc error", "RelayContext_Init");
            memcpy(context->firstMessage, firstMessage, length);
            context->firstMessage[length] = '\0';
            context->firstMessageLength = length;
        }
    } else {
        FixedText_Copy(context->name, sizeof(context->name), request ? request->localMount : mountName);
        FixedText_Copy(context->account, sizeof(context->account), RELAY_SYSTEM_ACCOUNT);
    }
    context->bev = nullptr;
    context->relayChannelID = 0;
    context->state = 0;
    context->timer = nullptr;
    context->readTimeout.tv_sec = RELAY_READ_TIMEOUT_S;
    context->readTimeout.tv_usec = 0;
    context->lookup = nullptr;
    context->ownsBev = false;
    context->connecting = false;
    context->eventsWhileConnecting = 0;
    context->emptyLineOpen = false;
    context->chunked = false;
    RelayChunkDecoder_Init(&context->chunks);
    return 1;
}

int Relay_Connect(RelayContext* context)
{
    if (!context) return 1;
    if (!context->server || !context->request) {
        Log_Info("%s:relay %s has no %s", "Relay_Connect", context->name, context->server ? "request" : "server");
        context->state = -1;
        if (context->server && context->callbacks && context->callbacks->closed) context->callbacks->closed(context);
        RelayContext_Free(context);
        return 1;
    }
    // Connections belong to the loop: the whole connect runs there.
    NHServer_PostCall(context->server, RelayStart, context);
    return 0;
}

int Relay_FormatRequest(const RelayRequest* request, char* out, size_t size)
{
    if (!request || !out || size == 0) return -1;
    const RelayRequest& r = *request;
    int written;
    if (r.protocol == RELAY_PROTOCOL_NTRIP2) {
        written = snprintf(out, size,
                           "GET %.*s HTTP/1.0\r\n"
                           "Host: %.*s\r\n"
                           "Ntrip-Version: Ntrip/2.0\r\n"
                           "User-Agent: NTRIP RTKLIB/%s\r\n"
                           "Referer: RELAY\r\n"
                           "Connection: close\r\n"
                           "Authorization: Basic %.*s\r\n\r\n",
                           FieldLength(r.upstreamMount, sizeof(r.upstreamMount)), r.upstreamMount,
                           FieldLength(r.upstreamHost, sizeof(r.upstreamHost)), r.upstreamHost,
                           RELAY_USER_AGENT_VERSION,
                           FieldLength(r.credentialsBase64, sizeof(r.credentialsBase64)), r.credentialsBase64);
    } else {
        written = snprintf(out, size,
                           "GET /%.*s HTTP/1.0\r\n"
                           "User-Agent: NTRIP RTKLIB/%s\r\n"
                           "Authorization: Basic %.*s\r\n\r\n",
                           FieldLength(r.upstreamMount, sizeof(r.upstreamMount)), r.upstreamMount,
                           RELAY_USER_AGENT_VERSION,
                           FieldLength(r.credentialsBase64, sizeof(r.credentialsBase64)), r.credentialsBase64);
    }
    if (written < 0 || static_cast<size_t>(written) >= size) return -1;
    return written;
}

int Relay_SendRequest(struct bufferevent* bev, const RelayRequest* request)
{
    char text[RELAY_REQUEST_MAX];
    int length = Relay_FormatRequest(request, text, sizeof(text));
    if (!bev || length < 0) return -1;
    return bufferevent_write(bev, text, static_cast<size_t>(length)) == 0 ? 0 : -1;
}

void RelayConnectCallback(struct bufferevent* bev, short events, void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    if (!context) {
        Log_Info("%s: arg is null", "RelayConnectCallback");
        return;
    }
    if (context->connecting) {
        context->eventsWhileConnecting |= events;
        return;
    }
    if (events & BEV_EVENT_CONNECTED) {
        NHServer* server = context->server;
        const RelayRequest* request = context->request;
        uint64_t channelID = NHServer_OpenOutgoing(server, bev, request->upstreamHost, request->upstreamPort & 0xffff,
                                                   RelayChannelClosed, context);
        context->relayChannelID = channelID;
        context->ownsBev = false;
        if (context->callbacks && context->callbacks->connected) context->callbacks->connected(channelID, context);
        if (Relay_SendRequest(bev, request) != 0) {
            Log_Error("%s:request to %s not sent", "RelayConnectCallback", request->upstreamHost);
            context->state = -1;
            RelayEnd(context);
        }
        return;
    }
    if (events & BEV_EVENT_EOF) {
        Log_Info("Relay connection closed before the reply , Third Mount:%s", context->mountName);
    } else if (events & BEV_EVENT_ERROR) {
        Log_Info("Relay connect failed , Third Mount:%s (%s:%d, %s)", context->mountName,
                 context->request->upstreamHost, context->request->upstreamPort & 0xffff,
                 evutil_socket_error_to_string(EVUTIL_SOCKET_ERROR()));
    } else if (events & BEV_EVENT_TIMEOUT) {
        Log_Info("Relay connect timeout , Third Mount:%s", context->mountName);
    }
    context->state = -1;
    RelayEnd(context);
}

void RelayVerifyCallback(struct bufferevent* bev, void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    if (!context) {
        bufferevent_set_timeouts(bev, nullptr, nullptr);
        Log_Info("%s: arg is null", "RelayVerifyCallback");
        return;
    }
    struct evbuffer* input = bufferevent_get_input(bev);
    size_t waiting = evbuffer_get_length(input);
    if (waiting == 0) return;
    char head[RELAY_REPLY_MAX];
    ev_ssize_t got = evbuffer_copyout(input, head, waiting < sizeof(head) ? waiting : sizeof(head));
    if (got <= 0) return;
    RelayReply reply = RelayReply_Read(head, static_cast<size_t>(got));
    if (reply.verdict == RELAY_REPLY_INCOMPLETE) return;  // the rest comes within the deadline

    // Answered: the deadline is over.
    if (context->timer) {
        event_free(context->timer);
        context->timer = nullptr;
    }

    if (reply.verdict == RELAY_REPLY_ACCEPTED) {
        Log_Debug("%s:relay %s accepted by %s:%d/%s (%s%s)", "RelayVerifyCallback", context->name,
                  context->request->upstreamHost, context->request->upstreamPort & 0xffff,
                  context->request->upstreamMount, reply.http ? "NTRIP 2.0" : "NTRIP 1.0",
                  reply.chunked ? ", chunked" : "");
        evbuffer_drain(input, reply.length);
        context->emptyLineOpen = reply.emptyLineOpen;
        context->chunked = reply.chunked;
        RelayChunkDecoder_Init(&context->chunks);
        if (context->firstMessageLength > 0) bufferevent_write(bev, context->firstMessage, context->firstMessageLength);
        context->state = 1;
        bufferevent_setcb(bev, RelayReadDataCallback, nullptr, RelayEventCallback, context);
        // Held across the callback, which may end the relay and free the connection.
        bufferevent_incref(bev);
        if (context->callbacks && context->callbacks->verified) context->callbacks->verified(context);
        // What came behind the reply is the stream's start: it takes the
        // stream's road now that the relay base is online.
        if (StillReading(bev, context) && evbuffer_get_length(input) > 0) RelayReadDataCallback(bev, context);
        bufferevent_decref(bev);
        return;
    }

    Log_Info("Ntrip verify failed");
    LogReplyLine(context, head, static_cast<size_t>(got), reply.reason);
    context->state = -2;
    if (context->roverChannelID) NHServer_Shutdown(context->server, context->roverChannelID);
    RelayEnd(context);
}

void RelayReadDataCallback(struct bufferevent* bev, void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    if (!context) {
        Log_Info("%s: arg is null", "RelayReadDataCallback");
        return;
    }
    struct evbuffer* input = bufferevent_get_input(bev);
    if (context->emptyLineOpen && !TakeEmptyLine(context, input)) return;
    // The framing is taken off before the read path sees the input, never
    // while it hands the input out.
    bool over = context->chunked && !TakeChunkFraming(context, input);
    if (evbuffer_get_length(input) > 0) {
        // Held: a command run inside the read may close the relay.
        bufferevent_incref(bev);
        NHServer_ReadConnection(context->server, context->relayChannelID, bev);
        bool reading = StillReading(bev, context);
        bufferevent_decref(bev);
        if (!reading) return;
    }
    if (over) RelayEnd(context);
}

void RelayEventCallback(struct bufferevent*, short events, void* arg)
{
    RelayContext* context = static_cast<RelayContext*>(arg);
    if (!context) {
        Log_Info("%s: arg is null", "RelayEventCallback");
        return;
    }
    Log_Info("NT:EventCallback:channelID=%.0f, %s, %s, %s, %s, %s, %s", static_cast<double>(context->relayChannelID),
             Flag(events, BEV_EVENT_READING, "read"), Flag(events, BEV_EVENT_WRITING, "write"),
             Flag(events, BEV_EVENT_EOF, "eof"), Flag(events, BEV_EVENT_ERROR, "error"),
             Flag(events, BEV_EVENT_TIMEOUT, "timeout"), Flag(events, BEV_EVENT_CONNECTED, "connected"));
    RelayEnd(context);
}
