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

DecodeTask* NewTask(DecodeExecutor* executor, DecodeChannelEntry* entry)
{
    DecodeTask* task = static_cast<DecodeTask*>(calloc(1, sizeof(DecodeTask)));
    if (!task) Log_Fatal("%s:malloc error", "DecodeExecutor_NewTask");
    task->decode = executor->decode;
    task->handle = executor->handle;
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
            t_droppedQueues.insert(queue);
            queue->Pop(unread);
            break;
        }
        if (consumed == 0) break;
        queue->Pop(consumed < unread ? static_cast<uint32_t>(consumed) : unread);
    }
}

}  // namespace

void DecodeExecutor_DropQueued() { t_dropQueued = true; }

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
        delete task->queue;
        free(task);
        return;
    }
    if (task->queue && t_droppedQueues.count(task->queue) == 0) {
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
