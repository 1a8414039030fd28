#include "runtime/Log.h"

#include "platform/Thread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

struct LogState {
    FILE* stream = nullptr;
    char prefix[256] = {0};
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

LogState g_log;
std::mutex g_logMutex;

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

void Log_Write(int level, const char* message)
{
    const char* word = LevelWord(level);
    if (!message) message = "";
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);

    std::lock_guard<std::mutex> guard(g_logMutex);
    Log_RollDay(&now);
    if (!g_log.stream) {
        fprintf(stderr, "%02d:%02d:%02d.%03d:[%s] %s\n", now.hour, now.minute, now.second,
                now.millisecond, word, message);
        return;
    }
    long tid = Platform_ThreadId();
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) Platform_Sleep(1);
        clearerr(g_log.stream);
        int n = fprintf(g_log.stream, "thread:%ld %02d:%02d:%02d.%03d:[%s] %s\n", tid, now.hour,
                        now.minute, now.second, now.millisecond, word, message);
        if (n >= 0 && !ferror(g_log.stream)) break;
    }
    fflush(g_log.stream);
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
    abort();
}
