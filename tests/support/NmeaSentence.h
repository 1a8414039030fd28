// NMEA sentences as a receiver sends them: "$" + body + "*" + the checksum,
// the XOR of every byte of the body, in two hex digits. No line end.
#pragma once

#include <cstdio>
#include <string>

inline unsigned NmeaChecksum(const std::string& body)
{
    unsigned sum = 0;
    for (unsigned char c : body) sum ^= c;
    return sum;
}

// checksumFlip is XORed into the checksum, for sentences meant to be wrong.
inline std::string NmeaSentence(const std::string& body, bool uppercase = true, unsigned checksumFlip = 0)
{
    char digits[3];
    snprintf(digits, sizeof(digits), uppercase ? "%02X" : "%02x", (NmeaChecksum(body) ^ checksumFlip) & 0xff);
    return "$" + body + "*" + digits;
}
