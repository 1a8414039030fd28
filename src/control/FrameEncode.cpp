#include "control/FrameEncode.h"

#include "control/FrameCrc32.h"
#include "control/ManagementFrame.h"

#include <google/protobuf/message.h>

#include <cstring>

int EncodeFrameEx(uint32_t type, int32_t id, uint8_t more, uint32_t extra, const google::protobuf::Message* message,
                  unsigned char* buffer, size_t bufferSize, size_t* outLength)
{
    if (outLength) *outLength = 0;
    if (!message || !buffer) return -1;

    // Sizes in 64 bits: no body size can wrap round the buffer check.
    uint64_t bodyLength = message->ByteSizeLong();
    uint64_t frameLength = bodyLength + FRAME_OVERHEAD;
    if (bodyLength > UINT32_MAX || frameLength > bufferSize) return -1;

    BuildFrameHeaderEx(type, buffer, id, static_cast<uint32_t>(bodyLength), more, extra);
    // Straight into the buffer, with the sizes ByteSizeLong just cached.
    message->SerializeWithCachedSizesToArray(buffer + FRAME_HEADER_LENGTH);
    size_t covered = FRAME_HEADER_LENGTH + static_cast<size_t>(bodyLength);
    Frame_WriteU32(buffer + covered, FrameCrc32(buffer, covered));
    if (outLength) *outLength = static_cast<size_t>(frameLength);
    return 0;
}

int EncodeFrame(uint32_t type, int32_t id, const google::protobuf::Message* message, unsigned char* buffer,
                size_t bufferSize, size_t* outLength)
{
    return EncodeFrameEx(type, id, 0, 0, message, buffer, bufferSize, outLength);
}
