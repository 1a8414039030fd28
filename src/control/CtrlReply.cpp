#include "control/CtrlReply.h"

#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "net/NHServer.h"
#include "runtime/Utf8Text.h"

#include <google/protobuf/message.h>

#include <cstring>
#include <vector>

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
    // The peer's own read window is its business: what a connection of ours
    // decodes at once bounds what we read, not what we send.
    size_t frameLength = body.ByteSizeLong() + FRAME_OVERHEAD;
    std::vector<unsigned char> buffer(frameLength < FRAME_SEND_BUFFER_SIZE ? FRAME_SEND_BUFFER_SIZE : frameLength, 0);
    size_t length = 0;
    if (EncodeFrame(static_cast<uint32_t>(type), id, &body, buffer.data(), buffer.size(), &length) != 0) return false;
    NHServer_PostSend(server, channelID, buffer.data(), length);
    return true;
}

std::string CtrlReply_EchoText(const std::string& text)
{
    if (text.size() <= CTRL_ECHO_TEXT_MAX) return text;
    return text.substr(0, Utf8_CutLength(text.data(), CTRL_ECHO_TEXT_MAX));
}
