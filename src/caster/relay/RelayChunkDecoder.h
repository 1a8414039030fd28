// The chunked transfer coding of an NTRIP 2.0 relay stream, taken off as the
// bytes arrive, in whatever pieces: only chunk data is the stream.
//
//   chunk      = size [blanks] [";" extensions] CRLF data CRLF
//   size       = 1*HEXDIG (either case)
//   last chunk = a size of 0, its extensions and CRLF
// Extensions are dropped unread. The last chunk ends the stream: nothing
// after it (trailers) is read. Malformed framing ends the stream too: a
// byte out of place, a bare LF, a size of 2^60 or more, or a size line (size,
// blanks, extensions and CRLF) longer than RELAY_CHUNK_LINE_MAX bytes.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    RELAY_CHUNK_LINE_MAX = 1024,
};

struct RelayChunkDecoder {
    int state;
    uint64_t left;      // the size being read, then the chunk's data bytes still to come
    size_t lineLength;  // bytes of the size line so far
};

enum RelayChunkKind {
    RELAY_CHUNK_FRAMING,    // bytes to drop
    RELAY_CHUNK_DATA,       // stream bytes
    RELAY_CHUNK_END,        // the last chunk's line has ended: the stream is over
    RELAY_CHUNK_MALFORMED,  // not the chunked coding: the stream is over
};

struct RelayChunkStep {
    RelayChunkKind kind;
    size_t length;  // bytes at the head of the piece this step took
};

void RelayChunkDecoder_Init(RelayChunkDecoder* decoder);

// Takes the next run at the head of the piece: framing or data, never empty
// while the piece has bytes. END and MALFORMED take the bytes up to the end
// of the last chunk's line (or the byte at fault); every later step says
// the same again with length 0.
RelayChunkStep RelayChunkDecoder_Step(RelayChunkDecoder* decoder, const char* bytes, size_t length);
