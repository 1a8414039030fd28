#include "control/CtrlReply.h"

#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "decoding/DecodeThread.h"
#include "net/NHServer.h"

#include <google/protobuf/message.h>

#include <cstring>
#include <vector>

const size_t CTRL_REPLY_MAX_FRAME = DFW::DECODE_PEEK_CAPACITY;

bool CtrlReply_SendMore(NHServer* server, uint64_t channelID, int type, int32_t id, uint8_t more,
                        const google::protobuf::Message& body)
{
    if (!server) return false;
    unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
    memset(buffer, 0, sizeof(buffer));
    size_t length = 0;
    if (EncodeFrameEx(static_cast<uint32_t>(type), id, more, 0, &body, buffer, sizeof(buffer), &length) != 0) {
        return false;
    }
    NHServer_PostSend(server, channelID, buffer, length);
    return true;
}

bool CtrlReply_Send(NHServer* server, uint64_t channelID, int type, int32_t id, const google::protobuf::Message& body)
{
    return CtrlReply_SendMore(server, channelID, type, id, 0, body);
}

bool CtrlReply_SendSized(NHServer* server, uint64_t channelID, int type, int32_t id,
                         const google::protobuf::Message& body)
{
    if (!server) return false;
    size_t frameLength = body.ByteSizeLong() + FRAME_OVERHEAD;
    if (frameLength > CTRL_REPLY_MAX_FRAME) return false;
    std::vector<unsigned char> buffer(frameLength < FRAME_SEND_BUFFER_SIZE ? FRAME_SEND_BUFFER_SIZE : frameLength, 0);
    size_t length = 0;
    if (EncodeFrame(static_cast<uint32_t>(type), id, &body, buffer.data(), buffer.size(), &length) != 0) return false;
    NHServer_PostSend(server, channelID, buffer.data(), length);
    return true;
}
