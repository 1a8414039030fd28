// ScanFrame as the decode function of a management stream: what one call
// consumes, and what a caller that keeps calling finds in a stream.
#include "control/FrameDecode.h"
#include "control/FrameFixtures.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

Bytes Heartbeat(int32_t id = -1)
{
    return ReferenceFrame(2011, id, FromHex("08 01 10 01"));
}

Bytes Garbage(size_t n, unsigned char seed = 0x11)
{
    Bytes g(n);
    for (size_t i = 0; i < n; ++i) g[i] = static_cast<unsigned char>(seed + 7 * i);  // never AA 41 13 42
    return g;
}

Bytes Prefix(const Bytes& f, size_t n)
{
    return Bytes(f.begin(), f.begin() + static_cast<long>(n));
}

Bytes Flip(Bytes f, size_t at)
{
    f[at] ^= 0x04;
    return f;
}

Bytes HeaderLength30()
{
    Bytes f = Heartbeat();
    f[4] = 30;  // header CRC left as it was, so it is wrong too
    return f;
}

Bytes HugeBody()
{
    return ReferenceFrame(2011, -1, Bytes(), 0, 0, 29, 0xFFFFFFF0);
}

struct OneCallCase {
    const char* name;
    Bytes bytes;
    bool got;
    size_t consumed;
    const char* logWord;  // "" when nothing is logged
};

TEST(ScanFrameTest, OneCall)
{
    const OneCallCase cases[] = {
        {"32 bytes of a frame", Prefix(Heartbeat(), 32), false, 0, ""},
        {"100 bytes without a sync", Garbage(100), false, 96, ""},
        {"a sync cut at the end is kept", Concat({Garbage(40), FromHex("AA 41 13")}), false, 39, ""},
        {"garbage before a whole frame", Concat({Garbage(10), Heartbeat()}), true, 47, ""},
        {"garbage before half a frame", Concat({Garbage(10), Prefix(Heartbeat(), 30)}), false, 10, ""},
        {"half a frame at the start waits", Prefix(Heartbeat(), 36), false, 0, ""},
        {"flipped body bit", Concat({Garbage(5), Flip(Heartbeat(), 31)}), false, 9, "STATUS_MSG_CRC_ERROR"},
        {"flipped header bit", Flip(Heartbeat(), 14), false, 4, "STATUS_HEADER_CRC_ERROR"},
        {"header length 30", HeaderLength30(), false, 4, "STATUS_MSG_HEADER_LENGTH_ERROR"},
        {"type 1002", ReferenceFrame(1002, 0, Bytes()), false, 4, "STATUS_UNKNOWN_MSG_KIND_ERROR"},
        {"request with id -1", ReferenceFrame(3, -1, Bytes()), false, 4, "STATUS_FORMAT_ERROR"},
        {"huge body length waits", Concat({HugeBody(), Heartbeat()}), false, 0, ""},
        {"garbage before a huge body length", Concat({Garbage(3), HugeBody(), Heartbeat()}), false, 3, ""},
    };
    for (const OneCallCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        Tarnek::LogRoot* unit = reinterpret_cast<Tarnek::LogRoot*>(1);
        size_t consumed = 12345;
        bool got = ScanFrame(c.bytes.data(), c.bytes.size(), &unit, &consumed);
        std::unique_ptr<Tarnek::LogRoot> owned(got ? unit : nullptr);
        EXPECT_EQ(got, c.got);
        EXPECT_EQ(got, unit != nullptr);
        EXPECT_EQ(consumed, c.consumed);
        if (*c.logWord) {
            EXPECT_TRUE(log.Has(std::string("[debug] ") + c.logWord + "\n")) << log.Text();
        } else {
            EXPECT_FALSE(log.Has("STATUS_")) << log.Text();
        }
    }
}

// Feeds the stream chunk bytes at a time (0: all at once) the way the
// decode callers do: scan while something is consumed, drop what was
// consumed. Returns "type/id" of every unit and leaves the rest in *left.
std::vector<std::string> Drain(const Bytes& stream, size_t chunk, size_t* left)
{
    std::vector<std::string> found;
    Bytes queue;
    size_t offset = 0;
    do {
        size_t n = chunk == 0 ? stream.size() - offset : std::min(chunk, stream.size() - offset);
        queue.insert(queue.end(), stream.begin() + static_cast<long>(offset),
                     stream.begin() + static_cast<long>(offset + n));
        offset += n;
        size_t consumed = 0;
        do {
            Tarnek::LogRoot* unit = nullptr;
            bool got = ScanFrame(queue.data(), queue.size(), &unit, &consumed);
            if (got) {
                auto* m = dynamic_cast<RVZ::RVZProtoMsg*>(unit);
                found.push_back(m ? std::to_string(m->type) + "/" + std::to_string(m->id) : "not a management unit");
                delete unit;
            }
            queue.erase(queue.begin(), queue.begin() + static_cast<long>(consumed));
        } while (consumed != 0);
    } while (offset < stream.size());
    *left = queue.size();
    return found;
}

struct StreamCase {
    const char* name;
    Bytes stream;
    std::vector<std::string> units;
    size_t left;  // bytes still waiting at the end
};

TEST(ScanFrameTest, Streams)
{
    const StreamCase cases[] = {
        {"frames between garbage",
         Concat({Garbage(50), Heartbeat(1), Garbage(3), ReferenceFrame(1001, 5, FromHex("08 14 12 03 61 62 63 18 01")),
                 Heartbeat(2), Garbage(2)}),
         {"2011/1", "1001/5", "2011/2"}, 2},
        {"a flipped bit skips that frame only", Concat({Flip(Heartbeat(1), 33), Heartbeat(2)}), {"2011/2"}, 0},
        {"a false sync in the garbage", Concat({FromHex("AA 41 13 42 00 01"), Garbage(40), Heartbeat(3)}), {"2011/3"},
         0},
        {"header length 30, then a frame", Concat({HeaderLength30(), Heartbeat(4)}), {"2011/4"}, 0},
        {"unknown types are skipped",
         Concat({ReferenceFrame(1002, 0, Bytes()), ReferenceFrame(2001, -1, Bytes()), ReferenceFrame(2008, -1, Bytes()),
                 ReferenceFrame(48, 0, Bytes()), ReferenceFrame(19, 0, Bytes()), ReferenceFrame(1018, 0, Bytes()),
                 Heartbeat(5)}),
         {"2011/5"}, 0},
        {"the id rule",
         Concat({ReferenceFrame(3, -1, Bytes()), ReferenceFrame(3, 0, Bytes()), ReferenceFrame(1003, -2, Bytes()),
                 ReferenceFrame(2002, 7, Bytes()), ReferenceFrame(2002, -1, Bytes()), ReferenceFrame(2005, 0, Bytes()),
                 ReferenceFrame(2011, 7, Bytes()), ReferenceFrame(2010, -9, Bytes())}),
         {"3/0", "2002/-1", "2011/7", "2010/-9"}, 0},
        {"a huge body length stalls the stream", Concat({Heartbeat(6), HugeBody(), Heartbeat(7)}), {"2011/6"}, 33 + 37},
    };
    for (const StreamCase& c : cases) {
        for (size_t chunk : {0u, 1u, 7u, 33u, 64u}) {
            SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
            size_t left = 0;
            EXPECT_EQ(Drain(c.stream, chunk, &left), c.units);
            EXPECT_EQ(left, c.left);
        }
    }
}

}  // namespace
