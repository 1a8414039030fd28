// Positions carried in AA 55 DD frames, the framing of binary rover logins
// (little-endian header of 20 bytes, payload, CRC-16 of header and payload).
#pragma once

#include "decoding/NEMADecoding/NemaLog.h"

#include <cstddef>
#include <vector>

namespace NEMADecoding {

static const size_t GGA_FRAME_HEADER_SIZE = 20;
static const size_t GGA_FRAME_OVERHEAD = 22;  // header and CRC
static const uint8_t GGA_FRAME_TYPE = 1;
// Frames with this many payload bytes or more carry no position.
static const size_t GGA_FRAME_PAYLOAD_MAX = 200;

// One CRC-valid position frame and where it lies in the buffer.
struct GgaFrameRecord {
    GgaFrameHeader header;
    unsigned char payload[GGA_FRAME_PAYLOAD_MAX];
    uint32_t payloadLength;
    size_t offset;  // index of the first sync byte
    size_t end;     // index just past the CRC
};

// Whether AA 55 DD occurs with all three bytes inside the buffer.
bool HasGgaFrameMarker(const unsigned char* bytes, size_t length);

// Lists the CRC-valid frames of type 1 with a payload below 200 bytes, in
// order. Other valid frames are stepped over whole; a CRC mismatch moves on
// by one byte. *pending (when given) is set to the index of the first frame
// that could still become a position frame once more bytes arrive (a sync
// whose header or payload runs past the end, or a sync cut by the end), or to
// length when there is none.
void ScanBinaryGgaFrames(const unsigned char* bytes, size_t length, std::vector<GgaFrameRecord>* records,
                         size_t* pending = nullptr);

}  // namespace NEMADecoding
