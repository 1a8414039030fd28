// Base64 decoding of HTTP Basic credentials (standard alphabet with '+' and
// '/'). '=' is skipped; any other character outside the alphabet makes the
// whole text invalid.
#pragma once

#include <cstddef>

namespace NtripDecoding {

class CBase64 {
public:
    CBase64();
    virtual ~CBase64();

    // Decodes the zero-terminated text into out, which must hold
    // strlen(text) + 1 bytes and is cleared first. Returns the count of bytes
    // decoded; 0 for an empty, missing or invalid text.
    virtual size_t Decode(const char* text, unsigned char* out);

private:
    unsigned m_bits;     // bit accumulator
    int m_bitCount;      // bits waiting in the accumulator
};

}  // namespace NtripDecoding
