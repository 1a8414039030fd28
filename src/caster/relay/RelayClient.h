// The relay client: the outgoing NTRIP connection that brings a relay
// mount's stream from another caster.
//
// A starter fills a RelayRequest and a RelayContext and hands both to
// Relay_Connect, which owns them from then on. The connection is made on the
// caster server's loop (whatever thread calls Relay_Connect): the host name
// is looked up with the loop's asynchronous resolver, the TCP connection once
// up is registered in the server's connection table with the next channelID
// (kind 1, the server's open callback), the request is sent, and the reply
// read whole (RelayReply.h). From the accepted reply on, the upstream's
// bytes reach the server's read callback under the relay channel like a
// base's bytes: first what came after the reply in the same read, once the
// verified callback has run, then every later read. A chunked stream
// reaches it as its chunk data alone (RelayChunkDecoder.h); its last chunk,
// or framing that is not chunked, ends the relay.
//
// The starter's callbacks (context->callbacks) are called on the loop thread:
//   connected (relay channelID, context)  once the TCP connection stands;
//   verified (context)                   once the upstream has accepted;
//   closed (context)                     exactly once per context, at its end,
//                                        whatever ended it; the context and its
//                                        request are freed right after it returns.
// Every end of a connection that has a channel goes through the server's
// close callback first (reason 2 when the relay client ends it, 1 when a
// command such as NHServer_PostClose does), then the closed callback. A
// connection that never stood (no such host, refused, unreachable) has no
// channel: only the closed callback runs. context->state then tells how it
// ended: 1 verified, -1 no connection / no reply in time / connection lost
// before the reply, -2 refused by the upstream.
//
// One time-out, context->readTimeout (30 s), bounds everything before the
// upstream's reply: the lookup, the connect and the wait for the whole
// answer, however it is cut.
#pragma once

#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayChunkDecoder.h"

#include <sys/time.h>

#include <cstddef>
#include <cstdint>

struct NHServer;
struct bufferevent;
struct event;
struct RelayLookup;

enum {
    RELAY_PROTOCOL_NTRIP1 = 1,
    RELAY_PROTOCOL_NTRIP2 = 2,  // any other value sends the NTRIP 1.0 request
    RELAY_HOST_SIZE = 128,
    RELAY_TEXT_SIZE = 127,
    RELAY_CONTEXT_NAME_SIZE = 127,
    RELAY_CONTEXT_MOUNT_SIZE = 128,
    RELAY_ACCOUNT_TEXT_SIZE = 64,
    RELAY_READ_TIMEOUT_S = 30,
    // The first message is a GGA sentence; more than this is never sent.
    RELAY_FIRST_MESSAGE_MAX = 4096,
    // The longest request Relay_FormatRequest can build from the fields above.
    RELAY_REQUEST_MAX = 1024,
};

#define RELAY_USER_AGENT_VERSION "2.4.3"
#define RELAY_SYSTEM_ACCOUNT "SYSTEM"

// What a relay tells its starter (see above).
struct RelayClientCallbacks {
    void (*connected)(uint64_t relayChannelID, void* relayContext);
    void (*verified)(void* relayContext);
    void (*closed)(void* relayContext);
};

// What one relay needs to know, filled by the starter.
struct RelayRequest {
    int32_t protocol;  // RELAY_PROTOCOL_NTRIP2, or NTRIP 1.0
    char upstreamHost[RELAY_HOST_SIZE];
    int32_t upstreamPort;  // its low 16 bits are used
    char upstreamMount[RELAY_TEXT_SIZE];
    char localMount[RELAY_TEXT_SIZE];
    char credentials[RELAY_CREDENTIALS_SIZE];  // "user:password", for the log
    char credentialsBase64[RELAY_CREDENTIALS_BASE64_SIZE];
    // The pool's account this relay uses; the closed callback gives it back
    // (RelayAccountList::ReleaseAccount). Not owned.
    RelayAccount* account;
};

