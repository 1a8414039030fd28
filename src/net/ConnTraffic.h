// What the loop has written to one connection: bytes, the rate of the last
// write and its time. The loop is the only writer and keeps the figures with
// the connection, so a write takes no lock and looks nothing up; any other
// thread reads them when it needs them (a query, a timer pass).
//
// Ownership: ConnTraffic_New gives one reference to the caller; the server
// holds one more while the connection counts into it (NHServer_CountWrites).
// Freed with the last reference, on whichever thread gives it back.
//
// Counting starts off: the owner turns it on for the connections whose
// writes it wants counted (a rover once it is logged in). Until then a write
// changes nothing, not even the time the next rate is measured from.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct ConnTraffic {
    std::atomic<uint32_t> refs;
    std::atomic<bool> counting;
    std::atomic<uint64_t> bytesSent;
    std::atomic<int32_t> outputRate;   // bytes per whole second since the write before (at least 1 s)
    std::atomic<int64_t> lastWriteMs;  // steady ms of the last counted write (the start until one)
    std::atomic<int64_t> lastWriteS;   // the same as seconds since 1970
};

// The moment of one write, read once for a whole broadcast.
struct ConnTrafficClock {
    int64_t steadyMs;
    int64_t wallS;
};

// The figures at one moment, as a reader copies them out.
struct ConnTrafficFigures {
    bool counting;
    uint64_t bytesSent;
    int32_t outputRate;
    int64_t lastWriteMs;
    int64_t lastWriteS;
};

// Not counting yet; the rates are measured from sinceMs / sinceS.
ConnTraffic* ConnTraffic_New(int64_t sinceMs, int64_t sinceS);
void ConnTraffic_Retain(ConnTraffic* traffic);
// Null is fine.
void ConnTraffic_Release(ConnTraffic* traffic);

// Any thread.
void ConnTraffic_StartCounting(ConnTraffic* traffic);
ConnTrafficFigures ConnTraffic_Read(const ConnTraffic* traffic);

ConnTrafficClock ConnTraffic_Now();
// The loop, before the bytes go (a reader never sees a peer ahead of the
// figures): nothing unless counting is on.
void ConnTraffic_Count(ConnTraffic* traffic, size_t bytes, const ConnTrafficClock& now);
