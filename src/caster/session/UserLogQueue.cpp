#include "caster/session/UserLogQueue.h"

#include "caster/session/UserLog.h"
#include "platform/LocalTime.h"
#include "runtime/Log.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

const int USER_LOG_RELEASE = -1;  // an entry that frees a user's writer

struct Entry {
    int mode;
    PlatformLocalTime at;
    std::string user;
    std::string text;
};

// Made once and never freed: rovers still log while the process ends.
struct UserLogState {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::deque<Entry> entries;
    size_t bytes = 0;  // queued and not yet done, counted against the cap
    uint64_t queued = 0;  // entries, releases too
    uint64_t done = 0;
    uint64_t linesQueued = 0;  // lines alone, for what a flush left behind
    uint64_t linesDone = 0;
    uint64_t dropped = 0;
    bool running = false;
    std::string root;
};

UserLogState& State()
{
    static UserLogState* state = new UserLogState();
    return *state;
}

void Run()
{
    UserLogState& s = State();
    std::string root;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        root = s.root;
    }
    std::unique_ptr<LogToFile> general;
    std::map<std::string, std::unique_ptr<LogToFile>> users;
    std::deque<Entry> batch;
    for (;;) {
        uint64_t dropped = 0;
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            s.wake.wait(lock, [&] { return !s.entries.empty() || s.dropped > 0; });
            batch.swap(s.entries);
            dropped = s.dropped;
            s.dropped = 0;
        }
        if (dropped > 0) {
            Log_Warn("UserLogQueue:%llu user log lines dropped, the user log fell behind",
                     static_cast<unsigned long long>(dropped));
        }
        size_t bytes = 0;
        uint64_t lines = 0;
        for (const Entry& e : batch) {
            bytes += e.text.size() + e.user.size();
            if (e.mode != USER_LOG_RELEASE) ++lines;
            // No exception may end this thread (or the process): a line the
            // writers throw on (out of memory) is dropped and logged.
            try {
                if (e.mode == USER_LOG_RELEASE) {
                    if (users.erase(e.user) > 0) {
                        Log_Debug("UserLogQueue:user writer freed, %zu left", users.size());
                    }
                } else if (e.mode == LOG_TO_FILE_GENERAL) {
                    if (!general) general.reset(root.empty() ? new LogToFile() : new LogToFile(root.c_str()));
                    general->Write(e.text.c_str(), LOG_TO_FILE_GENERAL, "", e.at);
                } else {
                    std::unique_ptr<LogToFile>& writer = users[e.user];
                    if (!writer) writer.reset(root.empty() ? new LogToFile() : new LogToFile(root.c_str()));
                    writer->Write(e.text.c_str(), LOG_TO_FILE_USER, e.user.c_str(), e.at);
                }
            } catch (const std::exception& ex) {
                Log_Error("%s:user log entry dropped: %s", "UserLogQueue_Run", ex.what());
            }
        }
        std::lock_guard<std::mutex> lock(s.mutex);
        s.bytes -= bytes;
        s.done += batch.size();
        s.linesDone += lines;
        s.drained.notify_all();
        batch.clear();
    }
}

void Queue(int mode, const char* userName, const char* text)
{
    Entry e{mode, PlatformLocalTime(), userName ? userName : "", text ? text : ""};
    if (mode != USER_LOG_RELEASE) Platform_GetLocalTime(&e.at);
    size_t size = e.text.size() + e.user.size();
    UserLogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    // A release is never dropped: a writer kept by mistake is memory for good.
    if (mode != USER_LOG_RELEASE && s.bytes + size > USER_LOG_QUEUE_CAP) {
        ++s.dropped;
        s.wake.notify_one();
        return;
    }
    if (!s.running) {
        s.running = true;
        std::thread(Run).detach();
    }
    s.entries.push_back(std::move(e));
    s.bytes += size;
    ++s.queued;
    if (mode != USER_LOG_RELEASE) ++s.linesQueued;
    s.wake.notify_one();
}

}  // namespace

void UserLogQueue_Post(int mode, const char* userName, const char* text)
{
    if (mode != LOG_TO_FILE_GENERAL && mode != LOG_TO_FILE_USER) return;
    Queue(mode, userName, text);
}

void UserLogQueue_Release(const char* userName) { Queue(USER_LOG_RELEASE, userName, ""); }

bool UserLogQueue_Flush(int timeoutMs, uint64_t* linesLeft)
{
    UserLogState& s = State();
    std::unique_lock<std::mutex> lock(s.mutex);
    uint64_t target = s.queued;
    uint64_t linesTarget = s.linesQueued;
    auto done = [&] { return s.done >= target; };
    bool flushed = true;
    if (timeoutMs < 0) {
        s.drained.wait(lock, done);
    } else {
        flushed = s.drained.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    // The thread works in order: every line done beyond the target came after it.
    if (linesLeft) *linesLeft = s.linesDone >= linesTarget ? 0 : linesTarget - s.linesDone;
    return flushed;
}

void UserLogQueue_SetRoot(const char* dir)
{
    UserLogState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.running) s.root = dir ? dir : "";
}
