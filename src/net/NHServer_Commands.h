// Commands other threads post to a server's loop: each post pushes one
// DecodingEvent on the server's command queue and wakes the loop; the loop's
// hook drains the queue after every iteration and runs the commands one by
// one, in the order in which they were pushed.
//
// Semantics the callers rely on:
// - every post wakes the loop, and a post from any thread is run by the
//   first drain that starts after it;
// - commands run in post order, each exactly once; commands posted while a
//   drain runs, also by the commands themselves, run in the same drain;
// - a post made before the server's loop has an event base is queued, and
//   the first drain of the loop runs it.
#pragma once

#include "net/NHServer_State.h"

#include <cstddef>
#include <cstdint>

struct event_base;

// The kinds of DecodingEvent a server runs.
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

// Posters: any thread. The caller keeps its bytes and chains; the command
// holds copies of any length.
void NHServer_PostClose(NHServer* server, uint64_t channelID);
// Closes the connection once everything queued for it before this command
// has reached the peer (a source table, a last reply). From the command on,
// whatever the peer sends is discarded; when the output has drained the
// write side is shut down, and the close (reason 1) follows the peer's end.
// A peer that neither reads nor ends for NHSERVER_FLUSH_TIMEOUT_S seconds,
// or whose connection fails, is closed by the event (reason 2).
void NHServer_PostCloseAfterFlush(NHServer* server, uint64_t channelID);
void NHServer_PostSend(NHServer* server, uint64_t channelID, const void* bytes, size_t length);
void NHServer_PostSendChain(NHServer* server, uint64_t channelID, const CommonDataChain* chain);
void NHServer_PostAddPublisher(NHServer* server, uint64_t channelID);
void NHServer_PostRemovePublisher(NHServer* server, uint64_t channelID);
void NHServer_PostSubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);
void NHServer_PostUnsubscribe(NHServer* server, uint64_t publisherID, uint64_t subscriberID);
void NHServer_PostBroadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length);
// The broadcast of the loop's own reads (a base's chunk). On the loop
// thread, outside a drain, the pieces one read hands the read callback are
// gathered and, once the read is done, written to every subscriber at once
// as one piece: one system call per subscriber, no event, no wake-up, and a
// copy only for a subscriber whose kernel does not take it all. Before the
// first piece of a read every command queued so far runs, so a subscription
// or a re-binding posted before takes effect before the chunk, exactly as if
// the broadcast had been queued behind it; commands posted during the read
// run after it. Anywhere else (another thread, or inside a command) this is
// NHServer_PostBroadcast. No lock of a registry may be held: the commands and
// the write callbacks take them.
void NHServer_Broadcast(NHServer* server, uint64_t publisherID, const void* bytes, size_t length);
// Writes out what NHServer_Broadcast has gathered. The loop does it at the end
// of every read and before every drain of the queue.
void NHServer_FlushBroadcast(NHServer* server);
void NHServer_PostShutdown(NHServer* server, uint64_t channelID);
// Runs fn(arg) on the loop thread, in order with the other commands: work
// that must touch the loop's connections (an outgoing connect) started from
// another thread. A call still queued when the server is freed is dropped
// unrun; the caller's arg is then not released.
typedef void (*NHServerCallFn)(void* arg);
void NHServer_PostCall(NHServer* server, NHServerCallFn fn, void* arg);

// How many commands wait for the next drain. Any thread.
uint32_t NHServer_QueuedCommands(NHServer* server);

// Hands every queued command to visit in order without running it, then
// frees it: for a server whose loop does not run (tests of what was posted).
void NHServer_TakeQueuedCommands(NHServer* server, CommandQueueRunFn visit, void* context);

// Wakes the server's loop so that its queue is drained; nothing before the
// loop has a base (its first drain runs what is queued).
void NHServer_Wake(NHServer* server);

// The server's loop hook; drains its queue with DecodingEvent_Process.
void CommandQueue_LoopHook(struct event_base* base, void* server);

// Runs one command on the loop thread; an unknown kind is fatal.
void DecodingEvent_Process(DecodingEvent* event, NHServer* server);
void DoSend(DecodingEvent* event, NHServer* server);
void DoBroadcast(DecodingEvent* event, NHServer* server);
// Writes one payload to every subscriber of the publisher, in list order; a
// subscriber over the unsent limit gets a posted close.
void NHServer_BroadcastPayload(NHServer* server, uint64_t publisherID, TcpConnectionPayload* payload);
void DoShutdown(DecodingEvent* event, NHServer* server);
