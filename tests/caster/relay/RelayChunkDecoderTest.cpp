// The chunk decoder of a relay's stream: only chunk data comes out, the same
// however the bytes are cut; the last chunk and malformed framing end it.
#include "caster/relay/RelayChunkDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

struct Decoded {
    std::string data;
    RelayChunkKind end = RELAY_CHUNK_FRAMING;  // FRAMING: the stream is still open
};

// Feeds the bytes in pieces of pieceSize (0: whole), as reads would.
Decoded Decode(const std::string& bytes, size_t pieceSize = 0)
{
    RelayChunkDecoder decoder;
    RelayChunkDecoder_Init(&decoder);
    Decoded out;
    if (pieceSize == 0) pieceSize = bytes.size() > 0 ? bytes.size() : 1;
    for (size_t at = 0; at < bytes.size() && out.end == RELAY_CHUNK_FRAMING;) {
        size_t pieceEnd = std::min(bytes.size(), at + pieceSize);
        while (at < pieceEnd) {
            RelayChunkStep step = RelayChunkDecoder_Step(&decoder, bytes.data() + at, pieceEnd - at);
            if (step.kind == RELAY_CHUNK_END || step.kind == RELAY_CHUNK_MALFORMED) {
                out.end = step.kind;
                break;
            }
            EXPECT_GT(step.length, 0u) << "an empty step at byte " << at;
            if (step.length == 0) return out;
            if (step.kind == RELAY_CHUNK_DATA) out.data += bytes.substr(at, step.length);
            at += step.length;
        }
    }
    return out;
}

const char* KindName(RelayChunkKind kind)
{
    switch (kind) {
    case RELAY_CHUNK_FRAMING:
        return "open";
    case RELAY_CHUNK_DATA:
        return "data";
    case RELAY_CHUNK_END:
        return "end";
    case RELAY_CHUNK_MALFORMED:
        return "malformed";
    }
    return "?";
}

}  // namespace