// The state of one relay connection.
struct RelayContext {
    // For a rover relay "%s-%d" (local mount, low 32 bits of the rover's
    // channelID as a signed number), for a system relay the local mount: it
    // names the relay base, and a rover relay's rover.
    char name[RELAY_CONTEXT_NAME_SIZE];
    // Sent upstream once the upstream has accepted: a rover's GGA sentence up
    // to and including its first line feed; none for a system relay.
    char* firstMessage;  // owned, firstMessageLength bytes and a NUL
    size_t firstMessageLength;
    RelayRequest* request;  // owned
    struct bufferevent* bev;
    uint64_t relayChannelID;  // 0 until connected
    int32_t state;            // 0 new, 1 verified, -1 failed, -2 refused
    NHServer* server;
    // The starter's, set after RelayContext_Init; not owned. None: the relay
    // runs and ends untold.
    const RelayClientCallbacks* callbacks;
    char mountName[RELAY_CONTEXT_MOUNT_SIZE];  // the local mount, for messages
    uint64_t roverChannelID;                   // 0 for a system relay
    // The relay's user: the rover's per-user key, or "SYSTEM".
    char account[RELAY_ACCOUNT_TEXT_SIZE];
    struct event* timer;         // the reply deadline while it runs
    struct timeval readTimeout;  // 30 s; a starter may shorten it before Relay_Connect

    // The relay client's own bookkeeping.
    RelayLookup* lookup;       // a pending name lookup
    bool ownsBev;              // until the connection joins the server's table
    bool connecting;           // inside bufferevent_socket_connect
    short eventsWhileConnecting;
    // The stream after the reply.
    bool emptyLineOpen;  // an "ICY 200 OK" whose empty line may still head the stream
    bool chunked;        // its chunk framing is taken off
    RelayChunkDecoder chunks;
};

// A zeroed request and a zeroed context on the heap, for Relay_Connect.
RelayRequest* RelayRequest_New();
// Fills a request for the mount with the account (a shared one taken from
// the pool, or the mount's own systemAccount): NTRIP 1.0, the mount's
// upstream host, port and mount, its local name, the account's credentials
// and their Base64. 1, or 0 when an argument is null.
int RelayRequest_FromMount(RelayRequest* request, const RelayMount* mount, RelayAccount* account);
RelayContext* RelayContext_New();
// Frees what Relay_Connect never got (and the context's request).
void RelayContext_Free(RelayContext* context);

// Fills a context and takes the request. A non-zero rover channel makes a
// rover relay: its name "%s-%d", the account text and the first message (cut
// after its first line feed). Rover channel 0 makes a system relay: name =
// the request's local mount, account "SYSTEM", no first message. Every text
// is bounded by its field. 1, or 0 for a null context.
int RelayContext_Init(RelayContext* context, RelayRequest* request, NHServer* server, const char* mountName,
                      uint64_t roverChannelID, const char* accountText, const char* firstMessage);

// Starts the relay on the server's loop and owns the context from now on: 0.
// 1 when it cannot be started at all (no context, server or request): then
// the closed callback (when there is a server) runs at once on the calling
// thread and the context is freed.
int Relay_Connect(RelayContext* context);

// The request text: NTRIP 1.0
//   "GET /%s HTTP/1.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\nAuthorization: Basic %s\r\n\r\n"
// or, for protocol 2, the mount as stored (no slash added)
//   "GET %s HTTP/1.0\r\nHost: %s\r\nNtrip-Version: Ntrip/2.0\r\nUser-Agent: NTRIP RTKLIB/2.4.3\r\n"
//   "Referer: RELAY\r\nConnection: close\r\nAuthorization: Basic %s\r\n\r\n".
// Its length, or -1 when out is too small (RELAY_REQUEST_MAX always fits).
int Relay_FormatRequest(const RelayRequest* request, char* out, size_t size);
// Sends the request text (no terminating NUL): 0, or -1.
int Relay_SendRequest(struct bufferevent* bev, const RelayRequest* request);

// The connection's callbacks, loop thread only. Verify waits until the
// reply is whole, then accepts (the first message goes upstream, the
// verified callback runs, the bytes behind the reply are read as the
// stream) or refuses (state -2; a rover relay's rover is shut down). Read
// hands the stream to the server's read path, NHServer_ReadConnection,
// after taking off the ICY empty line or the chunk framing.
void RelayConnectCallback(struct bufferevent* bev, short events, void* context);
void RelayVerifyCallback(struct bufferevent* bev, void* context);
void RelayReadDataCallback(struct bufferevent* bev, void* context);
void RelayEventCallback(struct bufferevent* bev, short events, void* context);
