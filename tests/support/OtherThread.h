// Runs work on a thread of its own and tells whether it ended within the
// bound: for tests that a lock this thread holds does not hold that work up.
// A thread still waiting at the bound is detached: the test has failed by
// then and the process ends with it.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <thread>

inline bool FinishesOnOtherThread(const std::function<void()>& work,
                                  std::chrono::milliseconds bound = std::chrono::seconds(5))
{
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread other(std::move(task));
    if (done.wait_for(bound) != std::future_status::ready) {
        other.detach();
        return false;
    }
    other.join();
    return true;
}
