#include "services/HttpPostThread.h"

#include "platform/Thread.h"
#include "runtime/Log.h"

#include <exception>

namespace {

// Pause between two passes, so a steady trickle of bodies goes out in
// batches rather than one wake-up each.
const unsigned PASS_GAP_MS = 50;

}  // namespace

HttpPostThread::HttpPostThread() : stop_(0), running_(0), paused_(0), wake_(0), thread_(nullptr) {}

HttpPostThread::~HttpPostThread() { Stop(); }

void HttpPostThread::SetUrl(const char* url)
{
    std::lock_guard<std::mutex> guard(mutex_);
    client_.Configure(url, HTTP_POST_CONNECT_TIMEOUT, HTTP_POST_TOTAL_TIMEOUT);
}

std::string HttpPostThread::GetUrl() { return client_.GetUrl(); }

void HttpPostThread::Pause()
{
    std::lock_guard<std::mutex> guard(mutex_);
    paused_ = 1;
    Log_Info("Pause post thread.");
    pauseChanged_.notify_all();
}

void HttpPostThread::Resume()
{
    std::lock_guard<std::mutex> guard(mutex_);
    paused_ = 0;
    Log_Info("Resume post thread.");
    pauseChanged_.notify_all();
}

bool HttpPostThread::IsPaused()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return paused_ != 0;
}

bool HttpPostThread::IsRunning()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return running_ != 0;
}

void HttpPostThread::Start()
{
    if (client_.GetUrl().empty()) return;
    std::lock_guard<std::mutex> guard(mutex_);
    if (running_) return;
    // A worker that was stopped has ended; collect it before starting anew.
    if (thread_) Platform_JoinThread(thread_);
    thread_ = nullptr;
    queue_.clear();
    stop_ = 0;
    running_ = 1;
    bool ok = false;
    thread_ = Platform_BeginThread(PostMsgThreadFuc, this, true, &ok);
    if (!ok) {
        running_ = 0;
        Log_Error("%s:cannot start the post thread", "HttpPostThread::Start");
    }
}

void HttpPostThread::Stop()
{
    PlatformThread* thread;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        thread = thread_;
        thread_ = nullptr;
        stop_ = 1;
        bodyAdded_.notify_all();
        pauseChanged_.notify_all();
    }
    if (thread) Platform_JoinThread(thread);
}

bool HttpPostThread::StopWithin(unsigned timeoutMs)
{
    PlatformThread* thread;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        thread = thread_;
        stop_ = 1;
        bodyAdded_.notify_all();
        pauseChanged_.notify_all();
    }
    if (!thread) return true;
    if (!Platform_JoinThreadWithin(thread, timeoutMs)) return false;
    std::lock_guard<std::mutex> guard(mutex_);
    if (thread_ == thread) thread_ = nullptr;
    return true;
}

void HttpPostThread::PushMsg(const std::string& body)
{
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back(body);
    wake_ = 1;
    bodyAdded_.notify_one();
}

size_t HttpPostThread::QueuedCount()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return queue_.size();
}

unsigned HttpPostThread::PostMsgThreadFuc(void* arg)
{
    HttpPostThread* self = static_cast<HttpPostThread*>(arg);
    // No exception may end the process from this thread; one that reaches
    // here (out of memory) ends the worker as a stop does, and the next
    // Start runs it again.
    try {
        self->Run();
    } catch (const std::exception& e) {
        Log_Error("%s:worker failed: %s", "HttpPostThread::PostMsgThreadFuc", e.what());
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->Exit();
    } catch (...) {
        Log_Error("%s:worker failed", "HttpPostThread::PostMsgThreadFuc");
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->Exit();
    }
    return 0;
}

void HttpPostThread::Run()
{
    Log_Info("Start PostMsgThreadFuc.");
    for (;;) {
        std::deque<std::string> pass;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            bodyAdded_.wait(lock, [this] { return !queue_.empty() || stop_; });
            if (stop_) return Exit();
            wake_ = 0;
            pass.swap(queue_);
        }
        for (const std::string& body : pass) {
            try {
                client_.Post(body.c_str());
            } catch (const std::exception& e) {
                Log_Error("%s:post failed: %s", "HttpPostThread::Run", e.what());  // dropped, as a failed post is
            }
        }

        std::unique_lock<std::mutex> lock(mutex_);
        if (stop_) return Exit();
        pauseChanged_.wait(lock, [this] { return !paused_ || stop_; });
        lock.unlock();
        Platform_Sleep(PASS_GAP_MS);
    }
}

void HttpPostThread::Exit()
{
    running_ = 0;
    Log_Info("Exit PostMsgThreadFuc.");
}
