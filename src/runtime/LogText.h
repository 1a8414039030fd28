// Client texts (user names, mount points, user agents, sentences) made fit
// for one log line. A peer chooses these bytes: written raw, a CR or LF would
// let it forge lines of its own and an escape sequence would act on whoever
// reads the log in a terminal. Control characters become C-style escapes
// ("\r", "\n", "\t", "\x1b"), and a backslash is doubled so that an escape in
// the log always means a byte the peer sent. Other bytes (UTF-8 names) stay.
#pragma once

#include <cstddef>
#include <string>

// The escaped copy of a zero-terminated text; "" for null. Meant for a log
// argument: Log_Info("user=%s", LogText_Escape(user).c_str()).
std::string LogText_Escape(const char* text);
// The same for length bytes that need not be zero-terminated.
std::string LogText_EscapeBytes(const char* bytes, size_t length);
