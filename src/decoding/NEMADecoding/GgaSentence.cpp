#include "decoding/NEMADecoding/GgaSentence.h"

#include "decoding/NEMADecoding/NmeaFields.h"
#include "runtime/Log.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace NEMADecoding {

namespace {

const size_t GGA_HEAD_LEN = 7;   // "$GPGGA,"
const size_t KSXT_HEAD_LEN = 6;  // "$KSXT,"

int ClampInt(size_t v)
{
    return v > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(v);
}

// Finds the '*' and applies the checksum rule. False when the sentence must
// be refused; *star is its index otherwise.
//
// The checksum decides whatever follows it: a sentence whose digits do not
// match is refused also when a line end, the next sentence or any other
// bytes arrived with it in the same read. A '*' with no digit behind it
// gives nothing to check against and is refused too.
bool CheckSentence(const unsigned char* bytes, size_t length, size_t* star)
{
    const void* hit = memchr(bytes, '*', length);
    if (!hit) return false;
    size_t s = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes);
    size_t tail = length - s;
    if (tail > NMEA_STAR_TAIL_MAX) {
        Log_Info("GGA decode, buffer size:%d, starPos:%d, size-starPos:%d.", ClampInt(length), ClampInt(s),
                 ClampInt(tail));
        return false;
    }
    if (tail < 2) return false;
    unsigned sum = 0;
    for (size_t i = 1; i < s; ++i) sum ^= bytes[i];
    int digits = tail == 2 ? 1 : 2;
    if (ParseHex(reinterpret_cast<const char*>(bytes + s + 1), digits) != sum) return false;
    *star = s;
    return true;
}

// Walks the comma-separated fields between the head and the '*'.
class FieldReader {
public:
    FieldReader(const unsigned char* bytes, size_t start, size_t end) : bytes_(bytes), pos_(start), end_(end) {}

    // A field that must end with ','.
    bool Next()
    {
        if (pos_ > end_) return false;
        const void* hit = memchr(bytes_ + pos_, ',', end_ - pos_);
        if (!hit) return false;
        size_t comma = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes_);
        Take(pos_, comma);
        pos_ = comma + 1;
        return true;
    }

    // A field that may also end at the '*'.
    void NextOrRest()
    {
        if (Next()) return;
        if (pos_ > end_) {
            Take(end_, end_);
        } else {
            Take(pos_, end_);
            pos_ = end_ + 1;
        }
    }

    const char* Text() const { return text_; }
    size_t Length() const { return length_; }
    bool Empty() const { return length_ == 0; }

private:
    void Take(size_t from, size_t to)
    {
        size_t n = to - from;
        if (n > NMEA_FIELD_TEXT_MAX) n = NMEA_FIELD_TEXT_MAX;
        memcpy(text_, bytes_ + from, n);
        text_[n] = '\0';
        length_ = n;
    }

    const unsigned char* bytes_;
    size_t pos_;
    size_t end_;
    char text_[NMEA_FIELD_TEXT_MAX + 1] = {0};
    size_t length_ = 0;
};

double Hemisphere(const FieldReader& field, char positive, char negative)
{
    if (field.Length() != 1) return 0.0;
    if (field.Text()[0] == positive) return 1.0;
    if (field.Text()[0] == negative) return -1.0;
    return 0.0;
}

// The unit for the values read, with the raw bytes from the head on.
NEMA_GPGGA* NewUnit(const NEMA_GPGGA& parsed, const unsigned char* bytes, size_t length)
{
    NEMA_GPGGA* unit = new (std::nothrow) NEMA_GPGGA(parsed);
    if (!unit) return nullptr;
    size_t n = length < sizeof(unit->rawSentence) - 1 ? length : sizeof(unit->rawSentence) - 1;
    memcpy(unit->rawSentence, bytes, n);
    unit->rawSentence[n] = '\0';
    return unit;
}

// NaN or infinite positions would poison every distance computed from them.
bool AllFinite(const NEMA_GPGGA& u)
{
    return std::isfinite(u.latitude) && std::isfinite(u.longitude) && std::isfinite(u.altitude) &&
           std::isfinite(u.geoidSeparation) && std::isfinite(u.hdop) && std::isfinite(u.differentialAge) &&
           std::isfinite(u.time.second);
}

}  // namespace

