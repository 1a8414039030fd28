// A queue of events that threads push and one thread drains: each push
// appends one DecodingEvent under the queue's lock; the drain hands the
// events, one by one and in the order in which they entered the lock, to a
// run function of the queue's owner, and frees each after it has run.
//
// The queue knows nothing of what an event means: kind and payload are the
// owner's (the network server's commands, listed below). It does not wake
// anyone either; the owner pushes and then wakes its draining thread.
//
// Semantics the owner relies on:
// - events run in push order (the lock orders pushes from different
//   threads), each exactly once; events pushed while a drain runs, also by
//   the run function itself, run in the same drain;
// - a drain started from inside the run function returns at once, and the
//   outer drain goes on with the rest;
// - the lock guards only the links and is never held while an event runs.
#pragma once

#include "net/SharedChunk.h"
#include "runtime/CommonDataChain.h"
#include "runtime/Lock.h"

#include <cstdint>

// The kinds of DecodingEvent a network server runs.
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
    DecodingEvent** back;     // the field that points at this event
    int kind;                 // the owner's; the queue never reads it
    uint64_t channelID;       // target, or the publisher of a publisher command
    CommonDataChain* chain;   // owned by the event, freed with it
    SharedChunk* payload;     // bytes sized to what was posted; one reference, given back with the event
    uint64_t subscriberID;
    void (*call)(void* arg);
    void* callArg;
};

struct CommandQueue {
    DecodingEvent* first;
    DecodingEvent** tail;  // the last event's next, or &first when empty
    Lock lock;
    bool draining;  // draining thread only
};

// A zeroed event; fatal when memory runs out.
DecodingEvent* DecodingEvent_Alloc();
// Frees the event with its chain and gives its payload back.
void DecodingEvent_Free(DecodingEvent* event);

CommandQueue* CommandQueue_Create();
// Frees the queue with every event still in it, unrun.
void CommandQueue_Free(CommandQueue* queue);

// Appends an event (taking ownership) under the lock. Any thread.
void CommandQueue_Push(CommandQueue* queue, DecodingEvent* event);
uint32_t CommandQueue_Count(CommandQueue* queue);

// Runs every queued event with run(event, context), then frees it. One
// thread only (the owner's); see above for nested drains.
typedef void (*CommandQueueRunFn)(DecodingEvent* event, void* context);
void CommandQueue_Drain(CommandQueue* queue, CommandQueueRunFn run, void* context);
