// Station positions from RTCM 3 messages 1005 and 1006. Frames are built
// here with a CRC-24Q computed bit by bit from its definition, and checked
// against a published 1005 frame.
#include "decoding/RTCMDecoding/Crc24q.h"
#include "decoding/RTCMDecoding/EcefToGeodetic.h"
#include "decoding/RTCMDecoding/RtcmDecode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using RTCMDecoding::RTCM3Log_1005;

namespace {

typedef std::vector<unsigned char> Bytes;

uint32_t TestCrc24q(const Bytes& bytes, size_t count)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint32_t>(bytes[i]) << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000) crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

class BitWriter {
public:
    explicit BitWriter(size_t bytes) : data_(bytes, 0) {}
    void Put(uint64_t value, unsigned width)
    {
        for (unsigned i = 0; i < width; ++i) {
            if ((value >> (width - 1 - i)) & 1) data_[pos_ / 8] |= static_cast<unsigned char>(0x80 >> (pos_ % 8));
            ++pos_;
        }
    }
    Bytes& Data() { return data_; }

private:
    Bytes data_;
    size_t pos_ = 0;
};

// A station-position frame; coordinates in metres, rounded to 0.1 mm.
// lengthField 0 means the one the message calls for.
Bytes StationFrame(unsigned number, double x, double y, double z, unsigned lengthField = 0)
{
    size_t payload = number == 1006 ? 21 : 19;
    if (number == 1007) payload = 39;
    BitWriter w(3 + payload + 3);
    w.Put(0xD3, 8);
    w.Put(0, 6);
    w.Put(lengthField ? lengthField : payload, 10);
    w.Put(number, 12);
    w.Put(2003, 12);  // station ID
    w.Put(0, 6);      // ITRF year
    w.Put(0x7, 4);    // indicators
    auto ecef = [](double m) { return static_cast<uint64_t>(std::llround(m * 10000.0)) & ((uint64_t(1) << 38) - 1); };
    w.Put(ecef(x), 38);
    w.Put(0, 2);
    w.Put(ecef(y), 38);
    w.Put(0, 2);
    w.Put(ecef(z), 38);
    if (number == 1006) w.Put(15000, 16);  // antenna height 1.5 m, not read
    Bytes& frame = w.Data();
    uint32_t crc = TestCrc24q(frame, frame.size() - 3);
    frame[frame.size() - 3] = static_cast<unsigned char>(crc >> 16);
    frame[frame.size() - 2] = static_cast<unsigned char>(crc >> 8);
    frame[frame.size() - 1] = static_cast<unsigned char>(crc);
    return frame;
}

// The worked example: a station near Beijing.
const double kX = -2148744.3, kY = 4426641.0, kZ = 4044655.9;
const double kLatitude = 39.6086020, kLongitude = 115.8924889, kHeight = 87.321;

// Published RTCM 3 message 1005: station 2003, X 1114104.5999 m,
// Y -4850729.7108 m, Z 3975521.4643 m.
const Bytes kKnown1005 = {0xD3, 0x00, 0x13, 0x3E, 0xD7, 0xD3, 0x02, 0x02, 0x98, 0x0E, 0xDE, 0xEF, 0x34,
                          0xB4, 0xBD, 0x62, 0xAC, 0x09, 0x41, 0x98, 0x6F, 0x33, 0x36, 0x0B, 0x98};

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Junk(size_t n, unsigned char seed = 0x10)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + i * 7) == 0xD3 ? 0x00 : static_cast<unsigned char>(seed + i * 7);
    return b;
}

struct Decoded {
    bool got = false;
    size_t consumed = 0;
    std::unique_ptr<Tarnek::LogRoot> unit;
    const RTCM3Log_1005* position() const { return dynamic_cast<const RTCM3Log_1005*>(unit.get()); }
};

Decoded Decode(const Bytes& bytes)
{
    Decoded d;
    Tarnek::LogRoot* unit = nullptr;
    d.got = RTCMDecoding::RtcmDecode(bytes.data(), bytes.size(), &unit, &d.consumed);
    if (d.got) {
        d.unit.reset(unit);
    } else {
        EXPECT_EQ(unit, nullptr);
    }
    return d;
}

size_t CountNonPreamble(const Bytes& b)
{
    size_t n = 0;
    for (unsigned char c : b) n += c != 0xD3;
    return n;
}

