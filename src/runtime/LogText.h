// Texts made fit for one log line. A peer chooses many of the bytes that are
// logged (user names, mount points, user agents, sentences): written raw, a
// CR or LF would let it forge lines of its own and an escape sequence would
// act on whoever reads the log in a terminal. Control characters become
// C-style escapes ("\r", "\n", "\t", "\x1b"), C1 controls too, as UTF-8 or
// as raw bytes outside it ("\xc2\x85", "\x9b"); other bytes (UTF-8 names)
// stay.
//
// The daily log passes every message through LogText_Line, so no caller can
// break a line whatever it formats. LogText_Escape goes further for a peer's
// text: it also doubles a backslash, so that an escape inside that text
// always means a byte the peer sent; its result holds no control character
// and passes the daily log unchanged. The user log files are written as
// their callers give them and need LogText_Escape for a peer's text.
#pragma once

#include <cstddef>
#include <string>

// The escaped copy of a zero-terminated text; "" for null. Meant for a log
// argument: Log_Info("user=%s", LogText_Escape(user).c_str()).
std::string LogText_Escape(const char* text);
// The same for length bytes that need not be zero-terminated.
std::string LogText_EscapeBytes(const char* bytes, size_t length);

// A whole message as one line of the daily log: one trailing LF is dropped
// (it is where a format such as "...close_type:%s.\n" ends its message, and
// the line ends there anyway), every other control character (C0 or C1) but
// the tab becomes its escape. Tabs, backslashes and every other byte stay as they
// are, so printable text is kept byte for byte. "" for null.
std::string LogText_Line(const char* message);
