// A clock for durations: it never steps when the wall clock is set, so a
// time-out or a rate measured on it is neither cut short nor stretched.
#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start (CLOCK_MONOTONIC).
int64_t Platform_SteadyNowMs();

// Tests replace the clock to move time at will; nullptr restores the system
// clock. Not for production code.
typedef int64_t (*PlatformSteadyClockSource)();
void Platform_SetSteadyClockSource(PlatformSteadyClockSource source);
