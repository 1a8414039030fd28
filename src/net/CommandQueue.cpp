#include "net/CommandQueue.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <new>

DecodingEvent* DecodingEvent_Alloc()
{
    DecodingEvent* event = static_cast<DecodingEvent*>(calloc(1, sizeof(DecodingEvent)));
    if (!event) Log_Fatal("%s:malloc error", "DecodingEvent_Alloc");
    return event;
}

void DecodingEvent_Free(DecodingEvent* event)
{
    if (!event) return;
    if (event->chain) CommonDataChain_Free(event->chain);
    SharedChunk_Release(event->payload);
    free(event);
}

CommandQueue* CommandQueue_Create()
{
    CommandQueue* queue = new (std::nothrow) CommandQueue;
    if (!queue) Log_Fatal("%s:malloc error", "CommandQueue_Create");
    queue->first = nullptr;
    queue->tail = &queue->first;
    queue->draining = false;
    return queue;
}

void CommandQueue_Free(CommandQueue* queue)
{
    if (!queue) return;
    DecodingEvent* event = queue->first;
    while (event) {
        DecodingEvent* next = event->next;
        DecodingEvent_Free(event);
        event = next;
    }
    delete queue;
}

void CommandQueue_Push(CommandQueue* queue, DecodingEvent* event)
{
    ScopedLock guard(queue->lock);
    event->next = nullptr;
    event->back = queue->tail;
    *queue->tail = event;
    queue->tail = &event->next;
}

uint32_t CommandQueue_Count(CommandQueue* queue)
{
    ScopedLock guard(queue->lock);
    uint32_t n = 0;
    for (DecodingEvent* e = queue->first; e; e = e->next) ++n;
    return n;
}

void CommandQueue_Drain(CommandQueue* queue, CommandQueueRunFn run, void* context)
{
    // Only one thread drains, so the flag needs no lock. A nested drain
    // would run the event the outer one is running a second time.
    if (queue->draining) return;
    queue->draining = true;

    DecodingEvent* event;
    {
        ScopedLock guard(queue->lock);
        event = queue->first;
    }
    while (event) {
        run(event, context);
        {
            ScopedLock guard(queue->lock);
            if (event->next) {
                event->next->back = event->back;
            } else {
                queue->tail = event->back;
            }
            *event->back = event->next;
        }
        DecodingEvent_Free(event);
        ScopedLock guard(queue->lock);
        event = queue->first;
    }
    queue->draining = false;
}
