#include "runtime/Utf8Text.h"

#include <cstring>

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes of the sequence a lead byte starts (1 for ASCII and stray bytes).
size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

}  // namespace

size_t Utf8_CutLength(const char* text, size_t length)
{
    if (!text || length == 0) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    // Find the lead byte of the last character, at most three bytes back.
    size_t lead = length - 1;
    size_t back = 0;
    while (lead > 0 && back < 3 && IsContinuation(p[lead])) {
        --lead;
        ++back;
    }
    if (IsContinuation(p[lead])) return length;  // no lead byte near: not UTF-8
    size_t need = SequenceLength(p[lead]);
    if (need == 1 && back > 0) return length;  // stray continuation bytes, kept
    return lead + need <= length ? length : lead;
}

size_t Utf8_CutCopy(char* dest, size_t destSize, const char* src)
{
    if (!dest || destSize == 0) return 0;
    dest[0] = '\0';
    if (!src) return 0;
    size_t length = strnlen(src, destSize);
    if (length >= destSize) length = Utf8_CutLength(src, destSize - 1);
    memcpy(dest, src, length);
    dest[length] = '\0';
    return length;
}

// The second byte's range rules out overlong forms (E0, F0), surrogates (ED)
// and code points past U+10FFFF (F4).
size_t Utf8_SequenceAt(const char* text, size_t length)
{
    if (!text || length == 0) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    const size_t need = SequenceLength(lead);
    if (need == 1 || length < need) return 0;
    const unsigned char second = p[1];
    unsigned char low = 0x80, high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (second < low || second > high) return 0;
    for (size_t k = 2; k < need; ++k) {
        if (!IsContinuation(p[k])) return 0;
    }
    return need;
}

bool Utf8_IsValid(const char* text, size_t length)
{
    if (!text) return length == 0;
    size_t i = 0;
    while (i < length) {
        const size_t step = Utf8_SequenceAt(text + i, length - i);
        if (step == 0) return false;
        i += step;
    }
    return true;
}

std::string Utf8_Clean(const char* text, size_t length)
{
    std::string out;
    if (!text) return out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    out.reserve(length);
    size_t i = 0;
    while (i < length) {
        const size_t step = Utf8_SequenceAt(text + i, length - i);
        if (step > 0) {
            out.append(text + i, step);
            i += step;
            continue;
        }
        // A lead byte whose continuation bytes run into the end: cut there.
        const size_t rest = length - i;
        bool cutAtEnd = rest < SequenceLength(p[i]);
        for (size_t k = 1; cutAtEnd && k < rest; ++k) cutAtEnd = IsContinuation(p[i + k]);
        if (cutAtEnd) break;
        out.push_back('?');
        ++i;
    }
    return out;
}

std::string Utf8_Clean(const char* text)
{
    return text ? Utf8_Clean(text, strlen(text)) : std::string();
}
