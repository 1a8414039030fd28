#include "control/WindowedFrameScan.h"

#include "control/FrameCrc32.h"
#include "control/FrameDecode.h"
#include "control/ManagementFrame.h"
#include "decoding/DecodeThread.h"
#include "decoding/FixedQueue.h"
#include "runtime/Log.h"

#include <cstdint>
#include <cstring>

bool ScanFrameWithin(size_t window, const unsigned char* data, size_t length, Tarnek::LogRoot** unit,
                     size_t* consumed)
{
    if (ScanFrame(data, length, unit, consumed)) return true;
    size_t at = *consumed;
    if (length < at + FRAME_HEADER_LENGTH || memcmp(data + at, FRAME_SYNC, sizeof(FRAME_SYNC)) != 0) return false;
    FrameHeader header = ReadFrameHeader(data + at);
    if (header.headerLength != FRAME_HEADER_LENGTH || !CheckFrameCrc(data + at, FRAME_HEADER_LENGTH)) return false;
    if (uint64_t(header.bodyLength) + FRAME_OVERHEAD <= window) return false;
    Log_Warn("%s:frame of type %u claims %u body bytes, more than a connection decodes at once; skipped",
             "ScanFrameWithin", header.type, header.bodyLength);
    *consumed = at + sizeof(FRAME_SYNC);
    return false;
}

bool CtrlFrameScan(const unsigned char* data, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    return ScanFrameWithin(DFW::DECODE_PEEK_CAPACITY, data, length, unit, consumed);
}

bool PppRtkFrameScan(const unsigned char* data, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    return ScanFrameWithin(Concurrent::FIXED_QUEUE_CAPACITY, data, length, unit, consumed);
}
