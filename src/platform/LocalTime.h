// Local wall-clock time with milliseconds.
#pragma once

#include <ctime>

struct PlatformLocalTime {
    int year;   // e.g. 2026
    int month;  // 1-12
    int day;    // 1-31
    int hour;
    int minute;
    int second;
    int millisecond;
    int weekday;  // 0 Sunday
};

void Platform_GetLocalTime(PlatformLocalTime* out);

// Breaks a calendar time down in local time (thread-safe).
void Platform_ToLocalTime(time_t t, PlatformLocalTime* out);

// Tests replace the clock to cross a date or freeze the time; nullptr restores
// the system clock. Not for production code.
typedef void (*PlatformLocalTimeSource)(PlatformLocalTime* out);
void Platform_SetLocalTimeSource(PlatformLocalTimeSource source);
