// The state of one network server, shared by its loop (NHServer.h), the
// callbacks of its connections (NHServer_Connections.h) and its commands
// (NHServer_Commands.h). The server owns the queue, the connection table and
// the publisher table; the loop-thread fields are touched on that thread only.
#pragma once

#include "net/CommandQueue.h"
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

typedef void (*NetHandleRelayConnectedCb)(uint64_t relayChannelID, void* relayContext);
typedef void (*NetHandleRelayVerifiedCb)(void* relayContext);
typedef void (*NetHandleRelayClosedCb)(void* relayContext);
// (period in ms, timer argument); the timer and the tick callback share it.
typedef void (*NetHandleTimerCb)(int periodMs, void* arg);

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
    std::atomic<std::thread::id> loopThread{std::thread::id()};  // the thread running the loop, while one does
    std::vector<uint64_t> broadcastScratch;
    // The pieces of one read of a publisher, broadcast as one write per
    // subscriber when the read is done (NHServer_Broadcast).
    std::vector<unsigned char> batchBytes;
    uint64_t batchPublisher;
    // Run after each read of an accepted connection: sends what the read
    // gathered for a publisher's subscribers (the commands' broadcast flush,
    // set at creation so the connection callbacks need not know it).
    void (*afterRead)(NHServer* server);
    struct evdns_base* dnsBase;  // made at the first lookup, freed with the loop
    // At most this many connections at once (0: no cap); past it a new
    // connection is closed at accept. Set before the run.
    int maxConnections;
    int64_t refusalLogMs;      // steady time of the last refusal line
    uint32_t refusedSinceLog;  // refusals since that line
};
