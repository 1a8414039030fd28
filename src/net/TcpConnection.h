// The connections of one server, keyed by channelID, and what the loop does
// with them: open, read in chunks, write with a limit on unsent bytes, shut
// down and close. Every function here runs on the server's loop thread; the
// table has no lock.
#pragma once

#include "net/ConnTraffic.h"
#include "net/NHServer.h"
#include "net/SharedChunk.h"
#include "runtime/CommonDataChain.h"
#include "runtime/HashTable.h"

#include <cstddef>
#include <cstdint>

struct bufferevent;
struct SubscriberNode;
struct TcpConnectionTable;

// Reads reach the read callback in pieces of at most this many bytes.
static const size_t TCP_CONNECTION_READ_CHUNK = 2048;
// A chain is refused once more than this many bytes wait unsent.
static const size_t TCP_CONNECTION_MAX_UNSENT = 204800;
static const size_t TCP_CONNECTION_IP_SIZE = 239;

struct TcpConnection {
    uint64_t channelID;
    char ip[TCP_CONNECTION_IP_SIZE];
    int port;
    struct bufferevent* bev;
    TcpConnectionTable* table;
    TcpConnection* next;
    TcpConnectionCloseHook closeHook;
    void* closeHookArg;
    bool readPaused;  // TcpConnection_PauseRead until TcpConnection_ResumeRead
    // A read is handing out pieces of the input: nothing may drain, move or
    // free the input until it returns (TcpConnection_ReadDataEvent).
    bool reading;
    // Its close-after-flush has begun: whatever it sends is discarded, and
    // a read under way hands out no further piece.
    bool discarding;
    // Where its written bytes are counted (one reference), or nullptr.
    ConnTraffic* traffic;
    // The publishers' nodes that name this connection (linked through
    // SubscriberNode::nextOfConn): a close tells them it is gone.
    SubscriberNode* subscriptions;
};

struct TcpConnectionTable {
    ChannelHashTable<TcpConnection> records;
    // The server the connections belong to; their libevent callbacks get
    // the record itself, and reach the server through here.
    NHServer* server = nullptr;
};

// The next ID of the process-wide, lock-free counter: 1 first, never reused.
uint64_t NetHandle_NextChannelId();
// The last ID handed out (0 before the first).
uint64_t NetHandle_LastChannelId();

// Fatal "TcpConnection_CreateHashTable:malloc error" without memory.
TcpConnectionTable* TcpConnection_CreateHashTable();
// Frees every connection left (their sockets close; no callback) and the table.
void TcpConnection_FreeHashTable(TcpConnectionTable* table);
// Frees one record already taken out of its table: its bufferevent (the
// socket closes), its counters' reference, and its publishers' links to it.
void TcpConnection_Free(TcpConnection* record);

// Registers a connection and calls the open callback. Returns its channelID.
uint64_t TcpConnection_OpenEvent(TcpConnectionTable* table, NetHandleOpenCb cb, int kind, const char* ip,
                                 int port, struct bufferevent* bev);

// Removes and frees the connection (its socket closes) after calling the
// close callback. Nothing for an unknown channel.
void TcpConnnection_Close(TcpConnectionTable* table, NetHandleCloseCb cb, uint64_t channelID, int reason);

// A write goes straight to the socket while nothing waits in the
// connection's output; only what the kernel does not take waits there, and
// only then is the loop asked to tell when the socket is writable again.
// What waits is what the unsent limit counts.
//
// 0 written; 1 unknown channel, or more than TCP_CONNECTION_MAX_UNSENT bytes
// wait already: then the socket is shut down, its unsent bytes dropped, and
// the caller is to post the close. The write callback gets the whole length
// of every written chain, sent or waiting.
int TcpConnection_Write(TcpConnectionTable* table, const CommonDataChain* chain, uint64_t channelID,
                        NetHandleWriteCb cb);

// The bytes of one write to many connections (a broadcast): whatever a
// connection cannot send at once waits in its output as a reference to one
// shared chunk. `chunk` holds the bytes when the writer has them in one
// already; otherwise it is made from them at the first connection that needs
// it. The payload owns one reference to its chunk (TcpConnectionPayload_Release).
struct TcpConnectionPayload {
    const unsigned char* bytes;
    size_t length;
    SharedChunk* chunk;
};
void TcpConnectionPayload_Release(TcpConnectionPayload* payload);
// As TcpConnection_Write, for one payload.
int TcpConnection_WritePayload(TcpConnectionTable* table, TcpConnectionPayload* payload, uint64_t channelID,
                               NetHandleWriteCb cb);
// The same to a connection at hand (nullptr: one that is gone, 1), counted
// at the time given: a broadcast reads the clock once for all its subscribers.
int TcpConnection_WritePayloadTo(TcpConnection* record, TcpConnectionPayload* payload, NetHandleWriteCb cb,
                                 const ConnTrafficClock& now);

// Counts every later write to the connection into traffic (retained; a
// second call replaces the first): 0, or -1 for an unknown channel.
int TcpConnection_SetTraffic(TcpConnectionTable* table, uint64_t channelID, ConnTraffic* traffic);

// Told of the bytes one read hands over, before the first piece (the whole
// region the pieces point into), and with (nullptr, 0) after the last one,
// while the bytes are still in the input.
typedef void (*TcpConnectionReadRegionFn)(void* arg, const unsigned char* bytes, size_t length);

// Hands the bytes waiting in the connection's input to the read callback in
// pieces of at most TCP_CONNECTION_READ_CHUNK bytes. The pieces point into
// the input itself (made contiguous once, no copy for a read that came in
// one block); the bytes leave the input after the last piece.
//
// While the pieces are handed out the connection is marked reading, and the
// input stays where it is whatever the callback runs (commands drained by a
// broadcast among them): a close frees the record, not the input, which the
// read holds until it returns; a close-after-flush leaves the discarding of
// the input to the read's end. No further piece is handed out once the
// connection is closed or discarding. A read of a connection that is being
// read already (from inside its own callback) does nothing.
void TcpConnection_ReadDataEvent(TcpConnectionTable* table, NetHandleReadCb cb, uint64_t channelID,
                                 struct bufferevent* bev, TcpConnectionReadRegionFn region = nullptr,
                                 void* regionArg = nullptr);

// Shuts the socket down in both directions; the close follows from its event.
void TcpConnection_Shutdown(TcpConnectionTable* table, uint64_t channelID);

// Sets (or, with a null hook, clears) the connection's close hook: 0, or -1
// for an unknown channel.
int TcpConnection_SetCloseHook(TcpConnectionTable* table, uint64_t channelID, TcpConnectionCloseHook hook,
                               void* arg);

// Stops and restarts reading a connection, so that a reader whose consumer
// falls behind leaves the bytes in the kernel (and the peer's sending
// blocks) instead of dropping them. A connection closed after a flush reads
// again (what comes is discarded). 0, or -1 for an unknown channel.
int TcpConnection_PauseRead(TcpConnectionTable* table, uint64_t channelID);
int TcpConnection_ResumeRead(TcpConnectionTable* table, uint64_t channelID);
bool TcpConnection_ReadPaused(TcpConnectionTable* table, uint64_t channelID);

TcpConnection* TcpConnection_Find(TcpConnectionTable* table, uint64_t channelID);
uint32_t TcpConnection_Count(TcpConnectionTable* table);
// Bytes waiting in the connection's output buffer, or -1 for an unknown channel.
long TcpConnection_OutputLength(TcpConnectionTable* table, uint64_t channelID);
