// A window on received bytes, the working type of the NTRIP request parser.
// Text searches stop at a zero byte: a request is text, and whatever follows
// a zero is not part of it.
#pragma once

namespace NtripDecoding {

struct ByteSpan {
    const unsigned char* data;
    long length;
};

ByteSpan ByteSpan_Make(const unsigned char* data, long length);

// Index of the first occurrence of text, or -1: also when text is longer than
// the span, the span starts with a zero byte, or a zero byte comes first.
long ByteSpan_Find(ByteSpan span, const char* text);

// Whether AA 55 DD occurs at some index i with i + 2 < length.
bool ByteSpan_HasBinaryMarker(ByteSpan span);

// Moves the start on by n; n beyond the length (or negative) -> false, unchanged.
bool ByteSpan_Advance(ByteSpan* span, long n);

// Skips leading blanks (0x20).
void ByteSpan_TrimLeft(ByteSpan* span);

// The first n bytes (n clipped to 0 .. length).
ByteSpan ByteSpan_Head(ByteSpan span, long n);

// Whether the span starts with text.
bool ByteSpan_StartsWith(ByteSpan span, const char* text);

}  // namespace NtripDecoding
