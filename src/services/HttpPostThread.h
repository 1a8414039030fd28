// The alarm-post worker: a queue of JSON bodies and one thread that POSTs
// them, in the order they were queued, each once, to the url of the warning
// configuration. It can be paused and resumed. The worker looks at the pause
// at the end of each pass: a pass in progress, or the one a waiting worker is
// waiting for, still goes out, and the passes after it wait for Resume.
//
// The worker takes the whole queue for a pass under its mutex and posts it
// with the mutex released, so a producer, Pause, Resume or SetUrl never wait
// for a slow or silent endpoint. A failed post is dropped; the queue still
// advances. Lock order: the worker's mutex, then the client's locks.
#pragma once

#include "services/HttpPostClient.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

struct PlatformThread;

// Time-outs of every post, seconds.
enum { HTTP_POST_CONNECT_TIMEOUT = 5, HTTP_POST_TOTAL_TIMEOUT = 5 };

class HttpPostThread {
public:
    HttpPostThread();
    // Stops the worker and waits for it.
    ~HttpPostThread();
    HttpPostThread(const HttpPostThread&) = delete;
    HttpPostThread& operator=(const HttpPostThread&) = delete;

    // Points the client at url, 5 s to connect and 5 s in all.
    void SetUrl(const char* url);
    std::string GetUrl();

    // Hold and release the passes after the current one ("Pause post
    // thread.", "Resume post thread." in the log).
    void Pause();
    void Resume();
    bool IsPaused();
    bool IsRunning();

    // Starts the worker unless the url is empty or it is running: empties the
    // queue first. It does not touch the pause: a worker started while paused
    // posts its first pass and then waits for Resume.
    void Start();

    // Ends the worker after the pass in progress and waits until it has gone;
    // bodies not yet taken stay queued. Nothing when it is not running.
    void Stop();
    // Stop, waiting at most timeoutMs: a pass of many bodies to a silent
    // endpoint takes their time-outs one after another. True when the worker
    // has gone (or was not running); false when it is still posting.
    bool StopWithin(unsigned timeoutMs);

    // Queues one body and wakes the worker.
    void PushMsg(const std::string& body);
    size_t QueuedCount();

private:
    static unsigned PostMsgThreadFuc(void* arg);
    void Run();
    // The worker's last step, with the mutex held.
    void Exit();

    uint8_t stop_;     // the worker ends when it finds this after a pass
    uint8_t running_;  // 1 while the worker thread runs
    HttpPostClient client_;
    std::deque<std::string> queue_;
    uint8_t paused_;
    uint8_t wake_;  // set by PushMsg, cleared when the worker takes the queue
    PlatformThread* thread_;  // joined by Stop, or by the next Start
    std::mutex mutex_;        // the queue, the flags and thread_
    std::condition_variable pauseChanged_;
    std::condition_variable bodyAdded_;
};
