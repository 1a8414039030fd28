#include "platform/SteadyClock.h"

#include <time.h>

#include <atomic>

static std::atomic<PlatformSteadyClockSource> g_steadySource{nullptr};

int64_t Platform_SteadyNowMs()
{
    PlatformSteadyClockSource source = g_steadySource.load(std::memory_order_acquire);
    if (source) return source();
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Platform_SetSteadyClockSource(PlatformSteadyClockSource source)
{
    g_steadySource.store(source, std::memory_order_release);
}
