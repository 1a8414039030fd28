// Decoded rover positions: one GGA or KSXT sentence, plain or carried in an
// AA 55 DD frame.
#pragma once

#include "decoding/LogRoot.h"

#include <cstddef>
#include <cstdint>

namespace NEMADecoding {

// Room of the raw sentence: at most 255 characters and the terminating zero.
static const int NEMA_RAW_SENTENCE_SIZE = 256;

enum NemaLogType {
    NEMA_GPGGA_TYPE = 0,
};

// Date and time of a fix, as the sentence gave it.
struct GnssTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    double second;
};

// Starts a time record at the GPS epoch, 1980-01-06 00:00:00.
void GnssTime_Init(GnssTime* time);

// Header values of the AA 55 DD frame that carried a sentence (offsets from
// the first sync byte, little-endian). All zero for a plain text sentence.
struct GgaFrameHeader {
    uint8_t byte3;           // offset 3
    uint16_t word4;          // offset 4
    uint16_t word6;          // offset 6
    uint16_t word8;          // offset 8
    uint8_t byte10;          // offset 10
    uint8_t byte11;          // offset 11
    uint16_t payloadLength;  // offset 12
    uint8_t frameType;       // offset 14
};

class NEMALog : public Tarnek::LogRoot {
public:
    int GetKind() const override { return Tarnek::LOG_KIND_NMEA; }
};

// One rover position.
class NEMA_GPGGA : public NEMALog {
public:
    NEMA_GPGGA();
    int GetType() const override { return NEMA_GPGGA_TYPE; }
    Tarnek::LogRoot* Clone() const override;

    // Characters of the sentence at the head of rawSentence, through its '*'
    // and the two checksum characters (no line end, nothing that followed);
    // 0 when those have not all arrived.
    size_t SentenceLength() const;

    GnssTime time;
    double latitude;          // degrees, south negative
    double longitude;         // degrees, west negative
    int32_t fixQuality;       // GGA quality digit 0-9, -1 when absent
    int32_t satellites;       // satellites in use
    double hdop;              // horizontal dilution of precision
    double altitude;          // metres above mean sea level (GGA) or the KSXT height
    double geoidSeparation;   // metres; 0 for KSXT
    double differentialAge;   // age of the differential data; 0 when not sent
    int32_t stationId;        // differential reference station; 0 when not sent
    char rawSentence[NEMA_RAW_SENTENCE_SIZE];  // the bytes from the sentence head on
    GgaFrameHeader frameHeader;
    uint32_t framePayloadLength;  // 0 for plain text
};

}  // namespace NEMADecoding
