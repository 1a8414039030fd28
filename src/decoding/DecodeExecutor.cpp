#include "decoding/DecodeExecutor.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <new>
#include <unordered_set>

namespace {

// Set by a handler through DecodeExecutor_DropQueued; read and cleared by the
// decode loop of the same worker thread.
thread_local bool t_dropQueued = false;
// The queues of this worker whose bytes are dropped until their channel's
// close (a channel's tasks all run on its one worker).
thread_local std::unordered_set<const Concurrent::FixedQueue*> t_droppedQueues;
// Set by a handler through DecodeExecutor_HandOffQueued, like t_dropQueued.
thread_local bool t_handOffQueued = false;
// The queues of this worker whose bytes are handed off until their close.
thread_local std::unordered_set<const Concurrent::FixedQueue*> t_handedOffQueues;

void Leave(const DecodeTask* task, size_t length)
{
    if (task->leave && length > 0) task->leave(task->channelID, length);
}

size_t ChainLength(const CommonDataChain* chain)
{
    size_t total = 0;
    for (const CommonDataChain* block = chain; block; block = block->next) total += block->len;
    return total;
}

// What waits in a queue that is handed off goes on now, in one piece.
void HandOffQueue(DecodeTask* task)
{
    Concurrent::FixedQueue* queue = task->queue;
    uint32_t unread = queue->Unread();
    if (unread == 0) return;
    if (task->handOff) task->handOff(task->channelID, queue->GetHead(), unread);
    queue->Pop(unread);
    Leave(task, unread);
}

void StartHandOff(DecodeTask* task)
{
    if (t_droppedQueues.count(task->queue) > 0) return;
    t_handedOffQueues.insert(task->queue);
    HandOffQueue(task);
}

DecodeTask* NewTask(DecodeExecutor* executor, DecodeChannelEntry* entry)
{
    DecodeTask* task = static_cast<DecodeTask*>(calloc(1, sizeof(DecodeTask)));
    if (!task) Log_Fatal("%s:malloc error", "DecodeExecutor_NewTask");
    task->decode = executor->decode;
    task->handle = executor->handle;
    task->handOff = executor->handOff;
    task->leave = executor->leave;
    task->queue = entry->queue;
    task->channelID = entry->channelID;
    return task;
}

// Posts the close of the entry's queue and frees the entry (already unlinked).
void CloseEntry(DecodeExecutor* executor, DecodeChannelEntry* entry)
{
    DecodeTask* task = NewTask(executor, entry);
    task->close = 1;
    if (!WorkerPool_Post(executor->pool, DecodeExecutor_RunTask, task, entry->worker)) {
        delete entry->queue;
        free(task);
    }
    free(entry);
}

void QueueChain(DecodeTask* task)
{
    Concurrent::FixedQueue* queue = task->queue;
    for (CommonDataChain* block = task->chain; block; block = block->next) {
        if (block->len == 0) continue;
        if (!queue->Push(block->data, block->len)) {
            // Resynchronise on the newer half; this block is lost.
            uint32_t dropped = queue->Unread() / 2;
            queue->Pop(dropped);
            Leave(task, static_cast<size_t>(dropped) + block->len);
            Log_Warn("%s:queue of channel %llu full, dropped %u queued and %u new bytes", "DecodeExecutor_RunTask",
                     static_cast<unsigned long long>(task->channelID), dropped, block->len);
        }
    }
}

void DecodeQueued(DecodeTask* task)
{
    Concurrent::FixedQueue* queue = task->queue;
    for (;;) {
        uint32_t unread = queue->Unread();
        if (unread == 0) break;
        Tarnek::LogRoot* unit = nullptr;
        size_t consumed = 0;
        bool got = task->decode(queue->GetHead(), unread, &unit, &consumed);
        t_dropQueued = false;
        t_handOffQueued = false;
        if (got && unit) {
            if (task->handle) {
                task->handle(&unit, task->channelID);
            } else {
                delete unit;
            }
        } else {
            delete unit;  // a unit without a true result has no owner
        }
        if (t_dropQueued) {
            t_dropQueued = false;
            t_handOffQueued = false;
            t_droppedQueues.insert(queue);
            queue->Pop(unread);
            Leave(task, unread);
            break;
        }
        uint32_t popped = consumed < unread ? static_cast<uint32_t>(consumed) : unread;
        queue->Pop(popped);
        Leave(task, popped);
        if (t_handOffQueued) {
            t_handOffQueued = false;
            StartHandOff(task);
            break;
        }
        if (consumed == 0) break;
    }
}

}  // namespace

void DecodeExecutor_DropQueued() { t_dropQueued = true; }

void DecodeExecutor_HandOffQueued() { t_handOffQueued = true; }

void DecodeExecutor_SetHandOff(DecodeExecutor* executor, HandOffFunc handOff, LeaveFunc leave)
{
    if (!executor) return;
    ScopedLock guard(executor->lock);
    executor->handOff = handOff;
    executor->leave = leave;
}

