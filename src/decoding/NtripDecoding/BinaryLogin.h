// Binary login frames: a rover that cannot send an NTRIP request logs in to
// "NEAREST" with one AA 55 DD frame of type 1 (little-endian fields):
//
//   0  3  sync AA 55 DD          11 1  flags: bits 0-1 == 1 -> 'A' else 'B',
//   3  1  byte kept                     bit 7 -> 'S' else 'M'
//   4  2  word kept              12 2  payload length L
//   6  2  first user number      14 1  frame type (1 = login)
//   8  3  second user number     15 5  not read
//         (24-bit)               20 L  payload
//                                20+L 2 CRC-16 over bytes 0 .. 19+L
#pragma once

#include "decoding/NtripDecoding/NtripLog.h"

#include <cstddef>
#include <vector>

namespace NtripDecoding {

static const size_t BINARY_FRAME_HEADER_SIZE = 20;
static const size_t BINARY_FRAME_OVERHEAD = 22;  // header and CRC
static const uint8_t BINARY_FRAME_TYPE_LOGIN = 1;

// One login frame found in a buffer: its record and where it lies.
struct BinaryLoginFrame {
    BinaryLoginRecord record;
    size_t offset;  // index of the first sync byte
    size_t end;     // index just past the CRC
};

// Lists the CRC-valid login frames (type 1, payload below 200 bytes) of the
// buffer in order. Valid frames of other kinds are stepped over whole; a CRC
// mismatch moves on by one byte.
void ScanBinaryLoginFrames(const unsigned char* bytes, size_t n, std::vector<BinaryLoginFrame>* frames);

// The login request of the first login frame, or nullptr. *frameEnd (when
// given) is set to the index just past that frame.
NtripClientLoginRequest* DecodeBinaryLogin(const unsigned char* bytes, size_t n, size_t* frameEnd);

}  // namespace NtripDecoding
