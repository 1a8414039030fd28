// Waiting for a state, never for a set time: a condition polled until it
// holds, or one that other threads announce under a mutex. Each wait has a
// generous bound, so a failing test ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Polls done() every pollMs until it holds (true) or timeoutMs have passed
// (false). It is asked once more at the end, so a slow last poll still counts.
template <typename Done>
bool WaitFor(Done done, int timeoutMs, int pollMs = 20)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}

// Waits until done(), asked with the mutex held, is true; the threads that
// change its state notify changed. False when timeoutMs pass first.
template <typename Done>
bool WaitFor(std::mutex& mutex, std::condition_variable& changed, Done done, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}
