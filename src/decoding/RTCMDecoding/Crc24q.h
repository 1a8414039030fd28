// CRC-24Q, the checksum that closes every RTCM 3 frame: polynomial 0x1864CFB,
// register starting at 0, most significant bit first, no reflection, no
// final xor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace RTCMDecoding {

// The CRC-24Q of count bytes (24 bits).
uint32_t Crc24q(const unsigned char* bytes, size_t count);

// Runs the CRC over a whole frame, its three CRC bytes included: true when
// the remainder is 0. A count of 0 is true.
bool Crc24qCheck(const unsigned char* bytes, size_t count);

}  // namespace RTCMDecoding
