// The state of one network server, shared by the files of the server alone:
// its loop (NHServerLoop.cpp), its listener and connections
// (NHServerConnections.cpp) and its commands (NHServerCommands.cpp). Nothing
// outside src/net includes this. The server owns the queue, the connection
// table and the publisher table; the loop-thread fields are touched on that
// thread only.
#pragma once

#include "net/CommandQueue.h"
#include "net/NHServer.h"
#include "net/PublisherTable.h"
#include "net/TcpConnection.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

struct event;
struct event_base;
struct evconnlistener;
struct evdns_base;
struct sockaddr_in;

struct NHServer {
    // Fixed at creation.
    NetHandleOpenCb openCb;
    NetHandleCloseCb closeCb;
    NetHandleReadCb readCb;
    NetHandleWriteCb writeCb;
    NetHandleTimerCb tickCb;
    // At most this many connections at once (0: no cap); past it a new
    // connection is closed at accept.
    int maxConnections;

    CommandQueue* queue;
    TcpConnectionTable* table;
    // Set while the loop runs; posters read it from any thread.
    std::atomic<struct event_base*> base;
    PublisherTable* publishers;
    struct event* timerEvent;
    int timerPeriodMs;
    NetHandleTimerCb timerCb;
    void* timerArg;

    // Loop-thread state.
    int listenError;  // errno of the run's failed listen, 0 when it listened
    struct evconnlistener* listener;
    struct event* acceptResume;  // re-enables the listener after an accept error
    std::atomic<bool> stopRequested;
    std::atomic<std::thread::id> loopThread{std::thread::id()};  // the thread running the loop, while one does
    int broadcasting;  // walks of a subscriber list under way (a write callback may start one)
    // The pieces of one read of a publisher, broadcast as one write per
    // subscriber when the read is done (NHServer_Broadcast): while they lie
    // one after the other in the input of the read under way (readRegion),
    // they are only pointed at (batchView); else they are copied here.
    std::vector<unsigned char> batchBytes;
    const unsigned char* batchView;
    size_t batchViewLength;
    uint64_t batchPublisher;
    const unsigned char* readRegion;  // the input a read hands out, until its end
    size_t readRegionLength;
    struct evdns_base* dnsBase;  // made at the first lookup, freed with the loop
    int64_t refusalLogMs;        // steady time of the last refusal line
    uint32_t refusedSinceLog;    // refusals since that line
};

// The listener (NHServerConnections.cpp): binds ip:port on the base and
// accepts into the server's table. False when the address cannot be bound.
bool NHServer_Listen(NHServer* server, struct event_base* base, const struct sockaddr_in* address);
// Frees the listener and its pause timer, when there are.
void NHServer_CloseListener(NHServer* server);
// The close-after-flush command itself (NHServer_PostCloseAfterFlush).
void NHServer_CloseAfterFlush(NHServer* server, uint64_t channelID);

// The commands (NHServerCommands.cpp). The loop hook drains the queue, after
// writing out what a read gathered for a publisher's subscribers.
void CommandQueue_LoopHook(struct event_base* base, void* server);
// Writes out what NHServer_Broadcast has gathered. The loop does it at the
// end of every read and before every drain.
void NHServer_FlushBroadcast(NHServer* server);
// Told by a read of the region its pieces come from, and of its end, which
// writes out what the read gathered (TcpConnectionReadRegionFn).
void NHServer_ReadRegion(void* server, const unsigned char* bytes, size_t length);
