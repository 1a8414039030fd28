// Cutting UTF-8 text to a byte limit without splitting a character, for the
// fixed-size text fields that operator input is copied into.
#pragma once

#include <cstddef>
#include <string>

// Copies src into dest (destSize bytes, always NUL-terminated when destSize
// > 0), cut to at most destSize - 1 bytes. A cut never ends inside a UTF-8
// sequence: the partial character is left out. Bytes that are not valid UTF-8
// are copied as they are (at most three are given up at a cut). Returns the
// number of bytes copied; 0 for a null dest, src or a destSize of 0.
size_t Utf8_CutCopy(char* dest, size_t destSize, const char* src);

// The longest prefix of text[0, length) that does not end inside a UTF-8
// sequence, in bytes.
size_t Utf8_CutLength(const char* text, size_t length);

// Bytes of the well-formed UTF-8 sequence text[0, length) starts with (1 for
// ASCII), or 0 when it starts with none.
size_t Utf8_SequenceAt(const char* text, size_t length);

// True when text[0, length) is well-formed UTF-8: no stray or missing
// continuation bytes, no overlong forms, no surrogates, nothing past
// U+10FFFF. Strict JSON and protobuf readers refuse anything else.
bool Utf8_IsValid(const char* text, size_t length);

// text[0, length) as well-formed UTF-8 for a strict reader: each byte that
// does not start a well-formed sequence becomes '?', and a character cut at
// the end (by a fixed-size field) is left out. Valid text comes back as it is.
std::string Utf8_Clean(const char* text, size_t length);
// The same for a NUL-terminated text; "" for null.
std::string Utf8_Clean(const char* text);
