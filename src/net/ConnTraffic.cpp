#include "net/ConnTraffic.h"

#include "platform/SteadyClock.h"
#include "runtime/Log.h"

#include <ctime>
#include <new>

ConnTraffic* ConnTraffic_New(int64_t sinceMs, int64_t sinceS)
{
    ConnTraffic* traffic = new (std::nothrow) ConnTraffic;
    if (!traffic) Log_Fatal("%s:malloc error", "ConnTraffic_New");
    traffic->refs.store(1, std::memory_order_relaxed);
    traffic->counting.store(false, std::memory_order_relaxed);
    traffic->bytesSent.store(0, std::memory_order_relaxed);
    traffic->outputRate.store(0, std::memory_order_relaxed);
    traffic->lastWriteMs.store(sinceMs, std::memory_order_relaxed);
    traffic->lastWriteS.store(sinceS, std::memory_order_relaxed);
    return traffic;
}

void ConnTraffic_Retain(ConnTraffic* traffic)
{
    if (traffic) traffic->refs.fetch_add(1, std::memory_order_relaxed);
}

void ConnTraffic_Release(ConnTraffic* traffic)
{
    if (traffic && traffic->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete traffic;
}

void ConnTraffic_StartCounting(ConnTraffic* traffic)
{
    if (traffic) traffic->counting.store(true, std::memory_order_release);
}

ConnTrafficFigures ConnTraffic_Read(const ConnTraffic* traffic)
{
    ConnTrafficFigures figures = {};
    if (!traffic) return figures;
    figures.counting = traffic->counting.load(std::memory_order_acquire);
    // bytesSent is stored last by the writer: whoever sees a write's bytes
    // sees its time and rate too.
    figures.bytesSent = traffic->bytesSent.load(std::memory_order_acquire);
    figures.outputRate = traffic->outputRate.load(std::memory_order_relaxed);
    figures.lastWriteMs = traffic->lastWriteMs.load(std::memory_order_relaxed);
    figures.lastWriteS = traffic->lastWriteS.load(std::memory_order_relaxed);
    return figures;
}

ConnTrafficClock ConnTraffic_Now()
{
    ConnTrafficClock now = {Platform_SteadyNowMs(), static_cast<int64_t>(time(nullptr))};
    return now;
}

void ConnTraffic_Count(ConnTraffic* traffic, size_t bytes, const ConnTrafficClock& now)
{
    if (!traffic || !traffic->counting.load(std::memory_order_relaxed)) return;
    // One writer (the loop): plain loads and stores, no read-modify-write.
    int64_t seconds = (now.steadyMs - traffic->lastWriteMs.load(std::memory_order_relaxed)) / 1000;
    if (seconds < 1) seconds = 1;
    traffic->outputRate.store(static_cast<int32_t>(static_cast<int64_t>(bytes) / seconds), std::memory_order_relaxed);
    traffic->lastWriteMs.store(now.steadyMs, std::memory_order_relaxed);
    traffic->lastWriteS.store(now.wallS, std::memory_order_relaxed);
    uint64_t sent = traffic->bytesSent.load(std::memory_order_relaxed);
    traffic->bytesSent.store(sent + bytes, std::memory_order_release);
}
