// The management frame between the system and a control centre (and the
// PPP-RTK base): a 29-byte header, the protobuf body, and a CRC-32 over
// both. Multi-byte fields are little-endian and packed without gaps.
//
//   0  sync AA 41 13 42     12 id (i32)       21 extra (u32)
//   4  header_length = 29   16 type (u32)     25 header_crc over bytes 0-24
//   8  body_length N        20 more (u8)      29 body, then frame_crc over 0..28+N
#pragma once

#include <cstddef>
#include <cstdint>

static const unsigned char FRAME_SYNC[4] = {0xAA, 0x41, 0x13, 0x42};
static const size_t FRAME_HEADER_LENGTH = 29;
static const size_t FRAME_CRC_LENGTH = 4;
// Header and frame CRC: a frame is body length + 33 bytes.
static const size_t FRAME_OVERHEAD = FRAME_HEADER_LENGTH + FRAME_CRC_LENGTH;
// The send buffer of replies and notifications, as a rule.
static const size_t FRAME_SEND_BUFFER_SIZE = 2048;

// Id of notifications and the heartbeat.
static const int32_t FRAME_ID_NOTIFY = -1;

// The header fields of a frame, read from its first 29 bytes.
struct FrameHeader {
    uint32_t headerLength;
    uint32_t bodyLength;
    int32_t id;
    uint32_t type;
    uint8_t more;
    uint32_t extra;
    uint32_t headerCrc;
};

// Results of DecodeFrame, in the order its checks run (after the length).
enum FrameDecodeStatus {
    STATUS_OK = 0,
    STATUS_HEADER_CRC_ERROR = 1,
    STATUS_MSG_CRC_ERROR = 2,
    STATUS_INCOMPLETE = 3,
    STATUS_MSG_HEADER_LENGTH_ERROR = 4,
    STATUS_UNKNOWN_MSG_KIND_ERROR = 5,
    STATUS_FORMAT_ERROR = 6,
};

// "STATUS_MSG_CRC_ERROR" and so on; "" for STATUS_OK and unknown values.
const char* FrameDecodeStatus_Name(int status);

uint32_t Frame_ReadU32(const unsigned char* p);
void Frame_WriteU32(unsigned char* p, uint32_t value);

// Reads the 29 header bytes at frame; no check.
FrameHeader ReadFrameHeader(const unsigned char* frame);

// Clears the 29 bytes at header and writes sync, header_length 29,
// body_length, id, type, more 0, extra 0 and header_crc.
void BuildFrameHeader(uint32_t type, unsigned char* header, int32_t id, uint32_t bodyLength);

// The same with the given more and extra words (frames of a split reply).
void BuildFrameHeaderEx(uint32_t type, unsigned char* header, int32_t id, uint32_t bodyLength, uint8_t more,
                        uint32_t extra);

// False when the first byte is not the first sync byte; true for n = 0;
// otherwise true exactly when the CRC over all n bytes (covered bytes and
// the stored CRC behind them) is 0.
bool CheckFrameCrc(const unsigned char* data, size_t n);
