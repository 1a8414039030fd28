// Bounded copies into fixed-size text fields: records, configuration, replies.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

// Copies at most size - 1 characters of src into dst and always terminates it;
// a null src gives an empty text. Nothing is written when size is 0.
inline void FixedText_Copy(char* dst, size_t size, const char* src)
{
    if (dst == nullptr || size == 0) return;
    size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < size && src[n] != '\0') ++n;
        memcpy(dst, src, n);
    }
    dst[n] = '\0';
}

// Forces the last byte of a field to 0, so a record copied in from a caller
// can never hand out an unterminated text.
template <size_t N>
inline void FixedText_Terminate(char (&field)[N])
{
    field[N - 1] = '\0';
}

// Equality of a text with a field, where either may be null (null equals nothing).
inline bool FixedText_Equal(const char* a, const char* b)
{
    return a != nullptr && b != nullptr && strcmp(a, b) == 0;
}

// Whether a text taken from a peer (a protobuf or JSON string, which may hold
// NUL bytes) is whole as a C text: stores and registries keep C texts, so one
// with a NUL in it names nothing they hold, however its prefix reads, and is
// refused rather than compared by its c_str().
inline bool FixedText_IsWhole(const std::string& text) { return text.find('\0') == std::string::npos; }
