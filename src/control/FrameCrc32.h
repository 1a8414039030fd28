// The CRC-32 of management frames: the reflected CRC-32 table of polynomial
// 0x04C11DB7, but the register starts at 0 and the result is not inverted,
// so it differs from zlib's value. Because of that, the CRC over covered
// bytes followed by their stored (little-endian) CRC is 0 exactly when they
// match, which is how frames are checked.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t FrameCrc32(const unsigned char* data, size_t n);
