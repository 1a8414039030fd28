#include "decoding/WorkerPool.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <new>

namespace {

const int kCounterReset = 1000000;

unsigned Worker_Loop(void* arg)
{
    Worker* worker = static_cast<Worker*>(arg);
    std::unique_lock<std::mutex> guard(worker->pool->lock);
    for (;;) {
        worker->wake.wait(guard, [worker] { return worker->first != nullptr || worker->stopping; });
        WorkerEvent* event = worker->first;
        if (!event) break;  // stopping, and nothing left to run
        worker->first = event->next;
        if (!worker->first) worker->last = nullptr;
        --worker->count;
        // Events run without the pool lock, so posting never waits for a decode.
        guard.unlock();
        if (!event->done) {
            event->done = 1;
            event->func(event->arg);
        }
        free(event);
        guard.lock();
    }
    worker->state = WORKER_ENDED;
    return 0;
}

}  // namespace

WorkerPool* WorkerPool_Create(int count)
{
    if (count < 1 || count > WORKER_POOL_MAX) {
        Log_Error("%s:worker count %d outside 1..%d", "WorkerPool_Create", count, WORKER_POOL_MAX);
        return nullptr;
    }
    WorkerPool* pool = new (std::nothrow) WorkerPool();
    if (!pool) return nullptr;
    pool->workers = new (std::nothrow) Worker[count]();
    if (!pool->workers) {
        delete pool;
        return nullptr;
    }
    pool->count = count;
    pool->counter = 0;
    for (int i = 0; i < count; ++i) {
        Worker* w = &pool->workers[i];
        w->first = nullptr;
        w->last = nullptr;
        w->count = 0;
        w->state = WORKER_RUNNING;
        w->stopping = false;
        w->pool = pool;
        w->thread = nullptr;
    }
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        pool->workers[i].thread = Platform_BeginThread(Worker_Loop, &pool->workers[i], true, &ok);
        if (!ok) {
            Log_Error("%s:cannot start worker %d", "WorkerPool_Create", i);
            // Workers already started are stopped and joined with the pool.
            pool->count = i;
            WorkerPool_Destroy(pool);
            return nullptr;
        }
    }
    return pool;
}

bool WorkerPool_Post(WorkerPool* pool, WorkerFunc func, void* arg, int index)
{
    if (!pool || !func || index < 0 || index >= pool->count) {
        Log_Error("%s:no pool, function or worker %d", "WorkerPool_Post", index);
        return false;
    }
    WorkerEvent* event = static_cast<WorkerEvent*>(calloc(1, sizeof(WorkerEvent)));
    if (!event) Log_Fatal("%s:malloc error", "WorkerPool_Post");
    event->kind = 0;
    event->func = func;
    event->arg = arg;

    Worker* worker = &pool->workers[index];
    {
        std::lock_guard<std::mutex> guard(pool->lock);
        if (worker->last) {
            worker->last->next = event;
        } else {
            worker->first = event;
        }
        worker->last = event;
        ++worker->count;
    }
    worker->wake.notify_one();
    return true;
}

int WorkerPool_NextWorker(WorkerPool* pool)
{
    if (!pool || pool->count < 1) return -1;
    std::lock_guard<std::mutex> guard(pool->lock);
    if (pool->counter > kCounterReset) pool->counter = 0;
    ++pool->counter;
    return pool->counter % pool->count;
}

void WorkerPool_Destroy(WorkerPool* pool)
{
    if (!pool) return;
    {
        std::lock_guard<std::mutex> guard(pool->lock);
        for (int i = 0; i < pool->count; ++i) pool->workers[i].stopping = true;
    }
    for (int i = 0; i < pool->count; ++i) {
        pool->workers[i].wake.notify_all();
        Platform_JoinThread(pool->workers[i].thread);
        pool->workers[i].thread = nullptr;
    }
    delete[] pool->workers;
    delete pool;
}
