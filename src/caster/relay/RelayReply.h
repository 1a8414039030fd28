// The upstream caster's reply to a relay's request, read whole before the
// relay is online, so that no byte of it is taken for the stream.
//
// A line ends at a line feed; a carriage return just before it belongs to
// the line end. The status line must begin with "ICY 200 OK",
// "HTTP/1.0 200 OK" or "HTTP/1.1 200 OK"; bytes that cannot begin one of
// them refuse the request at once, whatever follows.
// - "ICY 200 OK" (NTRIP 1.0): the reply is the status line, and the empty
//   line some casters send after it ("\r\n", or a lone "\n") when it comes
//   next. A stream never starts with either (an RTCM 3 frame starts with
//   0xD3), so anything else there is the stream's first byte. Casters that
//   send no empty line wait for the relay's first message before they
//   stream, so the reply is accepted at the status line's end and the
//   empty line, when it arrives later, is taken off the stream's head
//   (RelayReply_EmptyLine).
// - "HTTP/1.x 200 OK" (NTRIP 2.0): the reply runs through the empty line
//   after the header lines. "Transfer-Encoding: chunked" (name and value in
//   any case) makes the stream chunked; any other transfer coding refuses it.
// The whole reply must end within RELAY_REPLY_MAX bytes: a longer one
// refuses the request like any other refusal.
#pragma once

#include <cstddef>

enum {
    RELAY_REPLY_MAX = 8192,
};

enum RelayReplyVerdict {
    RELAY_REPLY_INCOMPLETE,  // more bytes are needed to tell
    RELAY_REPLY_ACCEPTED,
    RELAY_REPLY_REFUSED,
};

struct RelayReply {
    RelayReplyVerdict verdict;
    size_t length;       // accepted: the reply's bytes; the stream starts after them
    bool http;           // accepted with an HTTP status line (NTRIP 2.0)
    bool chunked;        // accepted with "Transfer-Encoding: chunked"
    bool emptyLineOpen;  // "ICY 200 OK" whose empty line may still be the next bytes
    const char* reason;  // refused: why, for the log
};

// Reads the reply from the first bytes the upstream sent (all of them, or
// at least the first RELAY_REPLY_MAX).
RelayReply RelayReply_Read(const char* bytes, size_t length);

// At the head of the stream after an "ICY 200 OK" whose empty line may still
// come: the number of bytes of that empty line (0 none, 1 or 2), or -1 when
// the bytes cannot tell yet (none, or a lone "\r").
int RelayReply_EmptyLine(const char* bytes, size_t length);
