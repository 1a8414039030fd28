#include "decoding/NtripDecoding/LoginFrameCrc16.h"

namespace NtripDecoding {

namespace {

struct Crc16Table {
    uint16_t entry[256] = {};
    constexpr Crc16Table()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x3D65) : static_cast<uint16_t>(crc << 1);
            }
            entry[i] = crc;
        }
    }
};

// Computed at compile time, so no thread can see it half built.
constexpr Crc16Table kCrc16Table;

}  // namespace

uint16_t LoginFrameCrc16(const unsigned char* bytes, size_t n)
{
    uint16_t crc = 0;
    if (!bytes) return crc;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kCrc16Table.entry[((crc >> 8) ^ bytes[i]) & 0xFF]);
    }
    return crc;
}

}  // namespace NtripDecoding
