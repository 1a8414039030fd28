// The texts of a control-centre request as lookups use them. A protobuf
// string may hold NUL bytes, while the stores and registries keep C texts
// that never do: a request text with a NUL in it names no account, station
// or user they hold, however its C-string prefix reads. Every lookup by a
// request's text asks this first, so the whole text is what is compared.
#pragma once

#include <string>

// True when text holds no NUL byte, so that its c_str() is the whole text.
bool CtrlRequestText_IsWhole(const std::string& text);
