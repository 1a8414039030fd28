// The reaper: one thread that stops, joins and frees the decode frameworks
// whose owners must not wait for them (an event loop closing a connection).
#include "decoding/DecodeFramework.h"

#include "platform/Thread.h"
#include "runtime/Log.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace DFW {

namespace {

struct Retired {
    DecodeFramework* framework;
    void (*after)(void*);
    void* arg;
};

struct Reaper {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Retired> queue;  // under mutex
    size_t pending = 0;         // queued or being freed, under mutex
    bool stopping = false;      // under mutex
    bool stopped = false;       // under mutex: with stopping, Retire frees in place
    PlatformThread* thread = nullptr;
};

// Made at the first retire and kept for the life of the process, so that it
// outlives every static destructor that might still retire a framework.
Reaper* g_reaper = nullptr;
std::once_flag g_reaperOnce;

void Free(const Retired& item)
{
    DecodeFramework* framework = item.framework;
    DecodeFramework_Destroy(&framework);
    if (item.after) item.after(item.arg);
}

unsigned ReaperMain(void*)
{
    Reaper* reaper = g_reaper;
    std::unique_lock<std::mutex> guard(reaper->mutex);
    for (;;) {
        reaper->wake.wait(guard, [reaper] { return reaper->stopping || !reaper->queue.empty(); });
        if (reaper->queue.empty()) return 0;  // stopping, and everything is freed
        Retired item = reaper->queue.front();
        reaper->queue.pop_front();
        guard.unlock();
        Free(item);
        guard.lock();
        --reaper->pending;
    }
}

void StartReaper()
{
    g_reaper = new Reaper();
    bool ok = false;
    g_reaper->thread = Platform_BeginThread(ReaperMain, nullptr, true, &ok);
    if (!ok) {
        g_reaper->thread = nullptr;
        g_reaper->stopped = true;
        Log_Error("%s:cannot start the reaper thread; frameworks are freed in place", "DFW::DecodeFramework_Retire");
        return;
    }
    atexit(DecodeFramework_StopReaper);
}

}  // namespace

void DecodeFramework_Retire(DecodeFramework* framework, void (*after)(void*), void* arg)
{
    std::call_once(g_reaperOnce, StartReaper);
    Retired item = {framework, after, arg};
    {
        std::lock_guard<std::mutex> guard(g_reaper->mutex);
        if (!g_reaper->stopping && !g_reaper->stopped) {
            g_reaper->queue.push_back(item);
            ++g_reaper->pending;
            g_reaper->wake.notify_one();
            return;
        }
    }
    Free(item);
}

size_t DecodeFramework_RetiredPending()
{
    if (!g_reaper) return 0;
    std::lock_guard<std::mutex> guard(g_reaper->mutex);
    return g_reaper->pending;
}

void DecodeFramework_StopReaper()
{
    if (!g_reaper) return;
    PlatformThread* thread;
    {
        std::lock_guard<std::mutex> guard(g_reaper->mutex);
        if (g_reaper->stopped || g_reaper->stopping) return;
        g_reaper->stopping = true;
        thread = g_reaper->thread;
        g_reaper->thread = nullptr;
        g_reaper->wake.notify_one();
    }
    // The reaper empties its queue before it ends.
    if (thread) Platform_JoinThread(thread);
    std::lock_guard<std::mutex> guard(g_reaper->mutex);
    g_reaper->stopped = true;
}

}  // namespace DFW
