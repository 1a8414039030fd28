// The decoded management unit: one frame's header words and its parsed
// body. The unit owns its body; whoever handles the unit deletes it.
#pragma once

#include "decoding/LogRoot.h"

#include <cstdint>

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

namespace RVZ {

class RVZProtoMsg : public Tarnek::SessionMsg {
public:
    RVZProtoMsg() = default;
    ~RVZProtoMsg() override;
    RVZProtoMsg(const RVZProtoMsg&) = delete;
    RVZProtoMsg& operator=(const RVZProtoMsg&) = delete;

    int GetType() const override { return static_cast<int>(type); }
    // Same header words, and a distinct body of the same class with the same
    // content; a unit without a body clones to one without.
    Tarnek::LogRoot* Clone() const override;

    int32_t id = -1;
    uint8_t more = 0;    // taken from the frame only for the split reply types
    uint32_t extra = 0;  // likewise
    uint32_t type = UINT32_MAX;
    // A text field of the body held bytes that are not UTF-8 (kept only for
    // the requests that answer such a body with a refusal).
    bool textNotUtf8 = false;
    google::protobuf::Message* body = nullptr;  // of the class the type table gives
};

}  // namespace RVZ
