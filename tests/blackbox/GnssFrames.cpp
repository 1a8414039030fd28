#include "blackbox/GnssFrames.h"

#include "support/NmeaSentence.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace GnssFrames {

namespace {

// Writes len bits of value at bit pos, most significant first.
void PutBits(std::vector<unsigned char>* bytes, unsigned pos, unsigned len, uint64_t value)
{
    for (unsigned i = 0; i < len; ++i) {
        unsigned bit = pos + i;
        unsigned char mask = static_cast<unsigned char>(0x80u >> (bit % 8));
        if ((value >> (len - 1 - i)) & 1u) {
            (*bytes)[bit / 8] |= mask;
        } else {
            (*bytes)[bit / 8] &= static_cast<unsigned char>(~mask);
        }
    }
}

uint32_t NextRandom(uint32_t* state)
{
    // xorshift32: any fixed sequence will do, it only has to vary.
    uint32_t x = *state ? *state : 0x9E3779B9u;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

std::string ToString(const std::vector<unsigned char>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

uint32_t Crc24q(const unsigned char* bytes, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 16;
        for (int b = 0; b < 8; ++b) {
            crc <<= 1;
            if (crc & 0x1000000u) crc ^= 0x1864CFBu;
        }
    }
    return crc & 0xFFFFFFu;
}

std::string RtcmFrame(const std::string& payload)
{
    std::vector<unsigned char> frame(3 + payload.size() + 3, 0);
    frame[0] = 0xD3;
    frame[1] = static_cast<unsigned char>((payload.size() >> 8) & 0x03);
    frame[2] = static_cast<unsigned char>(payload.size() & 0xFF);
    for (size_t i = 0; i < payload.size(); ++i) frame[3 + i] = static_cast<unsigned char>(payload[i]);
    uint32_t crc = Crc24q(frame.data(), 3 + payload.size());
    frame[3 + payload.size()] = static_cast<unsigned char>(crc >> 16);
    frame[4 + payload.size()] = static_cast<unsigned char>(crc >> 8);
    frame[5 + payload.size()] = static_cast<unsigned char>(crc);
    return ToString(frame);
}

std::string Rtcm1005(int stationId, double latitudeDeg, double longitudeDeg, double heightM)
{
    // WGS 84 geodetic to earth-centred, earth-fixed.
    const double a = 6378137.0;
    const double f = 1.0 / 298.257223563;
    const double e2 = f * (2.0 - f);
    const double lat = latitudeDeg * M_PI / 180.0;
    const double lon = longitudeDeg * M_PI / 180.0;
    const double n = a / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
    const double x = (n + heightM) * std::cos(lat) * std::cos(lon);
    const double y = (n + heightM) * std::cos(lat) * std::sin(lon);
    const double z = (n * (1.0 - e2) + heightM) * std::sin(lat);

    auto units = [](double metres) {
        int64_t v = static_cast<int64_t>(std::llround(metres / 0.0001));
        return static_cast<uint64_t>(v) & ((uint64_t(1) << 38) - 1);
    };
    std::vector<unsigned char> p(19, 0);
    unsigned at = 0;
    PutBits(&p, at, 12, 1005), at += 12;
    PutBits(&p, at, 12, static_cast<uint64_t>(stationId) & 0xFFF), at += 12;
    PutBits(&p, at, 6, 0), at += 6;   // ITRF realization year
    PutBits(&p, at, 4, 0x8), at += 4;  // GPS, no GLONASS/Galileo, physical station
    PutBits(&p, at, 38, units(x)), at += 38;
    PutBits(&p, at, 2, 0), at += 2;  // oscillator indicator, reserved
    PutBits(&p, at, 38, units(y)), at += 38;
    PutBits(&p, at, 2, 0), at += 2;  // quarter-cycle indicator
    PutBits(&p, at, 38, units(z)), at += 38;
    return RtcmFrame(ToString(p));
}

std::string RtcmFiller(int messageNumber, size_t payloadBytes, uint32_t seed)
{
    if (payloadBytes < 2) payloadBytes = 2;
    if (payloadBytes > 1023) payloadBytes = 1023;
    std::vector<unsigned char> p(payloadBytes, 0);
    uint32_t state = seed;
    for (size_t i = 0; i < payloadBytes; ++i) p[i] = static_cast<unsigned char>(NextRandom(&state));
    PutBits(&p, 0, 12, static_cast<uint64_t>(messageNumber) & 0xFFF);
    return RtcmFrame(ToString(p));
}

std::string Gga(double latitudeDeg, double longitudeDeg, double heightM)
{
    auto field = [](double deg, int degreeDigits, char positive, char negative, char* hemisphere) {
        *hemisphere = deg < 0 ? negative : positive;
        double a = std::fabs(deg);
        int whole = static_cast<int>(a);
        double minutes = (a - whole) * 60.0;
        char text[32];
        snprintf(text, sizeof(text), "%0*d%07.4f", degreeDigits, whole, minutes);
        return std::string(text);
    };
    char ns = 'N', ew = 'E';
    std::string lat = field(latitudeDeg, 2, 'N', 'S', &ns);
    std::string lon = field(longitudeDeg, 3, 'E', 'W', &ew);
    char body[160];
    snprintf(body, sizeof(body), "GPGGA,120000.00,%s,%c,%s,%c,1,10,1.0,%.3f,M,0.000,M,,", lat.c_str(), ns,
             lon.c_str(), ew, heightM);
    return NmeaSentence(body);
}

std::string RtcmFeed(size_t n, uint32_t seed)
{
    static const int kTypes[] = {1074, 1084, 1094, 1124, 1230, 1033};
    std::string feed = Rtcm1005(1, 30.5, 114.3, 25.0);
    uint32_t state = seed;
    unsigned k = 0;
    while (feed.size() < n) {
        if (k % 16 == 15) {
            feed += Rtcm1005(1, 30.5, 114.3, 25.0);
        } else {
            size_t payload = 40 + NextRandom(&state) % 400;
            feed += RtcmFiller(kTypes[k % 6], payload, NextRandom(&state));
        }
        ++k;
    }
    return feed;
}

std::string CounterBytes(uint64_t offset, size_t n)
{
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        uint64_t at = offset + i;
        uint32_t word = static_cast<uint32_t>(at / 4);
        out[i] = static_cast<char>((word >> (8 * (3 - at % 4))) & 0xFF);
    }
    return out;
}

bool CounterOffset(const std::string& bytes, uint64_t* offset)
{
    if (bytes.size() < 8) return false;
    for (unsigned align = 0; align < 4; ++align) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + align;
        uint64_t word = (uint64_t(p[0]) << 24) | (uint64_t(p[1]) << 16) | (uint64_t(p[2]) << 8) | p[3];
        if (word * 4 < align) continue;
        uint64_t start = word * 4 - align;
        if (CounterBytes(start, bytes.size()) == bytes) {
            if (offset) *offset = start;
            return true;
        }
    }
    return false;
}

}  // namespace GnssFrames
