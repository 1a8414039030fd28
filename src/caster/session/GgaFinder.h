// Picks GGA (or KSXT) sentences out of a rover's bytes for its GGA log, and
// reads their fields.
#pragma once

#include <cstddef>

// Longest sentence FindGGA copies, with its terminator.
static const size_t GGA_SENTENCE_SIZE = 200;

// The fields of one GGA sentence.
struct GgaInfo {
    int hour;
    int minute;
    double seconds;
    double latitude;   // degrees, positive; see northSouth
    char northSouth;
    double longitude;  // degrees, positive; see eastWest
    char eastWest;
    int fixQuality;
    int satellites;
    double hdop;
    double altitude;         // metres
    double geoidSeparation;  // metres
    double differentialAge;  // seconds
};

// XOR of the bytes after the leading '$' up to the '*', against the two hex
// digits after the '*'. False without a '*' and two digits.
bool NmeaCheckSum(const char* sentence, size_t length);

// Fills info from a sentence whose checksum holds; false otherwise (info is
// then unchanged). A sentence whose '*' comes before position 7 gives true
// and leaves info unchanged.
bool ParseGGA(const char* sentence, size_t length, GgaInfo* info);

// Scans the bytes for "$xxGGA" and "$KSX" sentences that are complete (the
// '*' and two characters arrived) and shorter than GGA_SENTENCE_SIZE bytes;
// the last one is copied into sentence (GGA_SENTENCE_SIZE bytes, without a
// line end) and read into info when info is given. True when one was found.
bool FindGGA(const char* bytes, size_t length, char* sentence, GgaInfo* info);
