#include "platform/LocalTime.h"

#include <sys/time.h>

#include <atomic>

static std::atomic<PlatformLocalTimeSource> g_timeSource{nullptr};

void Platform_ToLocalTime(time_t t, PlatformLocalTime* out)
{
    struct tm tmv;
    localtime_r(&t, &tmv);
    out->year = tmv.tm_year + 1900;
    out->month = tmv.tm_mon + 1;
    out->day = tmv.tm_mday;
    out->hour = tmv.tm_hour;
    out->minute = tmv.tm_min;
    out->second = tmv.tm_sec;
    out->millisecond = 0;
    out->weekday = tmv.tm_wday;
}

void Platform_GetLocalTime(PlatformLocalTime* out)
{
    PlatformLocalTimeSource source = g_timeSource.load(std::memory_order_acquire);
    if (source) {
        source(out);
        return;
    }
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    Platform_ToLocalTime(tv.tv_sec, out);
    out->millisecond = static_cast<int>(tv.tv_usec / 1000);
}

void Platform_SetLocalTimeSource(PlatformLocalTimeSource source)
{
    g_timeSource.store(source, std::memory_order_release);
}
