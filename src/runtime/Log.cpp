#include "runtime/Log.h"

#include "platform/Thread.h"
#include "runtime/LogText.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct LogState {
    FILE* stream = nullptr;
    char prefix[256] = {0};
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

LogState g_log;
std::mutex g_logMutex;  // the file and its state

// One message, made one line by Log_Write, waiting for the writer thread.
struct PendingLine {
    int level;
    long tid;
    PlatformLocalTime at;
    std::string message;
};

// The writer thread's queue. Made once and never freed: threads still log
// while the process ends.
struct LogQueue {
    std::mutex mutex;
    std::condition_variable wake;     // lines arrived
    std::condition_variable drained;  // lines written
    std::deque<PendingLine> lines;
    size_t bytes = 0;
    uint64_t queued = 0;   // lines ever queued
    uint64_t written = 0;  // lines ever written (or given up)
    uint64_t dropped = 0;  // lines refused since the last report
    bool running = false;
    pid_t pid = 0;  // the process the writer runs in: a forked child has none
};

LogQueue& Queue()
{
    static LogQueue* queue = new LogQueue();
    return *queue;
}

// Opens for reading and writing at the end of the file. Not "a": in append
// mode every write goes to the end, so the rewind at the size cap would never
// take effect and the file would grow without bound.
FILE* OpenLogFile(const char* name)
{
    int fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "r+");
    if (!f) {
        close(fd);
        return nullptr;
    }
    fseek(f, 0, SEEK_END);
    return f;
}

void RememberTime(const PlatformLocalTime* t)
{
    g_log.year = t->year;
    g_log.month = t->month;
    g_log.day = t->day;
    g_log.hour = t->hour;
    g_log.minute = t->minute;
    g_log.second = t->second;
    g_log.millisecond = t->millisecond;
}

void RewindAtCap()
{
    if (g_log.stream && ftell(g_log.stream) >= LOG_FILE_CAP) rewind(g_log.stream);
}

const char* LevelWord(int level)
{
    switch (level) {
    case LOG_LEVEL_DEBUG: return "debug";
    case LOG_LEVEL_INFO: return "info";
    case LOG_LEVEL_WARN: return "warn";
    case LOG_LEVEL_ERR: return "err";
    default: return "???";
    }
}

void FormatAndWrite(int level, const char* format, va_list ap)
{
    char buffer[LOG_MESSAGE_SIZE];
    buffer[0] = '\0';
    if (format) vsnprintf(buffer, sizeof(buffer), format, ap);
    Log_Write(level, buffer);
}

}  // namespace

int Log_Init(const char* prefix)
{
    if (!prefix || strlen(prefix) > 255) return -1;

    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    char name[512];
    snprintf(name, sizeof(name), "%s_%04d-%02d-%02d.log", prefix, now.year, now.month, now.day);

    // Lines written before go where they were meant to go, the old file.
    Log_Flush();
    std::lock_guard<std::mutex> guard(g_logMutex);
    // A line written before the log was opened may have opened a file already.
    if (g_log.stream) {
        fclose(g_log.stream);
        g_log.stream = nullptr;
    }
    memset(g_log.prefix, 0, sizeof(g_log.prefix));
    memcpy(g_log.prefix, prefix, strlen(prefix));
    RememberTime(&now);

    g_log.stream = OpenLogFile(name);
    if (!g_log.stream) return -1;
    fprintf(g_log.stream, "%02d:%02d:%02d.%03d:Log Init OK\n", now.hour, now.minute, now.second,
            now.millisecond);
    fflush(g_log.stream);
    return 0;
}

int Log_RollDay(const PlatformLocalTime* now)
{
    if (now->year == g_log.year && now->month == g_log.month && now->day == g_log.day) {
        RewindAtCap();
        return 0;
    }
    if (g_log.stream) {
        fclose(g_log.stream);
        g_log.stream = nullptr;
    }
    char name[512];
    snprintf(name, sizeof(name), "%s_%04d-%02d-%02d", g_log.prefix, now->year, now->month, now->day);
    g_log.stream = OpenLogFile(name);
    if (!g_log.stream) return -1;
    RememberTime(now);
    fprintf(g_log.stream, "%02d:%02d:%02d.%03d: Init OK\n", now->hour, now->minute, now->second,
            now->millisecond);
    fflush(g_log.stream);
    RewindAtCap();
    return 0;
}

namespace {

// One line into the file at its own time; the caller holds g_logMutex.
void WriteLine(int level, long tid, const PlatformLocalTime& now, const char* message, bool flush)
{
    const char* word = LevelWord(level);
    Log_RollDay(&now);
    if (!g_log.stream) {
        fprintf(stderr, "%02d:%02d:%02d.%03d:[%s] %s\n", now.hour, now.minute, now.second,
                now.millisecond, word, message);
        return;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) Platform_Sleep(1);
        clearerr(g_log.stream);
        int n = fprintf(g_log.stream, "thread:%ld %02d:%02d:%02d.%03d:[%s] %s\n", tid, now.hour,
                        now.minute, now.second, now.millisecond, word, message);
        if (n >= 0 && !ferror(g_log.stream)) break;
    }
    if (flush) fflush(g_log.stream);
}

