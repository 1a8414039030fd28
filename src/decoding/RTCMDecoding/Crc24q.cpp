#include "decoding/RTCMDecoding/Crc24q.h"

namespace RTCMDecoding {

namespace {

const uint32_t CRC24Q_POLY = 0x1864CFB;

struct Crc24qTable {
    uint32_t entry[256] = {};
    constexpr Crc24qTable()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i << 16;
            for (int bit = 0; bit < 8; ++bit) {
                crc <<= 1;
                if (crc & 0x1000000) crc ^= CRC24Q_POLY;
            }
            entry[i] = crc & 0xFFFFFF;
        }
    }
};

// Built at compile time, so no thread ever sees it half filled.
constexpr Crc24qTable kCrc24qTable;

}  // namespace

uint32_t Crc24q(const unsigned char* bytes, size_t count)
{
    uint32_t crc = 0;
    for (size_t i = 0; bytes && i < count; ++i) {
        crc = ((crc << 8) ^ kCrc24qTable.entry[((crc >> 16) ^ bytes[i]) & 0xFF]) & 0xFFFFFF;
    }
    return crc;
}

bool Crc24qCheck(const unsigned char* bytes, size_t count)
{
    return Crc24q(bytes, count) == 0;
}

}  // namespace RTCMDecoding
