// Picking the GGA sentences of a rover's bytes for its GGA log.
#include "caster/session/GgaFinder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char* const kDublin = "$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*76";
const char* const kMunich = "$GNGGA,123519.50,4807.038,N,01131.000,E,4,12,0.9,545.4,M,46.9,M,1.2,0031*53";
const char* const kKsxt = "$KSXT,20260101,1,2,3*22";

bool Check(const std::string& s) { return NmeaCheckSum(s.c_str(), s.size()); }

}  // namespace

TEST(GgaChecksum, HoldsOnlyForTheRightTwoDigits)
{
    EXPECT_TRUE(Check(kDublin));
    EXPECT_TRUE(Check(kMunich));
    EXPECT_TRUE(Check("$GPGGA,1*4B"));
    EXPECT_TRUE(Check("$GPGGA,1*4b"));  // either case
    std::string wrong = kDublin;
    wrong.back() = '7';
    EXPECT_FALSE(Check(wrong));
    EXPECT_FALSE(Check("$GPGGA,1,2,3"));  // no '*'
    EXPECT_FALSE(Check("$GPGGA,1*7"));    // one digit only
    EXPECT_FALSE(Check("$GPGGA,1*G0"));
    EXPECT_FALSE(NmeaCheckSum(nullptr, 4));
}

TEST(GgaFields, AreReadIntoDegreesAndNumbers)
{
    GgaInfo info;
    memset(&info, 0, sizeof(info));
    ASSERT_TRUE(ParseGGA(kMunich, strlen(kMunich), &info));
    EXPECT_EQ(12, info.hour);
    EXPECT_EQ(35, info.minute);
    EXPECT_DOUBLE_EQ(19.5, info.seconds);
    EXPECT_NEAR(48.1173, info.latitude, 1e-9);
    EXPECT_EQ('N', info.northSouth);
    EXPECT_NEAR(11.5166666667, info.longitude, 1e-9);
    EXPECT_EQ('E', info.eastWest);
    EXPECT_EQ(4, info.fixQuality);
    EXPECT_EQ(12, info.satellites);
    EXPECT_DOUBLE_EQ(0.9, info.hdop);
    EXPECT_DOUBLE_EQ(545.4, info.altitude);
    EXPECT_DOUBLE_EQ(46.9, info.geoidSeparation);
    EXPECT_DOUBLE_EQ(1.2, info.differentialAge);

    // The hemisphere stays in its own field; the degrees stay positive.
    ASSERT_TRUE(ParseGGA(kDublin, strlen(kDublin), &info));
    EXPECT_NEAR(6.50562, info.longitude, 1e-9);
    EXPECT_EQ('W', info.eastWest);
    EXPECT_DOUBLE_EQ(0.0, info.differentialAge);
}

TEST(GgaFields, AWrongChecksumLeavesTheRecordAlone)
{
    GgaInfo info;
    memset(&info, 0, sizeof(info));
    info.satellites = 99;
    std::string wrong = kMunich;
    wrong.back() = '4';
    EXPECT_FALSE(ParseGGA(wrong.c_str(), wrong.size(), &info));
    EXPECT_EQ(99, info.satellites);
}

TEST(FindGga, ReturnsTheLastCompleteSentence)
{
    char sentence[GGA_SENTENCE_SIZE];
    GgaInfo info;
    memset(&info, 0, sizeof(info));
    std::string two = std::string("junk") + kDublin + "\r\n" + kMunich + "\r\n";
    ASSERT_TRUE(FindGGA(two.data(), two.size(), sentence, &info));
    EXPECT_STREQ(kMunich, sentence);
    EXPECT_EQ(12, info.satellites);

    // A second sentence cut before its checksum: the first one is the answer.
    std::string cut = std::string(kDublin) + "\r\n" + std::string(kMunich).substr(0, 60);
    ASSERT_TRUE(FindGGA(cut.data(), cut.size(), sentence, nullptr));
    EXPECT_STREQ(kDublin, sentence);

    // Only one digit of the checksum arrived.
    std::string oneDigit = std::string(kDublin).substr(0, strlen(kDublin) - 1);
    EXPECT_FALSE(FindGGA(oneDigit.data(), oneDigit.size(), sentence, nullptr));
}

TEST(FindGga, TakesKsxtAndCopiesABadChecksumWithoutReadingIt)
{
    char sentence[GGA_SENTENCE_SIZE];
    ASSERT_TRUE(FindGGA(kKsxt, strlen(kKsxt), sentence, nullptr));
    EXPECT_STREQ(kKsxt, sentence);

    GgaInfo info;
    memset(&info, 0, sizeof(info));
    std::string wrong = kMunich;
    wrong.back() = '0';
    ASSERT_TRUE(FindGGA(wrong.data(), wrong.size(), sentence, &info));
    EXPECT_EQ(wrong, sentence);
    EXPECT_EQ(0, info.satellites);

    // Other sentences and sentences of 200 bytes or more are passed over.
    const char* rmc = "$GPRMC,092750.000,A,5321.6802,N,00630.3372,W*00";
    EXPECT_FALSE(FindGGA(rmc, strlen(rmc), sentence, nullptr));
    std::string longOne = "$GPGGA," + std::string(200, '1') + "*00";
    EXPECT_FALSE(FindGGA(longOne.data(), longOne.size(), sentence, nullptr));
    // Fewer than 10 bytes after the '$'.
    EXPECT_FALSE(FindGGA("$GPGGA,*1", 9, sentence, nullptr));
}
