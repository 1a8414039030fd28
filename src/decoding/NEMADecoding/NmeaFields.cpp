#include "decoding/NEMADecoding/NmeaFields.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace NEMADecoding {

namespace {

void CopyText(char* out, size_t room, const char* text, size_t length)
{
    size_t n = length < room - 1 ? length : room - 1;
    memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

void ParseUtcTime(const char* field, size_t length, GnssTime* time)
{
    if (!time) return;
    time->hour = 0;
    time->minute = 0;
    time->second = 0.0;
    if (field && length >= 6) {
        char part[8];
        CopyText(part, 3, field, 2);
        time->hour = FieldToInt(part);
        CopyText(part, 3, field + 2, 2);
        time->minute = FieldToInt(part);
        CopyText(part, 7, field + 4, length - 4);
        time->second = FieldToDouble(part);
    }
    time_t now = ::time(nullptr);
    struct tm utc;
    if (gmtime_r(&now, &utc)) {
        time->year = utc.tm_year + 1900;
        time->month = utc.tm_mon + 1;
        time->day = utc.tm_mday;
    }
}

double NmeaToDegrees(const char* text)
{
    double v = FieldToDouble(text);
    // Whole degrees are the integer part divided by 100 in integer division;
    // done in floating point so that absurd values cannot overflow a cast.
    double d = std::trunc(std::trunc(v) / 100.0);
    return d + (v - 100.0 * d) / 60.0;
}

unsigned ParseHex(const char* chars, int count)
{
    unsigned value = 0;
    for (int i = 0; chars && i < count; ++i) {
        char c = chars[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        }
        value = value * 16 + digit;
    }
    return value;
}

long ByteSpan_Find2(const unsigned char* bytes, size_t length, const char* text)
{
    if (!bytes || !text) return -1;
    size_t n = strlen(text);
    if (n == 0 || n > length) return -1;
    for (size_t i = 0; i + n <= length; ++i) {
        if (bytes[i] == static_cast<unsigned char>(text[0]) && memcmp(bytes + i, text, n) == 0) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

int FieldToInt(const char* text)
{
    if (!text) return 0;
    long v = strtol(text, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

double FieldToDouble(const char* text)
{
    if (!text) return 0.0;
    return strtod(text, nullptr);
}

}  // namespace NEMADecoding
