#include "decoding/RTCMDecoding/RtcmDecode.h"

#include "decoding/RTCMDecoding/Crc24q.h"
#include "decoding/RTCMDecoding/EcefToGeodetic.h"

#include <cstdint>
#include <new>

namespace RTCMDecoding {

namespace {

const size_t RTCM3_MIN_AVAILABLE = 6;
const double ECEF_SCALE = 0.0001;  // metres per unit
const double RAD_TO_DEG = 57.29577951308232;

// len bits (at most 56) from bit pos, most significant bit first, filled a
// byte at a time into a 64-bit accumulator.
uint64_t GetBits(const unsigned char* bytes, unsigned pos, unsigned len)
{
    unsigned first = pos / 8;
    unsigned last = (pos + len - 1) / 8;
    uint64_t acc = 0;
    for (unsigned k = first; k <= last; ++k) acc = (acc << 8) | bytes[k];
    unsigned below = (last + 1) * 8 - (pos + len);
    return (acc >> below) & ((uint64_t(1) << len) - 1);
}

// A 38-bit two's-complement field in metres.
double GetEcef(const unsigned char* bytes, unsigned pos)
{
    const unsigned width = 38;
    int64_t v = static_cast<int64_t>(GetBits(bytes, pos, width));
    if (v & (int64_t(1) << (width - 1))) v -= int64_t(1) << width;
    return static_cast<double>(v) * ECEF_SCALE;
}

// The frame length a station message number calls for, or 0.
size_t FrameLengthOf(const unsigned char* frame)
{
    unsigned number = static_cast<unsigned>(GetBits(frame, 24, 12));
    if (number == 1005) return RTCM3_1005_FRAME_LEN;
    if (number == 1006) return RTCM3_1006_FRAME_LEN;
    return 0;
}

// Whether the frame at this 0xD3 could still turn out to be a 1005/1006
// once more bytes arrive.
bool MayBeIncomplete(const unsigned char* frame, size_t available)
{
    if (available < RTCM3_MIN_AVAILABLE) return true;
    size_t need = FrameLengthOf(frame);
    return need != 0 && available < need;
}

}  // namespace

bool ParseRtcm1005(const unsigned char* frame, size_t available, RTCM3Log_1005** unit, size_t* frameLength)
{
    if (unit) *unit = nullptr;
    if (!frame || !unit || available < RTCM3_MIN_AVAILABLE) return false;
    size_t length = FrameLengthOf(frame);
    if (length == 0 || available < length) return false;
    if (!Crc24qCheck(frame, length)) return false;

    double x = GetEcef(frame, 58);
    double y = GetEcef(frame, 98);
    double z = GetEcef(frame, 138);
    double latitude = 0.0, longitude = 0.0, height = 0.0;
    if (!EcefToGeodetic(&latitude, &longitude, &height, x, y, z)) return false;

    RTCM3Log_1005* position = new (std::nothrow) RTCM3Log_1005(latitude * RAD_TO_DEG, longitude * RAD_TO_DEG, height);
    if (!position) return false;
    *unit = position;
    if (frameLength) *frameLength = length;
    return true;
}

bool RtcmDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    if (unit) *unit = nullptr;
    if (consumed) *consumed = 0;
    if (!bytes || !unit || !consumed || length < 1) return false;

    size_t others = 0;  // bytes other than 0xD3
    size_t pending = length;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] != RTCM3_PREAMBLE) {
            ++others;
            continue;
        }
        RTCM3Log_1005* position = nullptr;
        size_t frameLength = 0;
        if (ParseRtcm1005(bytes + i, length - i, &position, &frameLength)) {
            *unit = position;
            *consumed = i + frameLength;
            return true;
        }
        if (pending == length && MayBeIncomplete(bytes + i, length - i)) pending = i;
    }
    // The bytes other than 0xD3 are dropped, but never the start of a frame
    // that is still arriving.
    *consumed = others < pending ? others : pending;
    return false;
}

}  // namespace RTCMDecoding
