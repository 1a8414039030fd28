#include "control/FrameDecode.h"

#include "control/FrameCrc32.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypeTable.h"
#include "runtime/Log.h"

#include <cstring>

int DecodeFrame(const unsigned char* data, size_t length, RVZ::RVZProtoMsg** outUnit, size_t* outFrameLength)
{
    if (outUnit) *outUnit = nullptr;
    if (outFrameLength) *outFrameLength = 0;
    if (!data || length < FRAME_OVERHEAD) return STATUS_INCOMPLETE;

    FrameHeader header = ReadFrameHeader(data);
    if (header.headerLength != FRAME_HEADER_LENGTH) return STATUS_MSG_HEADER_LENGTH_ERROR;
    if (!CheckFrameCrc(data, FRAME_HEADER_LENGTH)) return STATUS_HEADER_CRC_ERROR;

    // In 64 bits: no body_length can wrap round to a frame that seems to fit.
    uint64_t frameLength = uint64_t(header.bodyLength) + FRAME_OVERHEAD;
    if (frameLength > length) return STATUS_INCOMPLETE;
    if (!CheckFrameCrc(data, static_cast<size_t>(frameLength))) return STATUS_MSG_CRC_ERROR;

    if (!MessageType_Find(header.type)) return STATUS_UNKNOWN_MSG_KIND_ERROR;
    RVZ::RVZProtoMsg* unit = DecodeBody(data, header.bodyLength);
    if (!unit) return STATUS_FORMAT_ERROR;

    if (outUnit) {
        *outUnit = unit;
    } else {
        delete unit;
    }
    if (outFrameLength) *outFrameLength = static_cast<size_t>(frameLength);
    return STATUS_OK;
}

namespace {

// Offset of the first whole sync, or length when there is none.
size_t FindSync(const unsigned char* data, size_t length)
{
    for (size_t p = 0; p + sizeof(FRAME_SYNC) <= length; ++p) {
        if (data[p] == FRAME_SYNC[0] && memcmp(data + p, FRAME_SYNC, sizeof(FRAME_SYNC)) == 0) return p;
    }
    return length;
}

}  // namespace

bool ScanFrame(const unsigned char* data, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    if (unit) *unit = nullptr;
    if (consumed) *consumed = 0;
    if (!data || !unit || !consumed || length < FRAME_OVERHEAD) return false;

    size_t p = FindSync(data, length);
    if (p == length) {
        // The last four bytes may hold the start of a sync.
        *consumed = length - sizeof(FRAME_SYNC);
        return false;
    }

    RVZ::RVZProtoMsg* decoded = nullptr;
    size_t frameLength = 0;
    int status = DecodeFrame(data + p, length - p, &decoded, &frameLength);
    if (status == STATUS_OK) {
        *unit = decoded;
        *consumed = p + frameLength;
        return true;
    }
    if (status == STATUS_INCOMPLETE) {
        *consumed = p;  // the frame waits for the rest of its bytes
        return false;
    }
    // The service has no console: the bad frame's word goes to the log.
    Log_Debug("%s", FrameDecodeStatus_Name(status));
    *consumed = p + sizeof(FRAME_SYNC);
    return false;
}
