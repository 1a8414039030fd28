#include "net/EventLoop.h"

#include "runtime/Log.h"

#include <event2/event.h>
#include <event2/thread.h>
#include <event2/util.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace {

// The additions of one base. Lives from EventLoop_NewBase to EventLoop_FreeBase.
struct BaseExtension {
    struct event_base* base = nullptr;
    evutil_socket_t pair[2] = {-1, -1};
    struct event* idle = nullptr;    // persistent read on pair[1]: keeps the loop from running dry
    struct event* notify = nullptr;  // activated by event_base_notify
    EventLoopHook hook = nullptr;
    void* hookArg = nullptr;
    std::atomic<bool> stop{false};
};

// Both side tables are library state, not the system's: one entry per live
// base or tagged connection. Lock order: these mutexes, then the base's own
// lock (event_active takes it).
std::mutex g_basesMutex;
std::unordered_map<struct event_base*, BaseExtension*> g_bases;

std::mutex g_tagsMutex;
std::unordered_map<const struct bufferevent*, uint64_t> g_tags;

void DiscardWakeBytes(evutil_socket_t fd, short, void*)
{
    char scratch[128];
    (void)recv(fd, scratch, sizeof(scratch), 0);
}

// Nothing to do here: being run makes the iteration count as one that
// processed an event, so EVLOOP_ONCE returns and the hook runs.
void NotifyCallback(evutil_socket_t, short, void*) {}

BaseExtension* FindLocked(struct event_base* base)
{
    auto it = g_bases.find(base);
    return it == g_bases.end() ? nullptr : it->second;
}

void RunHook(BaseExtension* ext)
{
    EventLoopHook hook;
    void* arg;
    {
        std::lock_guard<std::mutex> guard(g_basesMutex);
        hook = ext->hook;
        arg = ext->hookArg;
    }
    if (hook) hook(ext->base, arg);
}

}  // namespace

void EventLoop_UseThreads()
{
    static std::once_flag once;
    std::call_once(once, [] { evthread_use_pthreads(); });
}

struct event_base* EventLoop_NewBase()
{
    EventLoop_UseThreads();
    struct event_base* base = event_base_new();
    if (!base) return nullptr;
    // Made notifiable by event_base_new already once threads are on; asking
    // again is harmless and covers a library built otherwise.
    evthread_make_base_notifiable(base);

    BaseExtension* ext = new BaseExtension;
    ext->base = base;
    if (evutil_socketpair(AF_UNIX, SOCK_STREAM, 0, ext->pair) != 0) {
        Log_Fatal("%s: Unable to create socket pair", "event_base_new");
    }
    evutil_make_socket_nonblocking(ext->pair[0]);
    evutil_make_socket_nonblocking(ext->pair[1]);
    evutil_make_socket_closeonexec(ext->pair[0]);
    evutil_make_socket_closeonexec(ext->pair[1]);
    ext->idle = event_new(base, ext->pair[1], EV_READ | EV_PERSIST, DiscardWakeBytes, nullptr);
    ext->notify = event_new(base, -1, 0, NotifyCallback, nullptr);
    if (!ext->idle || !ext->notify || event_add(ext->idle, nullptr) != 0) {
        if (ext->idle) event_free(ext->idle);
        if (ext->notify) event_free(ext->notify);
        evutil_closesocket(ext->pair[0]);
        evutil_closesocket(ext->pair[1]);
        delete ext;
        event_base_free(base);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_basesMutex);
    g_bases[base] = ext;
    return base;
}

void EventLoop_FreeBase(struct event_base* base)
{
    if (!base) return;
    BaseExtension* ext = nullptr;
    {
        // Once out of the table no notify can reach the base any more: a
        // notify in progress holds the mutex until its event_active is done.
        std::lock_guard<std::mutex> guard(g_basesMutex);
        ext = FindLocked(base);
        if (ext) g_bases.erase(base);
    }
    if (ext) {
        event_free(ext->idle);
        event_free(ext->notify);
        evutil_closesocket(ext->pair[0]);
        evutil_closesocket(ext->pair[1]);
        delete ext;
    }
    event_base_free(base);
}

int EventLoop_Dispatch(struct event_base* base)
{
    BaseExtension* ext;
    {
        std::lock_guard<std::mutex> guard(g_basesMutex);
        ext = FindLocked(base);
    }
    if (!ext) return event_base_dispatch(base);

    // Work queued before the loop started (posts made before the base
    // existed) runs before the first wait.
    RunHook(ext);
    while (!ext->stop.load()) {
        int result = event_base_loop(base, EVLOOP_ONCE);
        RunHook(ext);
        if (result < 0) return -1;
        if (event_base_got_break(base) || event_base_got_exit(base)) break;
        // 1 means nothing was pending; the idle event makes that impossible
        // unless someone removed it. Stop rather than spin.
        if (result == 1) break;
    }
    ext->stop.store(false);
    return 0;
}

int EventLoop_Break(struct event_base* base)
{
    std::lock_guard<std::mutex> guard(g_basesMutex);
    BaseExtension* ext = FindLocked(base);
    if (!ext) return -1;
    ext->stop.store(true);
    // The flag ends the loop even when the break falls between two
    // iterations (event_base_loop clears its own break flag on entry); the
    // activation wakes a loop that is waiting.
    event_base_loopbreak(base);
    event_active(ext->notify, EV_READ, 0);
    return 0;
}

int event_base_set_loop_hook(struct event_base* base, EventLoopHook hook, void* arg)
{
    std::lock_guard<std::mutex> guard(g_basesMutex);
    BaseExtension* ext = FindLocked(base);
    if (!ext) return -1;
    ext->hook = hook;
    ext->hookArg = arg;
    return 0;
}

int event_base_notify(struct event_base* base)
{
    std::lock_guard<std::mutex> guard(g_basesMutex);
    BaseExtension* ext = FindLocked(base);
    if (!ext) return -1;
    // Activating an event that is already active changes nothing, so many
    // posts between two iterations cost one wake-up.
    event_active(ext->notify, EV_READ, 0);
    return 0;
}

void bufferevent_set_tag(struct bufferevent* bev, uint64_t tag)
{
    if (!bev) return;
    std::lock_guard<std::mutex> guard(g_tagsMutex);
    if (tag == 0) {
        g_tags.erase(bev);
    } else {
        g_tags[bev] = tag;
    }
}

uint64_t bufferevent_get_tag(struct bufferevent* bev)
{
    std::lock_guard<std::mutex> guard(g_tagsMutex);
    auto it = g_tags.find(bev);
    return it == g_tags.end() ? 0 : it->second;
}

void bufferevent_clear_tag(struct bufferevent* bev)
{
    std::lock_guard<std::mutex> guard(g_tagsMutex);
    g_tags.erase(bev);
}
