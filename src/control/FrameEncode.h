// Encodes one body message into a management frame in the caller's buffer
// (as a rule a zero-filled 2048-byte buffer on the sender's stack). The
// encoders only encode; the caller sends the out_length bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

// 0 on success with *outLength = body size + 33. -1 on a null message or
// buffer, or when the buffer is smaller than the frame: nothing is written
// into the buffer then and *outLength is 0.
int EncodeFrame(uint32_t type, int32_t id, const google::protobuf::Message* message, unsigned char* buffer,
                size_t bufferSize, size_t* outLength);

// The same with the header's more and extra words: the frames of a split
// reply that more frames follow carry more 1, extra 0.
int EncodeFrameEx(uint32_t type, int32_t id, uint8_t more, uint32_t extra, const google::protobuf::Message* message,
                  unsigned char* buffer, size_t bufferSize, size_t* outLength);
