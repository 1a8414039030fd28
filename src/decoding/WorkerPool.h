// A fixed set of worker threads, each with its own FIFO list of events. A
// poster chooses the worker, so work posted to one worker runs in post order,
// one event at a time. Workers sleep on a condition variable while their list
// is empty.
#pragma once

#include "platform/Thread.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

static const int WORKER_POOL_MAX = 100;

enum WorkerState { WORKER_RUNNING = 1, WORKER_ENDED = 2 };

typedef void (*WorkerFunc)(void* arg);

struct WorkerEvent {
    WorkerEvent* next;
    int kind;       // 0 for every posted event
    uint8_t done;   // set once the event has run
    WorkerFunc func;
    void* arg;
};

struct WorkerPool;

struct Worker {
    WorkerEvent* first;
    WorkerEvent* last;
    uint32_t count;  // events waiting; under the pool lock
    int state;
    bool stopping;   // set by WorkerPool_Destroy: finish the list, then end
    std::condition_variable wake;
    PlatformThread* thread;
    WorkerPool* pool;
};

struct WorkerPool {
    Worker* workers;
    int count;
    int counter;      // round-robin choice of new channels' workers
    std::mutex lock;  // the pool lock, shared by the workers' lists
};

// A pool of count workers, all started; nullptr when count is outside
// 1 .. 100 or a thread cannot be started.
WorkerPool* WorkerPool_Create(int count);

// Links one event behind the worker's last and wakes it. False (logged) for
// no pool, no function or an index outside the pool.
bool WorkerPool_Post(WorkerPool* pool, WorkerFunc func, void* arg, int index);

// The worker for a new channel: the counter, reset to 0 past 1000000, plus
// one, modulo the worker count (the first choice of a pool is 1 mod n).
int WorkerPool_NextWorker(WorkerPool* pool);

// Lets every worker finish the events already posted, joins the threads and
// frees the pool.
void WorkerPool_Destroy(WorkerPool* pool);
