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
