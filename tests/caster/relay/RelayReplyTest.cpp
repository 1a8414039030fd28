// The upstream's reply to a relay: where it ends (and so where the stream
// begins), whether it accepts, whether the stream is chunked, and the
// bound on its size.
#include "caster/relay/RelayReply.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* VerdictName(RelayReplyVerdict verdict)
{
    switch (verdict) {
    case RELAY_REPLY_INCOMPLETE:
        return "incomplete";
    case RELAY_REPLY_ACCEPTED:
        return "accepted";
    case RELAY_REPLY_REFUSED:
        return "refused";
    }
    return "?";
}

RelayReply Read(const std::string& bytes) { return RelayReply_Read(bytes.data(), bytes.size()); }

const std::string kFrame("\xd3\x00\x13\x3e\xd7", 5);  // the start of an RTCM 3 frame
const std::string kNtrip2 = "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nContent-Type: gnss/data\r\n";

}  // namespace

TEST(RelayReplyTest, WhereEachReplyEndsAndWhatItSays)
{
    struct Case {
        const char* story;
        std::string bytes;
        RelayReplyVerdict verdict;
        size_t length;  // accepted: where the stream starts
        bool http;
        bool chunked;
        bool emptyLineOpen;
    } cases[] = {
        {"ICY and its empty line", "ICY 200 OK\r\n\r\n" + kFrame, RELAY_REPLY_ACCEPTED, 14, false, false, false},
        {"ICY and the stream at once", "ICY 200 OK\r\n" + kFrame, RELAY_REPLY_ACCEPTED, 12, false, false, false},
        {"ICY alone so far", "ICY 200 OK\r\n", RELAY_REPLY_ACCEPTED, 12, false, false, true},
        {"ICY and a lone CR so far", "ICY 200 OK\r\n\r", RELAY_REPLY_ACCEPTED, 12, false, false, true},
        {"ICY, a CR that starts the stream", "ICY 200 OK\r\n\rX", RELAY_REPLY_ACCEPTED, 12, false, false, false},
        {"ICY with bare LFs", "ICY 200 OK\n\n" + kFrame, RELAY_REPLY_ACCEPTED, 12, false, false, false},
        {"ICY, only its own empty line", "ICY 200 OK\r\n\r\n\r\n", RELAY_REPLY_ACCEPTED, 14, false, false, false},
        {"ICY before its line end", "ICY 200 OK", RELAY_REPLY_INCOMPLETE, 0, false, false, false},
        {"part of ICY", "ICY 20", RELAY_REPLY_INCOMPLETE, 0, false, false, false},
        {"nothing yet", "", RELAY_REPLY_INCOMPLETE, 0, false, false, false},
        {"NTRIP 2.0 header lines", kNtrip2 + "\r\n" + kFrame, RELAY_REPLY_ACCEPTED, kNtrip2.size() + 2, true, false,
         false},
        {"HTTP/1.0 without header lines", "HTTP/1.0 200 OK\r\n\r\n\r\n", RELAY_REPLY_ACCEPTED, 19, true, false, false},
        {"header lines with bare LFs", "HTTP/1.1 200 OK\nServer: x\n\n" + kFrame, RELAY_REPLY_ACCEPTED, 27, true,
         false, false},
        {"a header line cut", "HTTP/1.1 200 OK\r\nContent-Ty", RELAY_REPLY_INCOMPLETE, 0, false, false, false},
        {"no empty line yet", kNtrip2, RELAY_REPLY_INCOMPLETE, 0, false, false, false},
        {"the status line alone", "HTTP/1.1 200 OK\r\n", RELAY_REPLY_INCOMPLETE, 0, false, false, false},
        {"chunked", kNtrip2 + "Transfer-Encoding: chunked\r\n\r\n5\r\n", RELAY_REPLY_ACCEPTED, kNtrip2.size() + 30,
         true, true, false},
        {"chunked, any case and blanks", "HTTP/1.1 200 OK\r\nTRANSFER-ENCODING :\tChunKed \r\n\r\n",
         RELAY_REPLY_ACCEPTED, 49, true, true, false},
        {"chunked named by another header", "HTTP/1.1 200 OK\r\nX-Transfer-Encoding: gzip\r\nTE: chunked\r\n\r\n",
         RELAY_REPLY_ACCEPTED, 59, true, false, false},
        {"chunked twice", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n",
         RELAY_REPLY_REFUSED, 0, false, false, false},
        {"chunked, chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, chunked\r\n\r\n", RELAY_REPLY_REFUSED, 0,
         false, false, false},
        {"gzip", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", RELAY_REPLY_REFUSED, 0, false, false, false},
        {"gzip, then chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n", RELAY_REPLY_REFUSED, 0,
         false, false, false},
        {"another status", "HTTP/1.1 401 Unauthorized\r\n\r\n", RELAY_REPLY_REFUSED, 0, false, false, false},
        {"a source table", "SOURCETABLE 200 OK\r\n", RELAY_REPLY_REFUSED, 0, false, false, false},
        {"ICY in lower case", "icy 200 ok\r\n", RELAY_REPLY_REFUSED, 0, false, false, false},
        {"an error text", "ERROR - Bad Password\r\n", RELAY_REPLY_REFUSED, 0, false, false, false},
        {"refused before its line end", "HTTP/1.1 404", RELAY_REPLY_REFUSED, 0, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        RelayReply reply = Read(c.bytes);
        ASSERT_EQ(VerdictName(c.verdict), VerdictName(reply.verdict));
        if (c.verdict == RELAY_REPLY_ACCEPTED) {
            EXPECT_EQ(c.length, reply.length);
            EXPECT_EQ(c.http, reply.http);
            EXPECT_EQ(c.chunked, reply.chunked);
            EXPECT_EQ(c.emptyLineOpen, reply.emptyLineOpen);
        }
        if (c.verdict == RELAY_REPLY_REFUSED) {
            EXPECT_NE(nullptr, reply.reason);
        }
    }
}

// Every cut before a reply's end waits for the rest; whatever follows the
// end does not change where it is.
TEST(RelayReplyTest, AReplyCutAnywhereWaitsForItsEnd)
{
    const std::string reply = kNtrip2 + "Transfer-Encoding: chunked\r\n\r\n";
    for (size_t cut = 0; cut < reply.size(); ++cut) {
        EXPECT_EQ(RELAY_REPLY_INCOMPLETE, Read(reply.substr(0, cut)).verdict) << cut;
    }
    for (const std::string& after : {std::string(), std::string("\r\n"), kFrame, std::string(9000, 'x')}) {
        RelayReply whole = Read(reply + after);
        EXPECT_EQ(RELAY_REPLY_ACCEPTED, whole.verdict);
        EXPECT_EQ(reply.size(), whole.length);
        EXPECT_TRUE(whole.chunked);
    }
}

// 8192 bytes of reply are taken, one more is a refusal, told as soon as
// 8192 bytes have come without the end.
TEST(RelayReplyTest, TheReplyEndsWithin8192Bytes)
{
    const std::string head = "HTTP/1.1 200 OK\r\nX-Padding: ";
    const std::string end = "\r\n\r\n";
    const std::string fits = head + std::string(RELAY_REPLY_MAX - head.size() - end.size(), 'p') + end;
    ASSERT_EQ(static_cast<size_t>(RELAY_REPLY_MAX), fits.size());
    RelayReply reply = Read(fits + kFrame);
    EXPECT_EQ(RELAY_REPLY_ACCEPTED, reply.verdict);
    EXPECT_EQ(fits.size(), reply.length);

    const std::string over = head + std::string(RELAY_REPLY_MAX - head.size() - end.size() + 1, 'p') + end;
    EXPECT_EQ(RELAY_REPLY_INCOMPLETE, Read(over.substr(0, RELAY_REPLY_MAX - 1)).verdict);
    EXPECT_EQ(RELAY_REPLY_REFUSED, Read(over.substr(0, RELAY_REPLY_MAX)).verdict);
    EXPECT_EQ(RELAY_REPLY_REFUSED, Read(over).verdict);
    EXPECT_EQ(RELAY_REPLY_REFUSED, Read(head + std::string(2 << 20, 'p') + end).verdict);
    EXPECT_EQ(RELAY_REPLY_REFUSED, Read("ICY 200 OK" + std::string(RELAY_REPLY_MAX, ' ') + "\r\n").verdict);
}

TEST(RelayReplyTest, TheEmptyLineAfterIcyAtTheStreamsHead)
{
    struct Case {
        std::string head;
        int taken;
    } cases[] = {
        {"", -1}, {"\r", -1}, {"\r\n", 2}, {"\n", 1}, {"\r\n\r\n", 2}, {"\rX", 0}, {kFrame, 0}, {"$GPGGA", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.taken, RelayReply_EmptyLine(c.head.data(), c.head.size())) << c.head.size();
    }
    EXPECT_EQ(-1, RelayReply_EmptyLine(nullptr, 0));
}
