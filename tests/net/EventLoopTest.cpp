#include "net/EventLoop.h"

#include <event2/bufferevent.h>
#include <event2/event.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 3000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<bool> breakAtFirst{false};
};

void CountingHook(struct event_base* base, void* arg)
{
    Counter* c = static_cast<Counter*>(arg);
    if (c->calls.fetch_add(1) == 0 && c->breakAtFirst.load()) EventLoop_Break(base);
}

}  // namespace

TEST(EventLoop, ABaseWithNothingPendingRunsUntilBroken)
{
    struct event_base* base = EventLoop_NewBase();
    ASSERT_NE(nullptr, base);
    std::atomic<bool> returned{false};
    std::thread loop([&] {
        EXPECT_EQ(0, EventLoop_Dispatch(base));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(0, EventLoop_Break(base));
    loop.join();
    EXPECT_TRUE(returned.load());
    EventLoop_FreeBase(base);
}

TEST(EventLoop, TheHookRunsAfterEveryIterationAlsoOneWokenOnlyByNotify)
{
    struct event_base* base = EventLoop_NewBase();
    Counter counter;
    ASSERT_EQ(0, event_base_set_loop_hook(base, CountingHook, &counter));
    std::thread loop([&] { EventLoop_Dispatch(base); });
    ASSERT_TRUE(WaitUntil([&] { return counter.calls.load() >= 1; }));  // the call before the first wait
    for (int i = 0; i < 20; ++i) {
        int before = counter.calls.load();
        ASSERT_EQ(0, event_base_notify(base));
        ASSERT_TRUE(WaitUntil([&] { return counter.calls.load() > before; })) << i;
    }
    // A replaced hook is the only one called.
    Counter second;
    event_base_set_loop_hook(base, CountingHook, &second);
    int firstCalls = counter.calls.load();
    event_base_notify(base);
    ASSERT_TRUE(WaitUntil([&] { return second.calls.load() >= 1; }));
    EXPECT_EQ(firstCalls, counter.calls.load());
    EventLoop_Break(base);
    loop.join();
    EventLoop_FreeBase(base);
}

// A break asked for between two iterations (here from the hook) must not be
// lost: event_base_loop forgets its own break flag when it is entered.
TEST(EventLoop, ABreakBetweenIterationsEndsTheLoop)
{
    struct event_base* base = EventLoop_NewBase();
    Counter counter;
    counter.breakAtFirst = true;
    event_base_set_loop_hook(base, CountingHook, &counter);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, EventLoop_Dispatch(base));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EventLoop_FreeBase(base);
}

TEST(EventLoop, NotifyAndHookNeedABaseOfOurs)
{
    struct event_base* plain = event_base_new();
    EXPECT_EQ(-1, event_base_notify(plain));
    EXPECT_EQ(-1, event_base_set_loop_hook(plain, CountingHook, nullptr));
    EXPECT_EQ(-1, EventLoop_Break(plain));
    event_base_free(plain);
}

TEST(EventLoop, ATagIsZeroUntilSetAndKeepsItsValue)
{
    struct event_base* base = EventLoop_NewBase();
    struct bufferevent* a = bufferevent_socket_new(base, -1, 0);
    struct bufferevent* b = bufferevent_socket_new(base, -1, 0);
    EXPECT_EQ(0u, bufferevent_get_tag(a));
    const uint64_t big = (uint64_t(1) << 40) + 7;
    bufferevent_set_tag(a, big);
    EXPECT_EQ(big, bufferevent_get_tag(a));
    EXPECT_EQ(0u, bufferevent_get_tag(b));
    bufferevent_set_tag(a, 5);
    EXPECT_EQ(5u, bufferevent_get_tag(a));
    bufferevent_clear_tag(a);
    EXPECT_EQ(0u, bufferevent_get_tag(a));
    bufferevent_free(a);
    bufferevent_free(b);
    EventLoop_FreeBase(base);
}
