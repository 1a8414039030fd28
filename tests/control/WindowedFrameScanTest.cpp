// A header that claims more body than the reader can ever hold at once is
// skipped at once; one that could still complete waits for its bytes.
#include "control/FrameFixtures.h"
#include "control/RVZProtoMsg.h"
#include "control/WindowedFrameScan.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace {

struct Scan {
    bool got;
    size_t consumed;
    uint32_t type;
};

Scan ScanIn(size_t window, const Bytes& bytes)
{
    Tarnek::LogRoot* unit = nullptr;
    size_t consumed = 0;
    bool got = ScanFrameWithin(window, bytes.data(), bytes.size(), &unit, &consumed);
    uint32_t type = got ? static_cast<RVZ::RVZProtoMsg*>(unit)->type : 0;
    delete unit;
    return {got, consumed, type};
}

TEST(WindowedFrameScanTest, AHeaderPastTheWindowIsSkippedAtItsSync)
{
    LogCapture log;
    Bytes good = ReferenceFrame(21, 7, Bytes());
    Bytes liar = ReferenceFrame(21, 8, Bytes(), 0, 0, 29, 16 * 1024 * 1024);
    liar.resize(29);  // a header and nothing behind it
    Bytes junk = FromHex("01 02 03");
    Bytes stream = Concat({junk, liar, good});

    const size_t window = 20000;
    Scan first = ScanIn(window, stream);
    EXPECT_FALSE(first.got);
    EXPECT_EQ(junk.size() + 4, first.consumed) << "the lying header's sync goes";
    EXPECT_TRUE(log.Has("claims 16777216 body bytes"));
    Bytes rest(stream.begin() + static_cast<long>(first.consumed), stream.end());
    Scan second = ScanIn(window, rest);
    EXPECT_TRUE(second.got);
    EXPECT_EQ(21u, second.type);
    EXPECT_EQ(rest.size(), second.consumed);

    // Within the window the frame may still come whole: it waits.
    struct Case {
        int64_t bodyLength;
        bool skipped;
    } cases[] = {{int64_t(window) - 33, false}, {int64_t(window) - 32, true}, {0xFFFFFFF0LL, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bodyLength);
        Bytes header = ReferenceFrame(21, 9, Bytes(), 0, 0, 29, k.bodyLength);
        header.resize(29 + 40);
        Scan s = ScanIn(window, header);
        EXPECT_FALSE(s.got);
        EXPECT_EQ(k.skipped ? 4u : 0u, s.consumed);
    }
}

}  // namespace
