// Runs a piece of a test on a server's loop thread, for what only that thread
// may touch (its DNS base, its connections), and waits for it to be done.
#pragma once

#include "net/NHServer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// Runs fn on the loop thread and waits for it; false when it did not finish
// within timeoutMs.
template <typename F>
bool OnLoop(NHServer* server, F fn, int timeoutMs = 3000)
{
    struct Job {
        explicit Job(F f) : fn(f) {}
        F fn;
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    } job(fn);
    NHServer_PostCall(server, [](void* arg) {
        Job* j = static_cast<Job*>(arg);
        j->fn();
        std::lock_guard<std::mutex> guard(j->mutex);
        j->finished = true;
        j->done.notify_all();
    }, &job);
    std::unique_lock<std::mutex> lock(job.mutex);
    return job.done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return job.finished; });
}