NEMA_GPGGA* ParseGgaSentence(const unsigned char* bytes, size_t length)
{
    if (!bytes || length == 0) return nullptr;
    size_t star = 0;
    if (!CheckSentence(bytes, length, &star)) return nullptr;
    size_t start = length >= GGA_HEAD_LEN ? GGA_HEAD_LEN : 0;
    FieldReader field(bytes, start, star);

    NEMA_GPGGA parsed;
    if (!field.Next()) return nullptr;  // a missing ',' here shows as field 2 failing
    ParseUtcTime(field.Text(), field.Length(), &parsed.time);
    if (!field.Next()) return nullptr;
    double latitude = NmeaToDegrees(field.Text());
    if (!field.Next()) return nullptr;
    parsed.latitude = latitude * Hemisphere(field, 'N', 'S');
    if (!field.Next()) return nullptr;
    double longitude = NmeaToDegrees(field.Text());
    if (!field.Next()) return nullptr;
    parsed.longitude = longitude * Hemisphere(field, 'E', 'W');
    if (!field.Next()) return nullptr;
    char q = field.Text()[0];
    parsed.fixQuality = (field.Length() == 1 && q >= '0' && q <= '9') ? q - '0' : -1;
    if (!field.Next()) return nullptr;
    parsed.satellites = FieldToInt(field.Text());
    if (!field.Next()) return nullptr;
    parsed.hdop = FieldToDouble(field.Text());
    if (!field.Next()) return nullptr;
    parsed.altitude = FieldToDouble(field.Text());
    if (!field.Next()) return nullptr;  // altitude unit
    if (!field.Next()) return nullptr;
    parsed.geoidSeparation = FieldToDouble(field.Text());
    if (!field.Next()) return nullptr;  // geoid unit
    field.NextOrRest();
    parsed.differentialAge = field.Empty() ? 0.0 : FieldToDouble(field.Text());
    field.NextOrRest();
    parsed.stationId = field.Empty() ? 0 : FieldToInt(field.Text());
    if (!AllFinite(parsed)) return nullptr;

    return NewUnit(parsed, bytes, length);
}

NEMA_GPGGA* ParseKsxtSentence(const unsigned char* bytes, size_t length)
{
    if (!bytes || length == 0) return nullptr;
    size_t star = 0;
    if (!CheckSentence(bytes, length, &star)) return nullptr;
    size_t start = length >= KSXT_HEAD_LEN ? KSXT_HEAD_LEN : 0;
    FieldReader field(bytes, start, star);

    NEMA_GPGGA parsed;
    if (!field.Next()) return nullptr;
    // Fields the pattern does not match stay 0.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    (void)sscanf(field.Text(), "%04d%02d%02d%02d%02d%02d.%*d", &year, &month, &day, &hour, &minute, &second);
    parsed.time.year = year;
    parsed.time.month = month;
    parsed.time.day = day;
    parsed.time.hour = hour;
    parsed.time.minute = minute;
    parsed.time.second = second;
    if (!field.Next()) return nullptr;
    parsed.longitude = FieldToDouble(field.Text());
    if (!field.Next()) return nullptr;
    parsed.latitude = FieldToDouble(field.Text());
    if (!field.Next()) return nullptr;
    parsed.altitude = FieldToDouble(field.Text());
    for (int skipped = 5; skipped <= 9; ++skipped) {
        if (!field.Next()) return nullptr;
    }
    if (!field.Next()) return nullptr;
    switch (FieldToInt(field.Text())) {
    case 1: parsed.fixQuality = 1; break;  // single point
    case 2: parsed.fixQuality = 5; break;  // float
    case 3: parsed.fixQuality = 4; break;  // fixed
    default: parsed.fixQuality = 0; break;
    }
    if (!field.Next() || !field.Next()) return nullptr;  // fields 11-12
    if (!field.Next()) return nullptr;
    parsed.satellites = FieldToInt(field.Text());
    for (int skipped = 14; skipped <= 19; ++skipped) {
        if (!field.Next()) return nullptr;
    }
    field.NextOrRest();
    parsed.differentialAge = field.Empty() ? 0.0 : FieldToDouble(field.Text());
    parsed.hdop = 0.0;
    parsed.geoidSeparation = 0.0;
    parsed.stationId = 0;
    if (!AllFinite(parsed)) return nullptr;

    return NewUnit(parsed, bytes, length);
}

}  // namespace NEMADecoding
