// A list reply split over frames of one type: items are added one by one,
// and before an item would bring the body to SPLIT_REPLY_BODY_LIMIT bytes the
// items so far go out as a frame with more = 1 and the list starts again
// (the body's other fields stay). Finish sends the last frame, more = 0,
// also when it holds no items. Every frame fits the 2048-byte send buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace google {
namespace protobuf {
class FieldDescriptor;
class Message;
}  // namespace protobuf
}  // namespace google

static const size_t SPLIT_REPLY_BODY_LIMIT = 2013;

class SplitReply {
public:
    // Gets each frame's body and its more word.
    typedef std::function<void(const google::protobuf::Message& body, uint8_t more)> Sink;

    // response: the reply body (owned by the caller), whose repeated message
    // field listField takes the items.
    SplitReply(google::protobuf::Message* response, const char* listField, Sink sink);

    // item must be of the list field's class.
    void Add(const google::protobuf::Message& item);
    void Finish();

    int FramesSent() const { return frames_; }

private:
    google::protobuf::Message* response_;
    const google::protobuf::FieldDescriptor* list_;
    Sink sink_;
    int frames_ = 0;
};
