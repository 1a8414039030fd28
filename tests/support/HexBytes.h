// Byte vectors written as hex text ("AA 41 13 42") in tests, and back.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// Pairs of hex digits; blanks between them are ignored.
inline Bytes FromHex(const std::string& text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (isspace(static_cast<unsigned char>(c))) continue;
        int v = isdigit(static_cast<unsigned char>(c)) ? c - '0' : (toupper(static_cast<unsigned char>(c)) - 'A' + 10);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const Bytes& bytes)
{
    std::string out;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(two, sizeof(two), i ? " %02X" : "%02X", bytes[i]);
        out += two;
    }
    return out;
}

inline Bytes BytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}