void DecodeExecutor_HandOff(DecodeExecutor* executor, uint64_t channelID)
{
    if (!executor || !executor->pool) return;
    ScopedLock guard(executor->lock);
    // A channel without an entry has nothing queued, and its later bytes
    // are not pushed here.
    DecodeChannelEntry* entry = executor->channels.Find(channelID);
    if (!entry) return;
    DecodeTask* task = NewTask(executor, entry);
    task->handOffQueued = 1;
    if (!WorkerPool_Post(executor->pool, DecodeExecutor_RunTask, task, entry->worker)) free(task);
}

DecodeExecutor* DecodeExecutor_Create(int count, DecodeFunc decode, HandleFunc handle)
{
    DecodeExecutor* executor = new (std::nothrow) DecodeExecutor();
    if (!executor) return nullptr;
    executor->decode = decode;
    executor->handle = handle;
    executor->pool = WorkerPool_Create(count);
    if (!executor->pool) Log_Error("%s:no worker pool for %d workers", "DecodeExecutor_Create", count);
    return executor;
}

bool DecodeExecutor_Push(DecodeExecutor* executor, uint64_t channelID, const unsigned char* bytes, size_t length,
                         const char* name)
{
    if (!executor) return false;
    if (!executor->pool || !executor->decode) {
        Log_Error("%s:%s has no workers, %zu bytes of channel %llu refused", "DecodeExecutor_Push",
                  name ? name : "executor", length, static_cast<unsigned long long>(channelID));
        return false;
    }
    return DecodeExecutor_PushData(executor, bytes, channelID, length);
}

bool DecodeExecutor_PushData(DecodeExecutor* executor, const unsigned char* bytes, uint64_t channelID,
                             size_t length)
{
    if (!executor || !executor->pool || !executor->decode) return false;
    if (!bytes && length > 0) return false;

    ScopedLock guard(executor->lock);
    DecodeChannelEntry* entry = executor->channels.Find(channelID);
    if (!entry) {
        entry = static_cast<DecodeChannelEntry*>(calloc(1, sizeof(DecodeChannelEntry)));
        if (!entry) Log_Fatal("%s:malloc error", "DecodeExecutor_PushData");
        entry->channelID = channelID;
        entry->queue = new Concurrent::FixedQueue(Concurrent::FIXED_QUEUE_CAPACITY);
        entry->worker = WorkerPool_NextWorker(executor->pool);
        if (!executor->channels.Insert(entry)) Log_Fatal("%s:channel table", "DecodeExecutor_PushData");
    }

    DecodeTask* task = NewTask(executor, entry);
    task->chain = CommonDataChain_Alloc();
    // Any chunk size is carried, in as many blocks as it needs.
    CommonDataChain_AppendAll(task->chain, bytes, length);
    if (!WorkerPool_Post(executor->pool, DecodeExecutor_RunTask, task, entry->worker)) {
        CommonDataChain_Free(task->chain);
        free(task);
        return false;
    }
    return true;
}

void DecodeExecutor_CloseChannel(DecodeExecutor* executor, uint64_t channelID)
{
    if (!executor) return;
    ScopedLock guard(executor->lock);
    DecodeChannelEntry* entry = executor->channels.Remove(channelID);
    if (entry) CloseEntry(executor, entry);
}

int DecodeExecutor_WorkerOf(DecodeExecutor* executor, uint64_t channelID)
{
    if (!executor) return -1;
    ScopedLock guard(executor->lock);
    DecodeChannelEntry* entry = executor->channels.Find(channelID);
    return entry ? entry->worker : -1;
}

void DecodeExecutor_RunTask(void* arg)
{
    DecodeTask* task = static_cast<DecodeTask*>(arg);
    if (!task) return;
    if (task->close) {
        t_droppedQueues.erase(task->queue);
        t_handedOffQueues.erase(task->queue);
        delete task->queue;
        free(task);
        return;
    }
    if (!task->queue) {
    } else if (t_droppedQueues.count(task->queue) > 0) {
        Leave(task, ChainLength(task->chain));
    } else if (task->handOffQueued) {
        if (t_handedOffQueues.count(task->queue) == 0) StartHandOff(task);
    } else if (t_handedOffQueues.count(task->queue) > 0) {
        // Handed on: the bytes go their way as they come, never queued.
        for (CommonDataChain* block = task->chain; block; block = block->next) {
            if (block->len == 0) continue;
            if (task->handOff) task->handOff(task->channelID, block->data, block->len);
            Leave(task, block->len);
        }
    } else {
        QueueChain(task);
        if (task->decode) DecodeQueued(task);
    }
    CommonDataChain_Free(task->chain);
    free(task);
}

void DecodeExecutor_Destroy(DecodeExecutor* executor)
{
    if (!executor) return;
    {
        ScopedLock guard(executor->lock);
        executor->channels.Clear([executor](DecodeChannelEntry* entry) { CloseEntry(executor, entry); });
    }
    WorkerPool_Destroy(executor->pool);
    delete executor;
}
