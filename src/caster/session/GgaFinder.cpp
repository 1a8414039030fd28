#include "caster/session/GgaFinder.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Longest field text read.
const size_t FIELD_MAX = 49;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// ddmm.mmmm (or dddmm.mmmm) as degrees. The whole degrees are cut in
// floating point: a peer's 1e308, inf or nan must not reach an integer cast.
double Degrees(const std::string& text)
{
    double value = atof(text.c_str());
    double whole = std::trunc(value / 100.0);
    return whole + (value - whole * 100.0) / 60.0;
}

}  // namespace

bool NmeaCheckSum(const char* sentence, size_t length)
{
    if (!sentence || length < 1) return false;
    unsigned sum = 0;
    size_t i = 1;
    for (; i < length && sentence[i] != '*'; ++i) sum ^= static_cast<unsigned char>(sentence[i]);
    // The '*' and two characters after it must be there.
    if (i + 2 >= length) return false;
    // Sentences are ASCII, so the sum never exceeds 0x7F: the first digit is
    // a decimal one.
    char first = sentence[i + 1];
    int high = first >= '0' && first <= '9' ? first - '0' : -1;
    int low = HexDigit(sentence[i + 2]);
    if (high < 0 || low < 0) return false;
    return static_cast<unsigned>(high * 16 + low) == (sum & 0xff);
}

bool ParseGGA(const char* sentence, size_t length, GgaInfo* info)
{
    if (!NmeaCheckSum(sentence, length)) return false;
    const char* star = static_cast<const char*>(memchr(sentence, '*', length));
    size_t end = star ? static_cast<size_t>(star - sentence) : length;
    if (end < 7 || !info) return true;

    // The fields between the commas after the six-character head.
    std::string fields[13];
    size_t field = 0;
    for (size_t i = 7; i < end && field < 13; ++i) {
        if (sentence[i] == ',') {
            ++field;
        } else if (fields[field].size() < FIELD_MAX) {
            fields[field] += sentence[i];
        }
    }
    const std::string& time = fields[0];
    info->hour = time.size() >= 2 ? atoi(time.substr(0, 2).c_str()) : 0;
    info->minute = time.size() >= 4 ? atoi(time.substr(2, 2).c_str()) : 0;
    info->seconds = time.size() > 4 ? atof(time.substr(4).c_str()) : 0.0;
    info->latitude = Degrees(fields[1]);
    info->northSouth = fields[2].empty() ? '\0' : fields[2][0];
    info->longitude = Degrees(fields[3]);
    info->eastWest = fields[4].empty() ? '\0' : fields[4][0];
    info->fixQuality = atoi(fields[5].c_str());
    info->satellites = atoi(fields[6].c_str());
    info->hdop = atof(fields[7].c_str());
    info->altitude = atof(fields[8].c_str());
    info->geoidSeparation = atof(fields[10].c_str());
    info->differentialAge = atof(fields[12].c_str());
    return true;
}

bool FindGGA(const char* bytes, size_t length, char* sentence, GgaInfo* info)
{
    if (!bytes || !sentence) return false;
    bool found = false;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] != '$') continue;
        if (length - i - 1 < 10) break;
        const char* head = bytes + i;
        bool gga = memcmp(head + 3, "GGA", 3) == 0;
        bool ksxt = memcmp(head + 1, "KSX", 3) == 0;
        if (!gga && !ksxt) continue;
        const char* star = static_cast<const char*>(memchr(head, '*', length - i));
        if (!star) continue;
        size_t size = static_cast<size_t>(star - head) + 3;  // through the two characters after '*'
        if (i + size > length || size >= GGA_SENTENCE_SIZE) continue;
        memcpy(sentence, head, size);
        sentence[size] = '\0';
        if (info) ParseGGA(sentence, size, info);
        found = true;
    }
    return found;
}
