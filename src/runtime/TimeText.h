// The local time as the caster writes it into logs, records and the control
// centre's messages, and the reading of such a text back.
#pragma once

#include <cstdint>

// The local time as "%04d-%02d-%02d %02d:%02d:%02d", cut to size - 1
// characters; nothing for a null buffer or a size below 2.
void GetTimeString(char* buffer, int size);
// Seconds since 1970 of a local time in that format; 0 for a null or empty text.
int64_t ParseTimeString(const char* text);
