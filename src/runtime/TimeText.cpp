#include "runtime/TimeText.h"

#include "platform/LocalTime.h"

#include <cstdio>
#include <cstring>
#include <ctime>

void GetTimeString(char* buffer, int size)
{
    if (!buffer || size - 1 <= 0) return;
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    snprintf(buffer, static_cast<size_t>(size), "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
             now.hour, now.minute, now.second);
    buffer[size - 1] = '\0';
}

int64_t ParseTimeString(const char* text)
{
    if (!text || !*text) return 0;
    struct tm t;
    memset(&t, 0, sizeof(t));
    if (sscanf(text, "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec) < 1) {
        return 0;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    // Let the library decide on daylight saving, so a text written in summer
    // reads back as the moment it was written.
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t));
}
