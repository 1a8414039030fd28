// GGA and KSXT text sentences: checksum rules, field conversions, the choice
// between several heads and what each call consumes.
#include "GgaTestSupport.h"

#include "decoding/NEMADecoding/GgaDecode.h"
#include "decoding/NEMADecoding/GgaSentence.h"
#include "decoding/NEMADecoding/NmeaFields.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

using namespace GgaTest;
using NEMADecoding::NEMA_GPGGA;

namespace {

const std::string kSampleBody = "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
const std::string kSample = "$" + kSampleBody + "*47";

Decoded Decode(const std::string& bytes)
{
    Decoded d;
    Tarnek::LogRoot* unit = reinterpret_cast<Tarnek::LogRoot*>(0x1);
    d.got = NEMADecoding::GgaDecode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &unit,
                                    &d.consumed);
    if (d.got) {
        d.unit.reset(unit);
    } else {
        EXPECT_EQ(unit, nullptr);
    }
    return d;
}

size_t StarPlus3(const std::string& s)
{
    return s.find('*') + 3;
}

std::string Join(const std::vector<std::string>& fields)
{
    std::string s;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) s += ",";
        s += fields[i];
    }
    return s;
}

std::string Gga(const std::vector<std::string>& fields)
{
    return Sentence("GPGGA," + Join(fields)) + "\r\n";
}

// The 20 fields of a KSXT sentence from a real receiver; quality is field 10.
std::vector<std::string> KsxtFields()
{
    return {"20190909084745.00", "116.23662400", "40.07897925", "68.3830", "299.72", "-67.84", "95.20",
            "0.000",             "",             "1",           "3",       "46",     "22",     "",
            "",                  "",             "-0.007",      "-0.002",  "-0.031", "1.5"};
}

std::string Ksxt(const std::vector<std::string>& fields)
{
    return Sentence("KSXT," + Join(fields)) + "\r\n";
}

}  // namespace

TEST(NemaGgaText, SampleSentenceDecodesEveryField)
{
    ASSERT_EQ(Sentence(kSampleBody), kSample);  // the builder agrees with the published checksum
    std::string input = kSample + "\r\n";

    time_t before = time(nullptr);
    Decoded d = Decode(input);
    time_t after = time(nullptr);

    ASSERT_TRUE(d.got);
    EXPECT_EQ(d.consumed, StarPlus3(input));
    const NEMA_GPGGA* g = d.gga();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetKind(), 21000);
    EXPECT_EQ(g->GetType(), 0);
    EXPECT_NEAR(g->latitude, 48.1173, 1e-9);
    EXPECT_NEAR(g->longitude, 11.516667, 5e-7);
    EXPECT_EQ(g->fixQuality, 1);
    EXPECT_EQ(g->satellites, 8);
    EXPECT_DOUBLE_EQ(g->hdop, 0.9);
    EXPECT_DOUBLE_EQ(g->altitude, 545.4);
    EXPECT_DOUBLE_EQ(g->geoidSeparation, 46.9);
    EXPECT_EQ(g->differentialAge, 0.0);
    EXPECT_EQ(g->stationId, 0);
    EXPECT_EQ(g->time.hour, 12);
    EXPECT_EQ(g->time.minute, 35);
    EXPECT_DOUBLE_EQ(g->time.second, 19.0);
    // The date is today's in UTC (either side of a midnight during the call).
    struct tm a, b;
    gmtime_r(&before, &a);
    gmtime_r(&after, &b);
    bool dateA = g->time.year == a.tm_year + 1900 && g->time.month == a.tm_mon + 1 && g->time.day == a.tm_mday;
    bool dateB = g->time.year == b.tm_year + 1900 && g->time.month == b.tm_mon + 1 && g->time.day == b.tm_mday;
    EXPECT_TRUE(dateA || dateB);
    EXPECT_STREQ(g->rawSentence, input.c_str());
    EXPECT_EQ(g->framePayloadLength, 0u);
    EXPECT_EQ(g->frameHeader.frameType, 0);
    EXPECT_EQ(g->frameHeader.word6, 0);

    std::unique_ptr<Tarnek::LogRoot> copy(g->Clone());
    const NEMA_GPGGA* c = AsGga(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(memcmp(c->rawSentence, g->rawSentence, sizeof(g->rawSentence)), 0);
    EXPECT_EQ(c->latitude, g->latitude);
    EXPECT_EQ(c->time.day, g->time.day);
}

