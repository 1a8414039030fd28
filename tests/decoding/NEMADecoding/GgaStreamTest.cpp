// Rover streams cut at every possible place: each position comes out once,
// whole, whatever the cut.
#include "GgaTestSupport.h"

#include "decoding/NEMADecoding/GgaDecode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace GgaTest;
using NEMADecoding::NEMA_GPGGA;

namespace {

struct Expected {
    double latitude;
    uint16_t word6;  // frame header value, 0 for text
};

void ExpectUnits(const Feeder& feeder, const std::vector<Expected>& expected)
{
    ASSERT_EQ(feeder.Units().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const NEMA_GPGGA* g = AsGga(feeder.Units()[i].get());
        ASSERT_NE(g, nullptr);
        EXPECT_NEAR(g->latitude, expected[i].latitude, 1e-9) << "unit " << i;
        EXPECT_EQ(g->frameHeader.word6, expected[i].word6) << "unit " << i;
    }
}

// Every two-piece cut, and one byte at a time.
void CheckEveryCut(const std::string& stream, const std::vector<Expected>& expected)
{
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Feeder feeder(NEMADecoding::GgaDecode);
        feeder.Push(stream.substr(0, cut));
        feeder.Push(stream.substr(cut));
        ExpectUnits(feeder, expected);
        if (::testing::Test::HasFailure()) return;
    }
    SCOPED_TRACE("byte by byte");
    Feeder feeder(NEMADecoding::GgaDecode);
    for (char c : stream) feeder.Push(std::string(1, c));
    ExpectUnits(feeder, expected);
}

const std::string kRmc = Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") + "\r\n";
const std::string kGsa = Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1") + "\r\n";
const std::string kGgaA = Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") + "\r\n";
const std::string kGgaB = Sentence("GPGGA,123520,3000.000,S,01000.000,W,4,10,0.7,12.5,M,3.1,M,1.0,0042") + "\r\n";

}  // namespace

TEST(NemaGgaStream, TextSentencesCutAnywhere)
{
    CheckEveryCut(kRmc + kGgaA + kGsa + kGgaB, {{48.1173, 0}, {-30.0, 0}});
}

TEST(NemaGgaStream, KsxtSentencesCutAnywhere)
{
    std::string k1 = Sentence("KSXT,20190909084745.00,116.23662400,40.07897925,68.3830,299.72,-67.84,95.20,0.000,,"
                              "3,3,46,22,,,,-0.007,-0.002,-0.031,") +
                     "\r\n";
    std::string k2 = Sentence("KSXT,20190909084746.00,116.23662500,41.5,68.3830,299.72,-67.84,95.20,0.000,,"
                              "2,3,46,22,,,,-0.007,-0.002,-0.031,0.8") +
                     "\r\n";
    CheckEveryCut(k1 + k2, {{40.07897925, 0}, {41.5, 0}});
}

TEST(NemaGgaStream, FramesCutAnywhere)
{
    FrameFields a;
    a.word6 = 101;
    FrameFields other;
    other.type = 2;
    FrameFields b;
    b.word6 = 0x2A2A;  // '*' bytes in the header
    std::string stream = std::string("junk*") + Frame(kGgaA, a) + Frame("telemetry *0A", other) + Frame(kGgaB, b) +
                         "more junk";
    CheckEveryCut(stream, {{48.1173, 101}, {-30.0, 0x2A2A}});
}
