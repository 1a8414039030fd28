#include "caster/relay/AuthCentreQueue.h"

#include "caster/relay/AuthCentre.h"
#include "platform/SteadyClock.h"
#include "platform/Thread.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace {

struct Ask {
    const AuthCentreConfig* centre;
    std::string name;
    std::string password;
    std::string node;
    AuthCentreWanted wanted;
    AuthCentreAnswer answer;
};

// Made once and never freed: asks may be in flight while the process ends.
struct AskQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Ask> asks;
    bool started = false;
    bool stopping = false;  // AuthCentreQueue_Stop: no ask is taken any more
    PlatformThread* threads[AUTH_CENTRE_QUEUE_THREADS] = {};
};

AskQueue& Queue()
{
    static AskQueue* queue = new AskQueue();
    return *queue;
}

bool Stopping()
{
    AskQueue& q = Queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    return q.stopping;
}

// One ask: dropped when no longer wanted, else posted; *told is set just
// before its answer is called. An answer that comes after the stop is not
// acted on: the exit may be freeing what a login carried on would reach.
void Run(Ask& ask, bool* told)
{
    if (ask.wanted && !ask.wanted()) {
        *told = true;
        ask.answer(AUTH_CENTRE_NOT_ASKED, -1);
        return;
    }
    int result = AuthCentre::Post(ask.centre, ask.name.c_str(), ask.password.c_str(), ask.node.c_str());
    *told = true;
    if (Stopping()) {
        ask.answer(AUTH_CENTRE_STOPPED, -1);
        return;
    }
    ask.answer(AUTH_CENTRE_ANSWERED, result);
}

// What throws is logged and the thread goes on. An ask that threw before its
// answer was told is told it failed, so that its asker's state (a check in
// flight) is cleared all the same.
void Handle(Ask& ask)
{
    static const char* const kWhere = "AuthCentreQueue_Serve";
    bool told = false;
    try {
        Run(ask, &told);
    } catch (const std::exception& e) {
        Log_Error("%s:check of %s failed: %s", kWhere, LogText_Escape(ask.name.c_str()).c_str(), e.what());
    } catch (...) {
        Log_Error("%s:check of %s failed", kWhere, LogText_Escape(ask.name.c_str()).c_str());
    }
    if (told) return;
    try {
        ask.answer(AUTH_CENTRE_FAILED, -1);
    } catch (...) {
        Log_Error("%s:answer of %s failed", kWhere, LogText_Escape(ask.name.c_str()).c_str());
    }
}

unsigned Serve(void*)
{
    AskQueue& q = Queue();
    for (;;) {
        Ask ask;
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.wake.wait(lock, [&] { return q.stopping || !q.asks.empty(); });
            if (q.stopping) return 0;
            ask = std::move(q.asks.front());
            q.asks.pop_front();
        }
        try {
            Handle(ask);
        } catch (...) {
            // Even the log line failed (out of memory): go on all the same.
        }
    }
}

}  // namespace

void AuthCentreQueue_Ask(const AuthCentreConfig* centre, const std::string& name, const std::string& password,
                         const std::string& node, AuthCentreWanted wanted, AuthCentreAnswer answer)
{
    AskQueue& q = Queue();
    bool stopping;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        stopping = q.stopping;
        if (!stopping && q.asks.size() < AUTH_CENTRE_QUEUE_MAX) {
            if (!q.started) {
                q.started = true;
                for (int i = 0; i < AUTH_CENTRE_QUEUE_THREADS; ++i) {
                    bool ok = false;
                    q.threads[i] = Platform_BeginThread(Serve, nullptr, true, &ok);
                    if (!ok) Log_Error("%s:centre thread %d not started", "AuthCentreQueue_Ask", i);
                }
            }
            q.asks.push_back(Ask{centre, name, password, node, std::move(wanted), std::move(answer)});
            q.wake.notify_one();
            return;
        }
    }
    // Past the stop nobody is asked.
    if (stopping) {
        answer(AUTH_CENTRE_NOT_ASKED, -1);
        return;
    }
    Log_Warn("%s:%d checks wait already, refused", "AuthCentreQueue_Ask", static_cast<int>(AUTH_CENTRE_QUEUE_MAX));
    answer(AUTH_CENTRE_QUEUE_FULL, -1);
}

bool AuthCentreQueue_Stop(unsigned timeoutMs)
{
    AskQueue& q = Queue();
    std::deque<Ask> left;
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        q.stopping = true;
        left.swap(q.asks);
        q.wake.notify_all();
    }
    Log_Info("%s:no check is taken any more, %zu waiting are dropped unasked", "AuthCentreQueue_Stop", left.size());
    // Told with no lock held, as at a turn: they take the registries.
    for (Ask& ask : left) {
        try {
            ask.answer(AUTH_CENTRE_NOT_ASKED, -1);
        } catch (...) {
            Log_Error("%s:answer of %s failed", "AuthCentreQueue_Stop", LogText_Escape(ask.name.c_str()).c_str());
        }
    }
    int64_t end = Platform_SteadyNowMs() + timeoutMs;
    bool all = true;
    for (PlatformThread*& thread : q.threads) {
        if (!thread) continue;
        int64_t left = end - Platform_SteadyNowMs();
        if (Platform_JoinThreadWithin(thread, left > 0 ? static_cast<unsigned>(left) : 0)) {
            thread = nullptr;
        } else {
            all = false;
        }
    }
    return all;
}
