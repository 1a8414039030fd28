// Commands other threads post to a server's loop: each post appends one
// DecodingEvent under the queue's lock and wakes the loop; the loop's hook
// drains the queue after every iteration and runs the commands one by one,
// in the order in which they entered the lock.
//
// Semantics the callers rely on:
// - every post wakes the loop, and a post from any thread is run by the
//   first drain that starts after it;
// - commands run in post order (the queue lock orders posts from different
//   threads), each exactly once; commands posted while a drain runs, also by
//   the commands themselves, run in the same drain;
// - a post made before the server's loop has an event base is queued, and
//   the first drain of the loop runs it;
// - the queue lock guards only the links and is never held while a command
//   runs.
#pragma once

#include "runtime/CommonDataChain.h"
#include "runtime/Lock.h"

#include <cstdint>

struct NHServer;
struct event_base;

enum DecodingEventKind {
    DECODING_EVENT_CLOSE = 1,
    DECODING_EVENT_SEND = 2,
    DECODING_EVENT_ADD_PUBLISHER = 3,
    DECODING_EVENT_REMOVE_PUBLISHER = 4,
    DECODING_EVENT_SUBSCRIBE = 5,
    DECODING_EVENT_UNSUBSCRIBE = 6,
    DECODING_EVENT_BROADCAST = 7,
    DECODING_EVENT_SHUTDOWN = 8,
    DECODING_EVENT_CLOSE_AFTER_FLUSH = 9,
    DECODING_EVENT_CALL = 10,
};

struct DecodingEvent {
    DecodingEvent* next;
    DecodingEvent** back;  // the field that points at this event
    int kind;
    uint64_t channelID;       // target, or the publisher for kinds 3 to 7
    CommonDataChain* chain;   // kinds 2 and 7; owned by the event
    uint64_t subscriberID;    // kinds 5 and 6
    NHServer* server;
    void (*call)(void* arg);  // kind 10
    void* callArg;
};

struct CommandQueue {
    DecodingEvent* first;
    DecodingEvent** tail;  // the last event's next, or &first when empty
    Lock lock;
    bool draining;  // loop thread only
};

CommandQueue* CommandQueue_Create();
// Frees the queue with every event still in it.
void CommandQueue_Free(CommandQueue* queue);

// Appends an event (taking ownership) under the lock. Does not wake anyone.
void CommandQueue_Push(CommandQueue* queue, DecodingEvent* event);
uint32_t CommandQueue_Count(CommandQueue* queue);

// The server's loop hook; runs CommandQueue_Drain on its queue.
void CommandQueue_LoopHook(struct event_base* base, void* server);
// Runs every queued event, loop thread only. A drain started from inside a
// command returns at once: the outer drain goes on with the rest.
void CommandQueue_Drain(CommandQueue* queue);

// Runs one event by kind; an unknown kind is fatal.
void DecodingEvent_Process(DecodingEvent* event);
void DoSend(DecodingEvent* event, NHServer* server);
void DoBroadcast(DecodingEvent* event, NHServer* server);
void DoShutdown(DecodingEvent* event, NHServer* server);