// Drives the decoder as the base executor does: append, decode until
// nothing is consumed.
class Feeder {
public:
    void Push(const Bytes& chunk)
    {
        queue_.insert(queue_.end(), chunk.begin(), chunk.end());
        for (int guard = 0; guard < 100000 && !queue_.empty(); ++guard) {
            Tarnek::LogRoot* unit = nullptr;
            size_t consumed = 0;
            if (RTCMDecoding::RtcmDecode(queue_.data(), queue_.size(), &unit, &consumed)) units_.emplace_back(unit);
            if (consumed == 0) break;
            queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(std::min(consumed, queue_.size())));
        }
    }
    const std::vector<std::unique_ptr<Tarnek::LogRoot>>& Units() const { return units_; }

private:
    Bytes queue_;
    std::vector<std::unique_ptr<Tarnek::LogRoot>> units_;
};

double LatitudeOf(const Tarnek::LogRoot* unit)
{
    return dynamic_cast<const RTCM3Log_1005*>(unit)->latitude;
}

}  // namespace

TEST(RtcmCrc24q, PublishedFrameAndEveryFlippedBit)
{
    EXPECT_TRUE(RTCMDecoding::Crc24qCheck(kKnown1005.data(), kKnown1005.size()));
    EXPECT_EQ(TestCrc24q(kKnown1005, kKnown1005.size()), 0u);
    EXPECT_EQ(RTCMDecoding::Crc24q(kKnown1005.data(), 22), 0x360B98u);
    EXPECT_TRUE(RTCMDecoding::Crc24qCheck(kKnown1005.data(), 0));
    for (size_t bit = 0; bit < kKnown1005.size() * 8; ++bit) {
        Bytes flipped = kKnown1005;
        flipped[bit / 8] ^= static_cast<unsigned char>(0x80 >> (bit % 8));
        EXPECT_FALSE(RTCMDecoding::Crc24qCheck(flipped.data(), flipped.size())) << "bit " << bit;
    }
}

TEST(RtcmEcef, WorkedExample)
{
    double lat = 0, lon = 0, h = 0;
    ASSERT_TRUE(RTCMDecoding::EcefToGeodetic(&lat, &lon, &h, kX, kY, kZ));
    EXPECT_NEAR(lat * 57.29577951308232, kLatitude, 1e-7);
    EXPECT_NEAR(lon * 57.29577951308232, kLongitude, 1e-7);
    EXPECT_NEAR(h, kHeight, 1e-3);
}

TEST(RtcmEcef, LongitudeOnTheAxes)
{
    double lat = 1, lon = 1, h = 1;
    ASSERT_TRUE(RTCMDecoding::EcefToGeodetic(&lat, &lon, &h, -6378137.0, 0.0, 0.0));
    EXPECT_DOUBLE_EQ(lon * 57.29577951308232, 180.0);
    EXPECT_NEAR(lat, 0.0, 1e-12);
    EXPECT_NEAR(h, 0.0, 1e-6);
    lon = 1;
    ASSERT_TRUE(RTCMDecoding::EcefToGeodetic(&lat, &lon, &h, 0.0, 0.0, 0.0));
    EXPECT_EQ(lon, 0.0);
}