// The checksum decides whatever follows the '*': a line end, the next
// sentence, or nothing.
TEST(NemaGgaText, ChecksumCases)
{
    const std::string bad = "$" + kSampleBody + "*48";
    std::string lower = Sentence("GPGGA,000001,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", false);
    ASSERT_NE(lower.find_first_of("abcdef", lower.find('*')), std::string::npos) << lower;
    struct Case {
        const char* name;
        std::string input;
        bool got;
    } cases[] = {
        {"good, CR LF", kSample + "\r\n", true},
        {"bad, CR LF", bad + "\r\n", false},
        {"good, no line end", kSample, true},
        {"bad, no line end", bad, false},
        {"bad, CR only", bad + "\r", false},
        {"good, CR only", kSample + "\r", true},
        {"bad, the next sentence in the same read", bad + "\r\n" + kSample.substr(0, 20), false},
        {"bad, followed by another whole sentence", bad + "\r\n$GPGSA,A,3*36\r\n", false},
        {"good, the next sentence in the same read", kSample + "\r\n" + kSample.substr(0, 20), true},
        {"lowercase hex digits", lower + "\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = Decode(c.input);
        EXPECT_EQ(d.got, c.got);
        EXPECT_EQ(d.consumed, StarPlus3(c.input));
    }
}

// A sentence cut inside its checksum waits, is not dropped, and is checked
// once the digits are there.
TEST(NemaGgaText, CutInsideTheChecksumWaitsForTheDigits)
{
    for (const std::string& head : {kSample.substr(0, kSample.size() - 1), kSample.substr(0, kSample.size() - 2)}) {
        SCOPED_TRACE(head);
        Decoded d = Decode(head);
        EXPECT_FALSE(d.got);
        EXPECT_EQ(d.consumed, 0u);
    }
    Feeder feeder(NEMADecoding::GgaDecode);
    feeder.Push("$" + kSampleBody + "*4");
    EXPECT_TRUE(feeder.Units().empty());
    feeder.Push("7\r\n");
    ASSERT_EQ(feeder.Units().size(), 1u);
    EXPECT_NEAR(AsGga(feeder.Units()[0].get())->latitude, 48.1173, 1e-9);

    Feeder wrong(NEMADecoding::GgaDecode);
    wrong.Push("$" + kSampleBody + "*");
    wrong.Push("48\r\n");
    EXPECT_TRUE(wrong.Units().empty());
}

TEST(NemaGgaText, FieldConversions)
{
    std::string longAltitude = std::string(125, '0') + "545.4";  // 130 characters, converted as 128
    struct Case {
        const char* name;
        std::vector<std::string> fields;
        double latitude, longitude;
        int quality;
        double altitude, age;
        int station;
    } cases[] = {
        {"south and west", {"1", "4807.038", "S", "01131.000", "W", "4", "12", "0.8", "5", "M", "1", "M", "", ""},
         -48.1173, -11.516667, 4, 5, 0, 0},
        {"lowercase hemisphere", {"1", "4807.038", "n", "01131.000", "e", "1", "1", "1", "5", "M", "1", "M", "", ""},
         0, 0, 1, 5, 0, 0},
        {"empty hemisphere", {"1", "4807.038", "", "01131.000", "", "1", "1", "1", "5", "M", "1", "M", "", ""},
         0, 0, 1, 5, 0, 0},
        {"two-letter hemisphere", {"1", "4807.038", "NN", "01131.000", "E", "1", "1", "1", "5", "M", "1", "M", "", ""},
         0, 11.516667, 1, 5, 0, 0},
        {"empty quality", {"1", "4807.038", "N", "01131.000", "E", "", "1", "1", "5", "M", "1", "M", "", ""},
         48.1173, 11.516667, -1, 5, 0, 0},
        {"two-digit quality", {"1", "4807.038", "N", "01131.000", "E", "12", "1", "1", "5", "M", "1", "M", "", ""},
         48.1173, 11.516667, -1, 5, 0, 0},
        {"letter quality", {"1", "4807.038", "N", "01131.000", "E", "x", "1", "1", "5", "M", "1", "M", "", ""},
         48.1173, 11.516667, -1, 5, 0, 0},
        {"age and station", {"1", "4807.038", "N", "01131.000", "E", "5", "1", "1", "5", "M", "1", "M", "2.5", "0123"},
         48.1173, 11.516667, 5, 5, 2.5, 123},
        {"field of 130 characters", {"1", "4807.038", "N", "01131.000", "E", "1", "1", "1", longAltitude, "M", "1", "M", "", ""},
         48.1173, 11.516667, 1, 545, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = Decode(Gga(c.fields));
        ASSERT_TRUE(d.got);
        const NEMA_GPGGA* g = d.gga();
        EXPECT_NEAR(g->latitude, c.latitude, 5e-7);
        EXPECT_NEAR(g->longitude, c.longitude, 5e-7);
        EXPECT_EQ(g->fixQuality, c.quality);
        EXPECT_DOUBLE_EQ(g->altitude, c.altitude);
        EXPECT_DOUBLE_EQ(g->differentialAge, c.age);
        EXPECT_EQ(g->stationId, c.station);
    }

    // Without a station field the age runs to the '*'.
    Decoded d = Decode(Sentence("GPGGA,1,4807.038,N,01131.000,E,1,1,1,5,M,1,M,3.0") + "\r\n");
    ASSERT_TRUE(d.got);
    EXPECT_DOUBLE_EQ(d.gga()->differentialAge, 3.0);
    EXPECT_EQ(d.gga()->stationId, 0);
}

TEST(NemaGgaText, MalformedSentencesGiveNothing)
{
    struct Case {
        const char* name;
        std::string input;
    } cases[] = {
        {"fields end early", Sentence("GPGGA,123519,4807.038,N") + "\r\n"},
        {"no comma after the unit of the geoid", Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9") + "\r\n"},
        {"latitude not a number", Gga({"1", "nan", "N", "01131.000", "E", "1", "1", "1", "5", "M", "1", "M", "", ""})},
        {"infinite altitude", Gga({"1", "4807.038", "N", "01131.000", "E", "1", "1", "1", "inf", "M", "1", "M", "", ""})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = Decode(c.input);
        EXPECT_FALSE(d.got);
        EXPECT_EQ(d.consumed, StarPlus3(c.input));
    }
}

TEST(NemaGgaText, UtcTimeField)
{
    NEMADecoding::GnssTime t;
    NEMADecoding::GnssTime_Init(&t);
    EXPECT_EQ(t.year, 1980);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 6);
    NEMADecoding::ParseUtcTime("235959.123", 10, &t);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_DOUBLE_EQ(t.second, 59.123);
    NEMADecoding::ParseUtcTime("0102", 4, &t);  // too short: no time of day
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 0.0);
    EXPECT_GT(t.year, 2000);
}

TEST(NemaGgaText, KsxtQualityMapping)
{
    struct Case {
        const char* quality;
        int fixQuality;
    } cases[] = {{"1", 1}, {"2", 5}, {"3", 4}, {"0", 0}, {"", 0}, {"7", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quality);
        std::vector<std::string> fields = KsxtFields();
        fields[9] = c.quality;
        Decoded d = Decode(Ksxt(fields));
        ASSERT_TRUE(d.got);
        EXPECT_EQ(d.gga()->fixQuality, c.fixQuality);
    }
}

TEST(NemaGgaText, KsxtFields)
{
    std::string input = Ksxt(KsxtFields());
    Decoded d = Decode(input);
    ASSERT_TRUE(d.got);
    EXPECT_EQ(d.consumed, StarPlus3(input));
    const NEMA_GPGGA* g = d.gga();
    EXPECT_DOUBLE_EQ(g->longitude, 116.236624);
    EXPECT_DOUBLE_EQ(g->latitude, 40.07897925);
    EXPECT_DOUBLE_EQ(g->altitude, 68.383);
    EXPECT_EQ(g->satellites, 22);
    EXPECT_DOUBLE_EQ(g->differentialAge, 1.5);
    EXPECT_EQ(g->geoidSeparation, 0.0);
    EXPECT_EQ(g->hdop, 0.0);
    EXPECT_EQ(g->stationId, 0);
    EXPECT_EQ(g->time.year, 2019);
    EXPECT_EQ(g->time.month, 9);
    EXPECT_EQ(g->time.day, 9);
    EXPECT_EQ(g->time.hour, 8);
    EXPECT_EQ(g->time.minute, 47);
    EXPECT_EQ(g->time.second, 45.0);

    std::vector<std::string> fields = KsxtFields();
    fields[0] = "yesterday";
    d = Decode(Ksxt(fields));
    ASSERT_TRUE(d.got);
    EXPECT_EQ(d.gga()->time.year, 0);
    EXPECT_EQ(d.gga()->time.hour, 0);

    fields = KsxtFields();
    fields.resize(18);  // field 19 lacks its ','
    EXPECT_FALSE(Decode(Ksxt(fields)).got);
}

TEST(NemaGgaText, LastHeadInOrderDecides)
{
    std::string gp = Gga({"1", "1000.000", "N", "01000.000", "E", "1", "1", "1", "5", "M", "1", "M", "", ""});
    std::string gn = Sentence("GNGGA,1,2000.000,N,02000.000,E,1,1,1,5,M,1,M,,") + "\r\n";
    std::string ksxtBad = Sentence("KSXT,1,2,3") + "\r\n";

    // GN comes after GP in the order: GN decides, and is consumed with
    // everything before it.
    Decoded d = Decode(gp + gn);
    ASSERT_TRUE(d.got);
    EXPECT_NEAR(d.gga()->latitude, 20.0, 1e-9);
    EXPECT_EQ(d.consumed, (gp + gn).size() - 2);

    // GN first in the buffer: it decides, and the GP behind it stays for the
    // next call.
    d = Decode(gn + gp);
    ASSERT_TRUE(d.got);
    EXPECT_NEAR(d.gga()->latitude, 20.0, 1e-9);
    EXPECT_EQ(d.consumed, gn.size() - 2);

    // A KSXT head decides even when it fails.
    d = Decode(gn + ksxtBad);
    EXPECT_FALSE(d.got);
}

// A rover that sends RMC before GGA gets its position decoded once, and the
// GGA bytes are consumed with it.
TEST(NemaGgaText, SentenceBeforeTheGgaIsSkippedAndTheGgaDecodedOnce)
{
    std::string rmc = Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") + "\r\n";
    std::string input = rmc + kSample + "\r\n";
    Decoded d = Decode(input);
    ASSERT_TRUE(d.got);
    EXPECT_NEAR(d.gga()->latitude, 48.1173, 1e-9);
    EXPECT_EQ(d.consumed, input.size() - 2);
    EXPECT_STREQ(d.gga()->rawSentence, (kSample + "\r\n").c_str());

    Feeder feeder(NEMADecoding::GgaDecode);
    feeder.Push(input);
    EXPECT_EQ(feeder.Units().size(), 1u);
}

TEST(NemaGgaText, BytesWithoutStar)
{
    EXPECT_EQ(Decode(std::string(600, 'x')).consumed, 300u);
    EXPECT_EQ(Decode(std::string(500, 'x')).consumed, 0u);
    EXPECT_EQ(Decode(std::string(513, 'x')).consumed, 256u);
    EXPECT_EQ(Decode("$GPGGA,123519,4807.038,N,").consumed, 0u);
    Decoded empty = Decode("");
    EXPECT_FALSE(empty.got);
    EXPECT_EQ(empty.consumed, 0u);
}

// A stray '*' never takes the start of the sentence behind it.
TEST(NemaGgaText, StrayStarKeepsTheNextSentence)
{
    std::string next = kSample + "\r\n";
    Feeder feeder(NEMADecoding::GgaDecode);
    feeder.Push("x*" + next.substr(0, 10));
    EXPECT_EQ(feeder.Queue(), next.substr(0, 10));
    feeder.Push(next.substr(10));
    ASSERT_EQ(feeder.Units().size(), 1u);
    EXPECT_NEAR(AsGga(feeder.Units()[0].get())->latitude, 48.1173, 1e-9);
}

TEST(NemaGgaText, LongTailAfterTheStarIsRefused)
{
    LogCapture log;
    std::string input = kSample + "\r\n" + std::string(1400, 'x');
    Decoded d = Decode(input);
    EXPECT_FALSE(d.got);
    EXPECT_EQ(d.consumed, StarPlus3(input));
    size_t star = input.find('*');
    EXPECT_TRUE(log.Has("[info] GGA decode, buffer size:" + std::to_string(input.size()) +
                             ", starPos:" + std::to_string(star) +
                             ", size-starPos:" + std::to_string(input.size() - star) + "."))
        << log.Text();
}

TEST(NemaGgaText, RawSentenceKeepsAtMost255Characters)
{
    std::string input = kSample + "\r\n" + std::string(300, 'y');
    Decoded d = Decode(input);
    ASSERT_TRUE(d.got);
    EXPECT_EQ(strlen(d.gga()->rawSentence), 255u);
    EXPECT_EQ(std::string(d.gga()->rawSentence), input.substr(0, 255));
}

// The source-table answer hands over the whole zero-padded "Ntrip-GGA:" field.
TEST(NemaGgaText, ZeroPaddedHeaderField)
{
    char field[129] = {0};
    memcpy(field, kSample.data(), kSample.size());
    Tarnek::LogRoot* unit = nullptr;
    size_t consumed = 0;
    ASSERT_TRUE(NEMADecoding::GgaDecode(reinterpret_cast<const unsigned char*>(field), 128, &unit, &consumed));
    std::unique_ptr<Tarnek::LogRoot> owned(unit);
    EXPECT_NEAR(AsGga(unit)->latitude, 48.1173, 1e-9);
    EXPECT_STREQ(AsGga(unit)->rawSentence, kSample.c_str());
}

TEST(NemaGgaText, Helpers)
{
    EXPECT_EQ(NEMADecoding::ParseHex("4a", 2), 0x4Au);
    EXPECT_EQ(NEMADecoding::ParseHex("F0", 2), 0xF0u);
    EXPECT_EQ(NEMADecoding::ParseHex("zz", 2), 0u);
    EXPECT_EQ(NEMADecoding::ParseHex("7z", 2), 0x70u);
    EXPECT_NEAR(NEMADecoding::NmeaToDegrees("01131.000"), 11.516666667, 1e-9);
    EXPECT_NEAR(NEMADecoding::NmeaToDegrees("-4807.038"), -48.1173, 1e-9);
    const unsigned char bytes[] = {'a', 0, 'b', 'c', 0, 'x'};
    EXPECT_EQ(NEMADecoding::ByteSpan_Find2(bytes, sizeof(bytes), "bc"), 2);  // past a zero byte
    EXPECT_EQ(NEMADecoding::ByteSpan_Find2(bytes, sizeof(bytes), "x"), 5);
    EXPECT_EQ(NEMADecoding::ByteSpan_Find2(bytes, 5, "x"), -1);
}

// Sentences as real receivers send them, one after the other in a read.
namespace {
const std::string kDublin = "$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*76";
const std::string kMunich = "$GNGGA,123519.50,4807.038,N,01131.000,E,4,12,0.9,545.4,M,46.9,M,1.2,0031*53";
}  // namespace

TEST(NemaGgaText, ReceiverSentencesDecodeIntoSignedDegrees)
{
    Decoded munich = Decode(kMunich + "\r\n");
    ASSERT_TRUE(munich.got);
    const NEMA_GPGGA* g = munich.gga();
    EXPECT_EQ(12, g->time.hour);
    EXPECT_EQ(35, g->time.minute);
    EXPECT_DOUBLE_EQ(19.5, g->time.second);
    EXPECT_NEAR(48.1173, g->latitude, 1e-9);
    EXPECT_NEAR(11.5166666667, g->longitude, 1e-9);
    EXPECT_EQ(4, g->fixQuality);
    EXPECT_EQ(12, g->satellites);
    EXPECT_DOUBLE_EQ(0.9, g->hdop);
    EXPECT_DOUBLE_EQ(545.4, g->altitude);
    EXPECT_DOUBLE_EQ(46.9, g->geoidSeparation);
    EXPECT_DOUBLE_EQ(1.2, g->differentialAge);

    // West of Greenwich the longitude is negative; no age sent reads as 0.
    Decoded dublin = Decode(kDublin + "\r\n");
    ASSERT_TRUE(dublin.got);
    EXPECT_NEAR(-6.50562, dublin.gga()->longitude, 1e-9);
    EXPECT_EQ(8, dublin.gga()->satellites);
    EXPECT_DOUBLE_EQ(0.0, dublin.gga()->differentialAge);

    // A wrong checksum digit gives nothing.
    std::string wrong = kMunich;
    wrong.back() = '4';
    EXPECT_FALSE(Decode(wrong + "\r\n").got);
}

// The GGA log writes the decoded sentence: the head through the checksum,
// without the line end or what followed it.
TEST(NemaGgaText, SentenceLengthEndsAtTheChecksum)
{
    const std::string ksxt = "$KSXT,20260101,1,2,3*22";
    struct Case {
        std::string raw;
        size_t length;
    } cases[] = {
        {kMunich + "\r\n", kMunich.size()},
        {kDublin + "\r\n" + kMunich + "\r\n", kDublin.size()},
        {ksxt, ksxt.size()},
        {kDublin.substr(0, kDublin.size() - 1), 0},  // one checksum digit only
        {kDublin.substr(0, 40), 0},                  // no '*' yet
        {"", 0},
    };
    for (const Case& c : cases) {
        NEMA_GPGGA unit;
        ASSERT_LT(c.raw.size(), sizeof(unit.rawSentence));
        memcpy(unit.rawSentence, c.raw.c_str(), c.raw.size() + 1);
        EXPECT_EQ(c.length, unit.SentenceLength()) << c.raw;
    }

    // Of two sentences in one read the decoder cuts out the one it decoded.
    Decoded d = Decode(std::string("junk") + kDublin + "\r\n" + kMunich + "\r\n");
    ASSERT_TRUE(d.got);
    EXPECT_EQ(kMunich, std::string(d.gga()->rawSentence, d.gga()->SentenceLength()));
}
