#include "decoding/NtripDecoding/Base64.h"

#include <cstdint>
#include <cstring>

namespace NtripDecoding {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

CBase64::CBase64() : m_bits(0), m_bitCount(0) {}

CBase64::~CBase64() {}

size_t CBase64::Decode(const char* text, unsigned char* out)
{
    m_bits = 0;
    m_bitCount = 0;
    if (!text || !out) return 0;
    size_t length = strlen(text);
    memset(out, 0, length + 1);
    size_t written = 0;
    for (size_t i = 0; i < length; ++i) {
        // Only the low seven bits of a character count.
        unsigned char c = static_cast<unsigned char>(text[i]) & 0x7F;
        if (c == '=') continue;
        int sextet = SextetOf(c);
        if (sextet < 0) {
            memset(out, 0, length + 1);
            return 0;
        }
        m_bits = ((m_bits << 6) | static_cast<unsigned>(sextet)) & 0xFFFFu;
        m_bitCount += 6;
        if (m_bitCount >= 8) {
            m_bitCount -= 8;
            out[written++] = static_cast<unsigned char>((m_bits >> m_bitCount) & 0xFF);
        }
    }
    return written;
}

namespace {

// Writes the padded Base64 of in[0, length) at out, which has room for
// (length + 2) / 3 * 4 characters; the count written.
size_t EncodeInto(char* out, const unsigned char* in, size_t length)
{
    size_t o = 0;
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = static_cast<uint32_t>(in[i]) << 16;
        if (i + 1 < length) group |= static_cast<uint32_t>(in[i + 1]) << 8;
        if (i + 2 < length) group |= in[i + 2];
        out[o++] = kAlphabet[(group >> 18) & 63];
        out[o++] = kAlphabet[(group >> 12) & 63];
        out[o++] = i + 1 < length ? kAlphabet[(group >> 6) & 63] : '=';
        out[o++] = i + 2 < length ? kAlphabet[group & 63] : '=';
    }
    return o;
}

}  // namespace

int CBase64::Encode(char* out, size_t size, const char* input)
{
    if (!input || !*input) return 0;
    size_t length = strlen(input);
    size_t needed = (length + 2) / 3 * 4;
    if (!out || size < needed + 1) return -1;
    size_t o = EncodeInto(out, reinterpret_cast<const unsigned char*>(input), length);
    out[o] = '\0';
    return static_cast<int>(o);
}

std::string CBase64::Encode(const void* bytes, size_t length)
{
    std::string out;
    if (!bytes || length == 0) return out;
    out.resize((length + 2) / 3 * 4);
    out.resize(EncodeInto(&out[0], static_cast<const unsigned char*>(bytes), length));
    return out;
}

}  // namespace NtripDecoding
