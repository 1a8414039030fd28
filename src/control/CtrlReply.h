// Encoding and queueing one reply frame to a control-centre connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct NHServer;

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

// Encodes body as one frame of type with the request's id into a zero-filled
// 2048-byte buffer and posts it to channelID. False, and nothing sent, when
// the body does not fit the buffer.
bool CtrlReply_Send(NHServer* server, uint64_t channelID, int type, int32_t id, const google::protobuf::Message& body);
// The same with the header's more word (1 on the frames of a split reply
// that more frames follow).
bool CtrlReply_SendMore(NHServer* server, uint64_t channelID, int type, int32_t id, uint8_t more,
                        const google::protobuf::Message& body);
// The same in a frame sized to the body, for answers that may outgrow the
// 2048-byte buffer (the frame format carries any body length): however long
// the answer, it goes out whole in one frame.
bool CtrlReply_SendSized(NHServer* server, uint64_t channelID, int type, int32_t id,
                         const google::protobuf::Message& body);

// The longest text a reply echoes back to the peer. Two such texts and an
// item's numbers still fit one 2048-byte frame.
static const size_t CTRL_ECHO_TEXT_MAX = 960;

// text as a reply echoes it: cut to CTRL_ECHO_TEXT_MAX bytes, never inside a
// UTF-8 character, so the reply is sent (and parses) whatever the request held.
std::string CtrlReply_EchoText(const std::string& text);
