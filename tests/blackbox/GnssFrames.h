// Correction and position bytes for the test peers: RTCM 3 frames with their
// CRC-24Q (a real 1005 station position, and filler frames of any type),
// NMEA GGA sentences with their checksum, and a byte stream whose every
// window tells where in the stream it was cut from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace GnssFrames {

// CRC-24Q over the bytes (polynomial 0x1864CFB, initial 0).
uint32_t Crc24q(const unsigned char* bytes, size_t n);

// A whole RTCM 3 frame: 0xD3, 10-bit length, payload, CRC-24Q.
std::string RtcmFrame(const std::string& payload);

// A 1005 (station antenna reference point) frame for the WGS 84 position.
std::string Rtcm1005(int stationId, double latitudeDeg, double longitudeDeg, double heightM);

// A frame of the given message number whose payload holds filler bytes, for
// "RTCM-like" traffic (not a 1005/1006: its number is chosen by the caller).
std::string RtcmFiller(int messageNumber, size_t payloadBytes, uint32_t seed);

// "$GPGGA,...*CS" (no line end) for the position, fix 1, 10 satellites.
std::string Gga(double latitudeDeg, double longitudeDeg, double heightM);

// RTCM-like feed of about n bytes: filler frames of several types with a
// 1005 frame first and every so often.
std::string RtcmFeed(size_t n, uint32_t seed);

// Stream bytes [offset, offset + n): the big-endian 32-bit counters 0, 1, 2, …
// laid end to end.
std::string CounterBytes(uint64_t offset, size_t n);

// Where in the counter stream bytes were cut from; false when they are not
// one contiguous piece of it (or too short, under 8 bytes, to tell).
bool CounterOffset(const std::string& bytes, uint64_t* offset);

}  // namespace GnssFrames