bool WriterRuns(LogQueue& q) { return q.running && q.pid == getpid(); }

void WriterThread()
{
    LogQueue& q = Queue();
    std::deque<PendingLine> batch;
    for (;;) {
        uint64_t dropped = 0;
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.wake.wait(lock, [&] { return !q.lines.empty() || q.dropped > 0; });
            batch.swap(q.lines);
            dropped = q.dropped;
            q.dropped = 0;
        }
        {
            std::lock_guard<std::mutex> guard(g_logMutex);
            for (const PendingLine& line : batch) WriteLine(line.level, line.tid, line.at, line.message.c_str(), false);
            if (dropped > 0) {
                PlatformLocalTime now;
                Platform_GetLocalTime(&now);
                char text[128];
                snprintf(text, sizeof(text), "Log_Write:%llu lines dropped, the log file fell behind",
                         static_cast<unsigned long long>(dropped));
                WriteLine(LOG_LEVEL_WARN, Platform_ThreadId(), now, text, false);
            }
            if (g_log.stream) fflush(g_log.stream);
        }
        {
            std::lock_guard<std::mutex> lock(q.mutex);
            // Taken off the count only now: lines the writer holds still
            // count against the cap.
            for (const PendingLine& line : batch) q.bytes -= line.message.size();
            q.written += batch.size();
            q.drained.notify_all();
        }
        batch.clear();
    }
}

// A fork while another thread holds a log lock would leave the child a
// lock nobody releases: both are held across the fork.
void BeforeFork()
{
    Queue().mutex.lock();
    g_logMutex.lock();
}

void AfterForkInParent()
{
    g_logMutex.unlock();
    Queue().mutex.unlock();
}

void AfterForkInChild()
{
    LogQueue& q = Queue();
    // The child has no writer: its lines are written by their callers, and
    // the parent's waiting lines stay the parent's.
    q.running = false;
    q.lines.clear();
    q.bytes = 0;  // what the parent's writer held is not the child's
    q.written = q.queued;
    g_logMutex.unlock();
    q.mutex.unlock();
}

}  // namespace

void Log_StartWriter()
{
    LogQueue& q = Queue();
    std::lock_guard<std::mutex> lock(q.mutex);
    if (WriterRuns(q)) return;
    static bool forkHandlers = false;
    if (!forkHandlers) {
        pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
        forkHandlers = true;
    }
    q.running = true;
    q.pid = getpid();
    std::thread(WriterThread).detach();
}

bool Log_Flush(int timeoutMs)
{
    LogQueue& q = Queue();
    {
        std::unique_lock<std::mutex> lock(q.mutex);
        if (WriterRuns(q)) {
            uint64_t target = q.queued;
            auto done = [&] { return q.written >= target; };
            if (timeoutMs < 0) {
                q.drained.wait(lock, done);
                return true;
            }
            return q.drained.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
        }
    }
    std::lock_guard<std::mutex> guard(g_logMutex);
    if (g_log.stream) fflush(g_log.stream);
    return true;
}

void Log_Write(int level, const char* message)
{
    // Made one line here, for every caller alike: however a message was
    // formatted, a CR or LF in it (a peer's name, say) cannot end the line.
    std::string line = LogText_Line(message);
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    long tid = Platform_ThreadId();

    LogQueue& q = Queue();
    {
        std::lock_guard<std::mutex> lock(q.mutex);
        if (WriterRuns(q)) {
            size_t length = line.size();
            if (q.bytes + length > LOG_QUEUE_CAP) {
                ++q.dropped;
                return;
            }
            q.lines.push_back(PendingLine{level, tid, now, std::move(line)});
            q.bytes += length;
            ++q.queued;
            q.wake.notify_one();
            return;
        }
    }
    std::lock_guard<std::mutex> guard(g_logMutex);
    WriteLine(level, tid, now, line.c_str(), true);
}

void Log_Debug(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    FormatAndWrite(LOG_LEVEL_DEBUG, format, ap);
    va_end(ap);
}

void Log_Info(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    FormatAndWrite(LOG_LEVEL_INFO, format, ap);
    va_end(ap);
}

void Log_Warn(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    FormatAndWrite(LOG_LEVEL_WARN, format, ap);
    va_end(ap);
}

void Log_Error(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    FormatAndWrite(LOG_LEVEL_ERR, format, ap);
    va_end(ap);
}

void Log_Fatal(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    FormatAndWrite(LOG_LEVEL_ERR, format, ap);
    va_end(ap);
    // The reason must reach the file before the process ends; a disk that
    // never answers must not keep it from ending.
    Log_Flush(2000);
    abort();
}
