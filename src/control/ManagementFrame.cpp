#include "control/ManagementFrame.h"

#include "control/FrameCrc32.h"

#include <cstring>

namespace {

const size_t OFFSET_HEADER_LENGTH = 4;
const size_t OFFSET_BODY_LENGTH = 8;
const size_t OFFSET_ID = 12;
const size_t OFFSET_TYPE = 16;
const size_t OFFSET_MORE = 20;
const size_t OFFSET_EXTRA = 21;
const size_t OFFSET_HEADER_CRC = 25;

}  // namespace

const char* FrameDecodeStatus_Name(int status)
{
    switch (status) {
    case STATUS_HEADER_CRC_ERROR: return "STATUS_HEADER_CRC_ERROR";
    case STATUS_MSG_CRC_ERROR: return "STATUS_MSG_CRC_ERROR";
    case STATUS_INCOMPLETE: return "STATUS_INCOMPLETE";
    case STATUS_MSG_HEADER_LENGTH_ERROR: return "STATUS_MSG_HEADER_LENGTH_ERROR";
    case STATUS_UNKNOWN_MSG_KIND_ERROR: return "STATUS_UNKNOWN_MSG_KIND_ERROR";
    case STATUS_FORMAT_ERROR: return "STATUS_FORMAT_ERROR";
    default: return "";
    }
}

uint32_t Frame_ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Frame_WriteU32(unsigned char* p, uint32_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

FrameHeader ReadFrameHeader(const unsigned char* frame)
{
    FrameHeader h;
    h.headerLength = Frame_ReadU32(frame + OFFSET_HEADER_LENGTH);
    h.bodyLength = Frame_ReadU32(frame + OFFSET_BODY_LENGTH);
    h.id = static_cast<int32_t>(Frame_ReadU32(frame + OFFSET_ID));
    h.type = Frame_ReadU32(frame + OFFSET_TYPE);
    h.more = frame[OFFSET_MORE];
    h.extra = Frame_ReadU32(frame + OFFSET_EXTRA);
    h.headerCrc = Frame_ReadU32(frame + OFFSET_HEADER_CRC);
    return h;
}

void BuildFrameHeaderEx(uint32_t type, unsigned char* header, int32_t id, uint32_t bodyLength, uint8_t more,
                        uint32_t extra)
{
    memset(header, 0, FRAME_HEADER_LENGTH);
    memcpy(header, FRAME_SYNC, sizeof(FRAME_SYNC));
    Frame_WriteU32(header + OFFSET_HEADER_LENGTH, static_cast<uint32_t>(FRAME_HEADER_LENGTH));
    Frame_WriteU32(header + OFFSET_BODY_LENGTH, bodyLength);
    Frame_WriteU32(header + OFFSET_ID, static_cast<uint32_t>(id));
    Frame_WriteU32(header + OFFSET_TYPE, type);
    header[OFFSET_MORE] = more;
    Frame_WriteU32(header + OFFSET_EXTRA, extra);
    Frame_WriteU32(header + OFFSET_HEADER_CRC, FrameCrc32(header, OFFSET_HEADER_CRC));
}

void BuildFrameHeader(uint32_t type, unsigned char* header, int32_t id, uint32_t bodyLength)
{
    BuildFrameHeaderEx(type, header, id, bodyLength, 0, 0);
}

bool CheckFrameCrc(const unsigned char* data, size_t n)
{
    if (n == 0) return true;
    if (!data || data[0] != FRAME_SYNC[0]) return false;
    return FrameCrc32(data, n) == 0;
}
