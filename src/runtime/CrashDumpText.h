// The crash dump's texts, made where the fatal-signal handler runs: no heap,
// no locale, no stdio, no time-zone rules. Each field is appended to a
// caller's fixed buffer; what does not fit is cut and remembered.
#pragma once

#include "platform/LocalTime.h"

#include <cstddef>
#include <cstdint>

struct CrashDumpText {
    char* data;
    size_t size;    // bytes of data, the terminator included
    size_t length;  // bytes written, the terminator not included
    bool cut;       // something did not fit
};

// An empty text in buffer (size bytes, at least 1).
void CrashDumpText_Init(CrashDumpText* text, char* buffer, size_t size);
void CrashDumpText_Append(CrashDumpText* text, const char* s);
// value as "%*d": at least width characters, padded on the left with pad
// (' ' or '0'; zeros go after the sign).
void CrashDumpText_Decimal(CrashDumpText* text, long value, int width, char pad);
// address as "%p" writes it: "0x" and lowercase hex digits, "(nil)" for null.
void CrashDumpText_Pointer(CrashDumpText* text, const void* address);
// The dump's time text "%d%2d%2d_%02d%02d%02d": month and day padded with
// blanks, the time with zeros.
void CrashDumpText_Time(CrashDumpText* text, const PlatformLocalTime* t);

// The calendar date and time of utcSeconds (since 1970) shifted by
// offsetSeconds east of UTC, by the proleptic Gregorian calendar; the
// millisecond is 0.
void CrashDumpText_LocalTimeOf(int64_t utcSeconds, long offsetSeconds, PlatformLocalTime* out);
