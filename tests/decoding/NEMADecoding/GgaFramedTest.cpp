// Positions carried in AA 55 DD frames.
#include "GgaTestSupport.h"

#include "decoding/NEMADecoding/BinaryGgaFrames.h"
#include "decoding/NEMADecoding/GgaDecode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace GgaTest;
using NEMADecoding::NEMA_GPGGA;

namespace {

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kGgaSouth = Sentence("GPGGA,123520,3000.000,S,01000.000,W,4,10,0.7,12.5,M,3.1,M,1.0,0042") + "\r\n";

Decoded Decode(const std::string& bytes)
{
    Decoded d;
    Tarnek::LogRoot* unit = nullptr;
    d.got = NEMADecoding::GgaDecode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &unit,
                                    &d.consumed);
    if (d.got) d.unit.reset(unit);
    return d;
}

}  // namespace

TEST(NemaGgaFramed, ReferenceCrc)
{
    EXPECT_EQ(FrameCrc16("123456789"), 0x3D48);
}

TEST(NemaGgaFramed, FrameCarriesItsHeaderIntoTheUnit)
{
    FrameFields f;
    std::string junk = "noise";
    std::string frame = Frame(kGga, f);
    Decoded d = Decode(junk + frame + "tail");
    ASSERT_TRUE(d.got);
    EXPECT_EQ(d.consumed, junk.size() + frame.size());
    const NEMA_GPGGA* g = d.gga();
    EXPECT_NEAR(g->latitude, 48.1173, 1e-9);
    EXPECT_EQ(g->frameHeader.byte3, f.byte3);
    EXPECT_EQ(g->frameHeader.word4, f.word4);
    EXPECT_EQ(g->frameHeader.word6, f.word6);
    EXPECT_EQ(g->frameHeader.word8, f.word8);
    EXPECT_EQ(g->frameHeader.byte10, f.byte10);
    EXPECT_EQ(g->frameHeader.byte11, f.byte11);
    EXPECT_EQ(g->frameHeader.payloadLength, kGga.size());
    EXPECT_EQ(g->frameHeader.frameType, 1);
    EXPECT_EQ(g->framePayloadLength, kGga.size());
    EXPECT_STREQ(g->rawSentence, kGga.c_str());
}

TEST(NemaGgaFramed, FramesThatCarryNoPosition)
{
    FrameFields type2;
    type2.type = 2;
    std::string big = kGga + std::string(200 - kGga.size(), ' ');  // 200 payload bytes
    std::string largest = kGga + std::string(199 - kGga.size(), ' ');
    std::string badCrc = Frame(kGga);
    badCrc[badCrc.size() - 1] ^= 0x01;
    std::string badChecksum = kGga;
    badChecksum[badChecksum.find('*') + 2] = '8';

    struct Case {
        const char* name;
        std::string input;
        bool got;
    } cases[] = {
        {"type 2", Frame(kGga, type2), false},
        {"200 payload bytes", Frame(big), false},
        {"199 payload bytes", Frame(largest), true},
        {"CRC mismatch", badCrc, false},
        {"sentence fails its checksum", Frame(badChecksum), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Decode(c.input).got, c.got);
    }

    // A frame that is skipped whole lets the next one through.
    std::string first = Frame(kGga, type2);
    std::string input = first + Frame(kGgaSouth);
    Decoded d = Decode(input);
    ASSERT_TRUE(d.got);
    EXPECT_NEAR(d.gga()->latitude, -30.0, 1e-9);
    EXPECT_EQ(d.consumed, input.size());
}

// A '*' inside a frame's header or CRC is not a sentence end: each frame is
// consumed whole and decoded once.
TEST(NemaGgaFramed, StarBytesInHeadersDoNotSplitFrames)
{
    FrameFields starry;
    starry.word6 = 0x2A2A;
    starry.word4 = 0x2A2A;
    Feeder feeder(NEMADecoding::GgaDecode);
    feeder.Push(Frame(kGga, starry) + Frame(kGgaSouth, starry) + Frame(kGga, starry));
    ASSERT_EQ(feeder.Units().size(), 3u);
    EXPECT_NEAR(AsGga(feeder.Units()[0].get())->latitude, 48.1173, 1e-9);
    EXPECT_NEAR(AsGga(feeder.Units()[1].get())->latitude, -30.0, 1e-9);
    EXPECT_EQ(AsGga(feeder.Units()[1].get())->stationId, 42);
    EXPECT_EQ(AsGga(feeder.Units()[2].get())->frameHeader.word6, 0x2A2A);
    EXPECT_TRUE(feeder.Queue().empty());
}

// Only the bytes before a frame that is still arriving are consumed, also
// when its header holds '*' bytes.
TEST(NemaGgaFramed, IncompleteFrameIsKept)
{
    FrameFields starry;
    starry.word6 = 0x2A2A;
    for (const std::string& frame : {Frame(kGga), Frame(kGga, starry)}) {
        const size_t cuts[] = {1, 2, 3, 10, 15, 20, frame.find('$') + 10, frame.size() - 1};
        for (size_t cut : cuts) {
            SCOPED_TRACE(cut);
            Decoded d = Decode("abcd" + frame.substr(0, cut));
            EXPECT_FALSE(d.got);
            EXPECT_LE(d.consumed, 4u);
        }
    }
}

TEST(NemaGgaFramed, ScanListsValidPositionFrames)
{
    FrameFields type3;
    type3.type = 3;
    std::string a = Frame(kGga);
    std::string skipped = Frame("no position here", type3);
    std::string b = Frame(kGgaSouth);
    std::string input = "x" + a + skipped + b + a.substr(0, 12);
    std::vector<NEMADecoding::GgaFrameRecord> records;
    size_t pending = 0;
    NEMADecoding::ScanBinaryGgaFrames(reinterpret_cast<const unsigned char*>(input.data()), input.size(), &records,
                                      &pending);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].offset, 1u);
    EXPECT_EQ(records[0].end, 1 + a.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(records[1].payload), records[1].payloadLength), kGgaSouth);
    EXPECT_EQ(pending, 1 + a.size() + skipped.size() + b.size());
}
