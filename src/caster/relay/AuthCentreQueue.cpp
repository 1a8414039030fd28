#include "caster/relay/AuthCentreQueue.h"

#include "caster/relay/AuthCentre.h"
#include "runtime/Log.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

struct Ask {
    const AuthCentreConfig* centre;
    std::string name;
    std::string password;
    std::string node;
    std::function<void(int)> answer;
};

// Made once and never freed: asks may be in flight while the process ends.
struct AskQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Ask> asks;
    bool started = false;
};

AskQueue& Queue()
{
    static AskQueue* queue = new AskQueue();
    return *queue;
}

void Serve()
{
    AskQueue& q = Queue();
    for (;;) {
        Ask ask;
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.wake.wait(lock, [&] { return !q.asks.empty(); });
            ask = std::move(q.asks.front());
            q.asks.pop_front();
        }
        int result = AuthCentre::Post(ask.centre, ask.name.c_str(), ask.password.c_str(), ask.node.c_str());
        ask.answer(result);
    }
}

}  // namespace

void AuthCentreQueue_Ask(const AuthCentreConfig* centre, const std::string& name, const std::string& password,
                         const std::string& node, std::function<void(int)> answer)
{
    AskQueue& q = Queue();
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (q.asks.size() < AUTH_CENTRE_QUEUE_MAX) {
            if (!q.started) {
                q.started = true;
                for (int i = 0; i < AUTH_CENTRE_QUEUE_THREADS; ++i) std::thread(Serve).detach();
            }
            q.asks.push_back(Ask{centre, name, password, node, std::move(answer)});
            q.wake.notify_one();
            return;
        }
    }
    Log_Warn("%s:%d checks wait already, refused", "AuthCentreQueue_Ask", static_cast<int>(AUTH_CENTRE_QUEUE_MAX));
    answer(-1);
}
