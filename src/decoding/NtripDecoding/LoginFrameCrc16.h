// The CRC-16 that closes every AA 55 DD frame a rover sends (logins and
// framed positions alike): polynomial 0x3D65, initial value 0, most
// significant bit first, no final xor. Over the ASCII digits "123456789" it
// gives 0x3D48.
#pragma once

#include <cstddef>
#include <cstdint>

namespace NtripDecoding {

uint16_t LoginFrameCrc16(const unsigned char* bytes, size_t n);

}  // namespace NtripDecoding