TEST(RelayChunkDecoderTest, OnlyTheChunkDataComesOutHoweverTheBytesAreCut)
{
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
    struct Case {
        const char* story;
        std::string bytes;
        std::string data;
        RelayChunkKind end;
    } cases[] = {
        {"one chunk and the last", "5\r\nhello\r\n0\r\n\r\n", "hello", RELAY_CHUNK_END},
        {"sizes in either case", "a\r\n0123456789\r\n1A\r\n" + alphabet + "\r\n", "0123456789" + alphabet,
         RELAY_CHUNK_FRAMING},
        {"leading zeros", "0005\r\nhello\r\n", "hello", RELAY_CHUNK_FRAMING},
        {"extensions", "5;name=value\r\nhello\r\n3;a=\"q;r\";b\r\nxyz\r\n", "helloxyz", RELAY_CHUNK_FRAMING},
        {"blanks before an extension", "5 \t;x\r\nhello\r\n2  \r\nok\r\n", "hellook", RELAY_CHUNK_FRAMING},
        {"data that looks like framing", "a\r\n0\r\n\r\n5\r\nab\r\n", "0\r\n\r\n5\r\nab", RELAY_CHUNK_FRAMING},
        {"binary data", std::string("3\r\n\xd3\x00\x0d\r\n", 8), std::string("\xd3\x00\x0d", 3),
         RELAY_CHUNK_FRAMING},
        {"the last chunk with an extension and trailers", "2\r\nhi\r\n0;done\r\nX-Trailer: 1\r\n\r\nmore", "hi",
         RELAY_CHUNK_END},
        {"nothing after the last chunk is read", "0\r\n5\r\nhello\r\n", "", RELAY_CHUNK_END},
        {"a chunk cut in its data", "a\r\n01234", "01234", RELAY_CHUNK_FRAMING},
        {"the largest size", "fffffffffffffff\r\nab", "ab", RELAY_CHUNK_FRAMING},
        {"no size", "hello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"an empty size line", "\r\n5\r\nhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"a negative size", "-5\r\nhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"not hex", "5g\r\nhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"a word after the size", "5 x\r\nhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"a bare LF after the size", "5\nhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"a bare LF in an extension", "5;x\nhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"a CR alone after the size", "5\rhello\r\n", "", RELAY_CHUNK_MALFORMED},
        {"data longer than its size", "5\r\nhello!\r\n", "hello", RELAY_CHUNK_MALFORMED},
        {"a bare LF after the data", "5\r\nhello\n3\r\nabc\r\n", "hello", RELAY_CHUNK_MALFORMED},
        {"a size of 2^60", "1000000000000000\r\n", "", RELAY_CHUNK_MALFORMED},
        {"good chunks, then bad framing", "2\r\nok\r\nzz\r\n", "ok", RELAY_CHUNK_MALFORMED},
    };
    for (const Case& c : cases) {
        for (size_t piece : {0, 1, 2, 3, 7}) {
            SCOPED_TRACE(std::string(c.story) + ", pieces of " + std::to_string(piece));
            Decoded decoded = Decode(c.bytes, piece);
            EXPECT_EQ(c.data, decoded.data);
            EXPECT_STREQ(KindName(c.end), KindName(decoded.end));
        }
    }
}

// The size line, extensions and CRLF included, is bounded: 1024 bytes are
// read, 1025 are malformed, even while the line has not ended.
TEST(RelayChunkDecoderTest, TheSizeLineIsBounded)
{
    auto line = [](size_t total) { return "5;" + std::string(total - 4, 'x') + "\r\n"; };
    ASSERT_EQ(static_cast<size_t>(RELAY_CHUNK_LINE_MAX), line(RELAY_CHUNK_LINE_MAX).size());
    EXPECT_EQ("hello", Decode(line(RELAY_CHUNK_LINE_MAX) + "hello\r\n").data);
    EXPECT_STREQ("malformed", KindName(Decode(line(RELAY_CHUNK_LINE_MAX + 1) + "hello\r\n").end));
    EXPECT_STREQ("malformed", KindName(Decode("5;" + std::string(RELAY_CHUNK_LINE_MAX, 'x')).end));
    // Leading zeros count as well: a size line made of them ends too.
    EXPECT_STREQ("malformed", KindName(Decode(std::string(RELAY_CHUNK_LINE_MAX + 1, '0')).end));
}

// A step takes one run: the framing before the data, then the data (never
// more than the chunk has), then the framing after it; the end says so again.
TEST(RelayChunkDecoderTest, EachStepTakesOneRun)
{
    RelayChunkDecoder decoder;
    RelayChunkDecoder_Init(&decoder);
    const std::string bytes = "3;x\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
    struct Want {
        RelayChunkKind kind;
        size_t length;
    } wants[] = {
        {RELAY_CHUNK_FRAMING, 5}, {RELAY_CHUNK_DATA, 3}, {RELAY_CHUNK_FRAMING, 5}, {RELAY_CHUNK_DATA, 2},
        {RELAY_CHUNK_END, 5},     {RELAY_CHUNK_END, 0},
    };
    size_t at = 0;
    for (const Want& want : wants) {
        RelayChunkStep step = RelayChunkDecoder_Step(&decoder, bytes.data() + at, bytes.size() - at);
        EXPECT_STREQ(KindName(want.kind), KindName(step.kind)) << at;
        EXPECT_EQ(want.length, step.length) << at;
        at += step.length;
    }
    EXPECT_EQ(bytes.size() - 2, at);  // the empty line after the last chunk is not read

    RelayChunkDecoder_Init(&decoder);
    EXPECT_EQ(RELAY_CHUNK_MALFORMED, RelayChunkDecoder_Step(&decoder, "x", 1).kind);
    EXPECT_EQ(RELAY_CHUNK_MALFORMED, RelayChunkDecoder_Step(&decoder, "5\r\n", 3).kind);
    EXPECT_EQ(0u, RelayChunkDecoder_Step(&decoder, "5\r\n", 3).length);
}
