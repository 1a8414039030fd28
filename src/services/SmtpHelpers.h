// Text and file helpers of the mail message: Base64, joining, the name and
// extension of an attachment path, whole-file reads.
#pragma once

#include "decoding/NtripDecoding/Base64.h"

#include <string>
#include <vector>

// Standard Base64 with "=" padding and no line breaks: 4 * ceil(n / 3)
// characters, empty for empty input.
inline std::string Base64Encode(const void* bytes, size_t length)
{
    return NtripDecoding::CBase64::Encode(bytes, length);
}
inline std::string Base64Encode(const std::string& text) { return Base64Encode(text.data(), text.size()); }

// The items joined with separator; empty for an empty list.
std::string JoinStrings(const std::vector<std::string>& items, const std::string& separator);

// The text after the last '/' or '\', or the whole path.
std::string GetFileNameFromPath(const std::string& path);

// The text after the last '.', or empty when there is none.
std::string GetFileExtension(const std::string& name);

// The whole file as bytes; empty when it cannot be opened.
std::string ReadFileToString(const std::string& path);
