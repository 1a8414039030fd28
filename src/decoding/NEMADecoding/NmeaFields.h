// Field conversions shared by the GGA and KSXT parsers.
#pragma once

#include "decoding/NEMADecoding/NemaLog.h"

#include <cstddef>

namespace NEMADecoding {

// Longest field text that is converted; longer fields are cut.
static const size_t NMEA_FIELD_TEXT_MAX = 128;

// "hhmmss.ss": hour, minute and second from the field (at least 6
// characters, else 0). The date is always today's in UTC: GGA carries none.
void ParseUtcTime(const char* field, size_t length, GnssTime* time);

// NMEA "dddmm.mmmm" to decimal degrees.
double NmeaToDegrees(const char* text);

// Value of count hex digits (0-9, a-f, A-F); other characters count as 0.
unsigned ParseHex(const char* chars, int count);

// Index of the first occurrence of text within the first length bytes, zero
// bytes included, or -1.
long ByteSpan_Find2(const unsigned char* bytes, size_t length, const char* text);

// atoi/atof over a field text, without undefined behaviour on overflow.
int FieldToInt(const char* text);
double FieldToDouble(const char* text);

}  // namespace NEMADecoding
