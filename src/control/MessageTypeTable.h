// Which body class each management message type carries, which header id
// it accepts, which header words its unit keeps and which reply answers it.
// A type not in the table has no decoder (DecodeFrame's status 5).
#pragma once

#include "control/RVZProtoMsg.h"

#include <cstddef>
#include <cstdint>

// The header id a type accepts when decoding.
enum FrameIdRule {
    FRAME_ID_NOT_NEGATIVE,  // requests and replies
    FRAME_ID_NOTIFY_ONLY,   // the notifications the caster sends: exactly -1
    FRAME_ID_ANY,
};

// The header words a unit takes over besides id and type.
enum FrameHeaderWords {
    FRAME_WORDS_NONE,
    FRAME_WORDS_MORE,
    FRAME_WORDS_MORE_EXTRA,
};

typedef google::protobuf::Message* (*NewBodyFunc)();

// One row: the types first .. last share everything.
struct MessageTypeEntry {
    uint32_t first;
    uint32_t last;
    NewBodyFunc newBody;  // a new empty body of the type's class
    FrameIdRule idRule;
    FrameHeaderWords words;
    int32_t replyType;  // -1: not answered
};

// The row of a type, or nullptr when the type is not in the table.
const MessageTypeEntry* MessageType_Find(uint32_t type);

// Builds the descriptors of every body class in the table once, on the
// calling thread, before any thread decodes: the generated code builds them
// at their first use otherwise, from whichever decode threads get there
// first at once.
void MessageType_RegisterDescriptors();

// Every row, lowest types first (the frame fuzzer picks its types from them).
const MessageTypeEntry* MessageType_Entries(size_t* count);

// The decoder of every type in the table: frame starts at its sync and
// holds at least 29 + bodyLength bytes. A new unit (owned by the caller), or
// nullptr when the type is unknown, the id breaks the type's rule, or the
// body does not parse as the type's class. Unknown fields are dropped.
RVZ::RVZProtoMsg* DecodeBody(const unsigned char* frame, uint32_t bodyLength);
