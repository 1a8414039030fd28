// Base64 both ways (standard alphabet with '+' and '/'): the request decoder
// reads a rover's HTTP Basic credentials, the relay client writes its own
// upstream, the mailer encodes its headers, bodies and attachments. On decoding '=' is skipped; any other character outside the
// alphabet makes the whole text invalid.
#pragma once

#include <cstddef>
#include <string>

namespace NtripDecoding {

class CBase64 {
public:
    CBase64();
    virtual ~CBase64();

    // Decodes the zero-terminated text into out, which must hold
    // strlen(text) + 1 bytes and is cleared first. Returns the count of bytes
    // decoded; 0 for an empty, missing or invalid text.
    virtual size_t Decode(const char* text, unsigned char* out);

    // Standard Base64 of the zero-terminated input, padded with "=" to a
    // multiple of four characters: the length written, or -1 when out is
    // null or too small (out untouched). An empty input leaves out untouched
    // and gives 0.
    static int Encode(char* out, size_t size, const char* input);

    // Standard padded Base64 of length bytes, in one unbroken line.
    static std::string Encode(const void* bytes, size_t length);

private:
    unsigned m_bits;     // bit accumulator
    int m_bitCount;      // bits waiting in the accumulator
};

}  // namespace NtripDecoding