// Points near the earth's centre never settle: the conversion gives up after
// a bounded number of rounds, and such a frame yields nothing.
TEST(RtcmEcef, PointNearTheCentreGivesUp)
{
    double lat = 7, lon = 7, h = 7;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RTCMDecoding::EcefToGeodetic(&lat, &lon, &h, 20000.0, 20000.0, 20000.0));
    EXPECT_FALSE(RTCMDecoding::EcefToGeodetic(&lat, &lon, &h, 30000.0, 0.0, 30000.0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(lat, 7);
    EXPECT_EQ(h, 7);

    Bytes frame = StationFrame(1005, 20000.0, 20000.0, 20000.0);
    Bytes input = Cat({frame, StationFrame(1005, kX, kY, kZ)});
    Decoded d = Decode(input);
    ASSERT_TRUE(d.got);  // the frame behind it still comes out
    EXPECT_NEAR(d.position()->latitude, kLatitude, 1e-7);
    EXPECT_EQ(d.consumed, input.size());
}

TEST(RtcmDecode, PublishedFrame)
{
    Decoded d = Decode(kKnown1005);
    ASSERT_TRUE(d.got);
    EXPECT_EQ(d.consumed, 25u);
    EXPECT_NEAR(d.position()->latitude, 38.8047594, 1e-7);
    EXPECT_NEAR(d.position()->longitude, -77.0647736, 1e-7);
    EXPECT_NEAR(d.position()->height, 114.561, 1e-3);
    EXPECT_EQ(d.unit->GetKind(), 24000);
    EXPECT_EQ(d.unit->GetType(), 0);
    std::unique_ptr<Tarnek::LogRoot> copy(d.unit->Clone());
    const RTCM3Log_1005* c = dynamic_cast<const RTCM3Log_1005*>(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->latitude, d.position()->latitude);
    EXPECT_EQ(c->longitude, d.position()->longitude);
    EXPECT_EQ(c->height, d.position()->height);
}

TEST(RtcmDecode, Frames)
{
    Bytes f1005 = StationFrame(1005, kX, kY, kZ);
    Bytes f1006 = StationFrame(1006, kX, kY, kZ);
    Bytes flipped = f1005;
    flipped[12] ^= 0x04;
    Bytes preambleJunk = {0xD3, 0x11, 0x22, 0xD3, 0x00};
    struct Case {
        const char* name;
        Bytes input;
        bool got;
        size_t consumed;
    } cases[] = {
        {"1005 behind 10 other bytes", Cat({Junk(10), f1005}), true, 35},
        {"1006 behind 3 bytes", Cat({Junk(3), f1006}), true, 30},
        {"0xD3 bytes that start no frame, then a 1005", Cat({preambleJunk, f1005}), true, 30},
        {"length field disagrees", StationFrame(1005, kX, kY, kZ, 300), true, 25},
        {"two frames: the first", Cat({f1005, StationFrame(1005, 1e6, 1e6, 6e6)}), true, 25},
        {"one flipped bit", Cat({Junk(4), flipped}), false, CountNonPreamble(Cat({Junk(4), flipped}))},
        {"message 1004", StationFrame(1004, kX, kY, kZ), false, CountNonPreamble(StationFrame(1004, kX, kY, kZ))},
        {"message 1074", StationFrame(1074, kX, kY, kZ), false, CountNonPreamble(StationFrame(1074, kX, kY, kZ))},
        {"message 4000", StationFrame(4000, kX, kY, kZ), false, CountNonPreamble(StationFrame(4000, kX, kY, kZ))},
        {"message 1007 with a valid CRC", StationFrame(1007, kX, kY, kZ), false,
         CountNonPreamble(StationFrame(1007, kX, kY, kZ))},
        {"five bytes from 0xD3", Bytes(f1005.begin(), f1005.begin() + 5), false, 0},
        {"only 0xD3 bytes", Bytes(40, 0xD3), false, 0},
        {"empty", Bytes(), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = Decode(c.input);
        EXPECT_EQ(d.got, c.got);
        EXPECT_EQ(d.consumed, c.consumed);
        if (d.got) {
            EXPECT_NEAR(d.position()->latitude, kLatitude, 1e-7);
            EXPECT_NEAR(d.position()->longitude, kLongitude, 1e-7);
            EXPECT_NEAR(d.position()->height, kHeight, 2e-3);
        }
    }
}

// The bytes before a 1005/1006 that is still arriving are dropped; the frame
// itself waits and is decoded once it is whole.
TEST(RtcmDecode, FrameStillArrivingIsKept)
{
    Bytes f1006 = StationFrame(1006, kX, kY, kZ);
    Bytes stream = Cat({Junk(10), f1006});
    for (size_t cut = 11; cut < stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        Decoded d = Decode(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
        EXPECT_FALSE(d.got);
        EXPECT_EQ(d.consumed, 10u);
    }
}

TEST(RtcmDecode, StreamCutAnywhere)
{
    Bytes a = StationFrame(1005, kX, kY, kZ);
    Bytes msm = StationFrame(1074, 1.0, 2.0, 3.0);  // passed over
    Bytes b = StationFrame(1006, 1114104.5999, -4850729.7108, 3975521.4643);
    Bytes stream = Cat({Junk(7), a, msm, Bytes{0xD3, 0xD3}, b, Junk(9, 0x41)});
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        Feeder feeder;
        feeder.Push(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
        feeder.Push(Bytes(stream.begin() + static_cast<long>(cut), stream.end()));
        ASSERT_EQ(feeder.Units().size(), 2u);
        EXPECT_NEAR(LatitudeOf(feeder.Units()[0].get()), kLatitude, 1e-7);
        EXPECT_NEAR(LatitudeOf(feeder.Units()[1].get()), 38.8047594, 1e-7);
    }
    Feeder bytewise;
    for (unsigned char c : stream) bytewise.Push(Bytes{c});
    EXPECT_EQ(bytewise.Units().size(), 2u);
}
