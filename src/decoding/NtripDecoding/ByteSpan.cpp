#include "decoding/NtripDecoding/ByteSpan.h"

#include <cstring>

namespace NtripDecoding {

ByteSpan ByteSpan_Make(const unsigned char* data, long length)
{
    ByteSpan span;
    span.data = data;
    span.length = (data && length > 0) ? length : 0;
    return span;
}

long ByteSpan_Find(ByteSpan span, const char* text)
{
    if (!span.data || !text) return -1;
    long n = static_cast<long>(strlen(text));
    if (n > span.length || span.length == 0 || span.data[0] == 0) return -1;
    if (n == 0) return 0;
    for (long i = 0; i + n <= span.length; ++i) {
        if (span.data[i] == 0) return -1;
        if (memcmp(span.data + i, text, static_cast<size_t>(n)) == 0) return i;
    }
    return -1;
}

bool ByteSpan_HasBinaryMarker(ByteSpan span)
{
    if (!span.data) return false;
    for (long i = 0; i + 2 < span.length; ++i) {
        if (span.data[i] == 0xAA && span.data[i + 1] == 0x55 && span.data[i + 2] == 0xDD) return true;
    }
    return false;
}

bool ByteSpan_Advance(ByteSpan* span, long n)
{
    if (!span || n < 0 || n > span->length) return false;
    span->data += n;
    span->length -= n;
    return true;
}

void ByteSpan_TrimLeft(ByteSpan* span)
{
    if (!span || !span->data) return;
    while (span->length > 0 && span->data[0] == ' ') {
        ++span->data;
        --span->length;
    }
}

ByteSpan ByteSpan_Head(ByteSpan span, long n)
{
    if (n < 0) n = 0;
    if (n < span.length) span.length = n;
    return span;
}

bool ByteSpan_StartsWith(ByteSpan span, const char* text)
{
    if (!span.data || !text) return false;
    long n = static_cast<long>(strlen(text));
    return n <= span.length && memcmp(span.data, text, static_cast<size_t>(n)) == 0;
}

}  // namespace NtripDecoding
