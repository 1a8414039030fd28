// Decodes the byte streams of many channels on a small worker pool. Each
// channel is pinned to one worker and owns a FixedQueue collecting its bytes,
// so one connection's bytes are decoded in order while different connections
// run in parallel.
//
// Lock order: the executor lock, then the pool lock. Workers hold neither
// while they decode.
#pragma once

#include "decoding/FixedQueue.h"
#include "decoding/LogRoot.h"
#include "decoding/WorkerPool.h"
#include "runtime/CommonDataChain.h"
#include "runtime/HashTable.h"
#include "runtime/Lock.h"

#include <cstddef>
#include <cstdint>

struct DecodeChannelEntry {
    DecodeChannelEntry* next;
    uint64_t channelID;
    Concurrent::FixedQueue* queue;
    int worker;
};

// Where a channel's bytes go once its handler has handed the channel on
// (DecodeExecutor_HandOffQueued, DecodeExecutor_HandOff): called on the
// channel's worker, in order, instead of the decoder.
typedef void (*HandOffFunc)(uint64_t channelID, const unsigned char* bytes, size_t length);
// Told, on the channel's worker, of every byte that leaves a channel's
// queue: decoded, handed off or dropped. Called after the hand-off of the
// same bytes has returned.
typedef void (*LeaveFunc)(uint64_t channelID, size_t length);

struct DecodeExecutor {
    WorkerPool* pool;  // nullptr when the executor was made with a bad worker count
    ChannelHashTable<DecodeChannelEntry> channels;
    DecodeFunc decode;
    HandleFunc handle;
    HandOffFunc handOff;  // nullptr: nothing is ever handed off
    LeaveFunc leave;      // nullptr: nobody counts
    Lock lock;
};

// One unit of work for a channel's worker: bytes to queue and decode, or the
// close of the channel's queue.
struct DecodeTask {
    DecodeFunc decode;
    HandleFunc handle;
    Concurrent::FixedQueue* queue;
    HandOffFunc handOff;
    LeaveFunc leave;
    CommonDataChain* chain;
    uint64_t channelID;
    uint8_t close;
    uint8_t handOffQueued;  // the channel is handed on from this task on
};

// An executor with count workers (1 .. 100). With any other count it has no
// pool and refuses every push.
DecodeExecutor* DecodeExecutor_Create(int count, DecodeFunc decode, HandleFunc handle);

// Queues length bytes of the channel for decoding; name labels the log lines.
// False without an executor or when it cannot take bytes.
bool DecodeExecutor_Push(DecodeExecutor* executor, uint64_t channelID, const unsigned char* bytes, size_t length,
                         const char* name);

bool DecodeExecutor_PushData(DecodeExecutor* executor, const unsigned char* bytes, uint64_t channelID,
                             size_t length);

// Frees the channel's queue after every task posted before; later pushes for
// the same channelID start afresh.
void DecodeExecutor_CloseChannel(DecodeExecutor* executor, uint64_t channelID);

// Before the first push: where handed-off bytes go, and who is told of the
// bytes that leave a queue (either may be null).
void DecodeExecutor_SetHandOff(DecodeExecutor* executor, HandOffFunc handOff, LeaveFunc leave);

// Called by a handler, on its worker: once it returns, the bytes still
// queued for the channel behind what it decoded, and every byte pushed for
// the channel until its close, go to the executor's hand-off function
// instead of the decoder. For a login that opens the connection's own road:
// what the peer sent behind its request belongs on it.
void DecodeExecutor_HandOffQueued();
// The same from any thread, for a channel whose handler has returned (a
// login decided elsewhere): queued after every task posted before.
void DecodeExecutor_HandOff(DecodeExecutor* executor, uint64_t channelID);

// Called by a handler, on its worker: the bytes still queued for the channel
// it is handling are dropped once it returns, undecoded, and so is whatever
// is pushed for it until its close. For a connection the handler has given
// up on (its close is posted), whose queue may hold thousands more requests
// that would each be decoded and logged.
void DecodeExecutor_DropQueued();

// The worker a channel is pinned to, or -1 when it has no entry.
int DecodeExecutor_WorkerOf(DecodeExecutor* executor, uint64_t channelID);

// Runs on a worker: one posted task.
void DecodeExecutor_RunTask(void* task);

// Closes every channel, lets the workers finish what was posted, joins them
// and frees the executor. For an orderly shutdown and for tests; the caster's
// executors live as long as the process.
void DecodeExecutor_Destroy(DecodeExecutor* executor);
