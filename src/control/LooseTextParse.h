// Reading a protobuf body whose text fields may not be UTF-8. The generated
// parser refuses such a body whole; a request that must be answered with a
// refusal (an account with a bad text) is read this way instead, so its
// handler learns what it was and can say no.
#pragma once

#include <cstddef>

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

// Merges the wire bytes data[0, size) into *out as the strict parser would,
// except that text fields keep bytes that are not UTF-8. False when the bytes
// are not a well-formed message of out's class (out is then unspecified).
// *notUtf8 is set when some text field held bytes that are not UTF-8.
bool LooseText_Parse(const unsigned char* data, size_t size, google::protobuf::Message* out, bool* notUtf8);
