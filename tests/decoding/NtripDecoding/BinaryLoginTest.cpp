#include "decoding/NtripDecoding/BinaryLogin.h"
#include "decoding/NtripDecoding/ByteSpan.h"
#include "decoding/NtripDecoding/LoginFrameCrc16.h"
#include "decoding/NtripDecoding/NtripRequestDecode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace NtripDecoding;

namespace {

typedef std::vector<unsigned char> Bytes;

// One AA 55 DD frame with a correct CRC unless told otherwise.
Bytes Frame(uint8_t flags, uint16_t user1, uint32_t user2, uint8_t type, const std::string& payload,
            bool goodCrc = true)
{
    Bytes f(BINARY_FRAME_HEADER_SIZE, 0);
    f[0] = 0xAA;
    f[1] = 0x55;
    f[2] = 0xDD;
    f[3] = 0x03;
    f[4] = 0x04;
    f[5] = 0x05;
    f[6] = user1 & 0xFF;
    f[7] = user1 >> 8;
    f[8] = user2 & 0xFF;
    f[9] = (user2 >> 8) & 0xFF;
    f[10] = (user2 >> 16) & 0xFF;
    f[11] = flags;
    f[12] = payload.size() & 0xFF;
    f[13] = (payload.size() >> 8) & 0xFF;
    f[14] = type;
    f.insert(f.end(), payload.begin(), payload.end());
    uint16_t crc = LoginFrameCrc16(f.data(), f.size());
    if (!goodCrc) crc ^= 0x0100;
    f.push_back(crc & 0xFF);
    f.push_back(crc >> 8);
    return f;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Decoded {
    bool result = false;
    size_t consumed = 0;
    std::unique_ptr<Tarnek::LogRoot> unit;
    NtripClientLoginRequest* Client() const { return static_cast<NtripClientLoginRequest*>(unit.get()); }
};

Decoded Decode(const Bytes& bytes)
{
    Decoded d;
    Tarnek::LogRoot* unit = nullptr;
    d.result = Ntrip1CasterDecode(bytes.data(), bytes.size(), &unit, &d.consumed);
    d.unit.reset(unit);
    return d;
}

}  // namespace

TEST(LoginFrameCrc16, CheckValue)
{
    EXPECT_EQ(0x3D48, LoginFrameCrc16(reinterpret_cast<const unsigned char*>("123456789"), 9));
    EXPECT_EQ(0, LoginFrameCrc16(nullptr, 5));
    EXPECT_EQ(0, LoginFrameCrc16(reinterpret_cast<const unsigned char*>("x"), 0));
}

TEST(BinaryLogin, ExampleFrameLogsInToNearestAndIsConsumedWhole)
{
    Bytes frame = Frame(0x81, 7, 0x011234, 1, "payload");
    Decoded d = Decode(frame);
    ASSERT_TRUE(d.result);
    ASSERT_NE(nullptr, d.unit.get());
    ASSERT_EQ(NTRIP_CLIENT_LOGIN_REQUEST, d.unit->GetType());
    NtripClientLoginRequest* r = d.Client();
    EXPECT_STREQ("NEAREST", r->mountPoint);
    EXPECT_STREQ("7_70196_AS", r->user);
    EXPECT_EQ(0, memcmp(r->password, "\x07\x00\x34\x12\x01\x81", 6));
    for (int i = 6; i < static_cast<int>(sizeof(r->password)); ++i) EXPECT_EQ(0, r->password[i]);
    EXPECT_STREQ("", r->userAgent);
    const BinaryLoginRecord& b = r->binaryLogin;
    EXPECT_EQ(0x03, b.byte3);
    EXPECT_EQ(0x0504, b.word4);
    EXPECT_EQ(7, b.userNumber);
    EXPECT_EQ(0x1234, b.word8);
    EXPECT_EQ(0x01, b.byte10);
    EXPECT_EQ(0x81, b.flags);
    EXPECT_EQ(7, b.length);
    EXPECT_EQ(1, b.frameType);
    EXPECT_EQ(0, memcmp(b.payload, "payload", 7));
    EXPECT_EQ(7u, b.payloadLength);
    // The frame is used up: the rest of the buffer must not log the rover in again.
    EXPECT_EQ(frame.size(), d.consumed);
}

TEST(BinaryLogin, UserNameLettersComeFromTheFlags)
{
    struct {
        uint8_t flags;
        const char* user;
    } cases[] = {{0x00, "1_2_BM"}, {0x01, "1_2_AM"}, {0x02, "1_2_BM"}, {0x03, "1_2_BM"},
                 {0x80, "1_2_BS"}, {0x81, "1_2_AS"}, {0x7D, "1_2_AM"}, {0xFF, "1_2_BS"}};
    for (const auto& c : cases) {
        Decoded d = Decode(Frame(c.flags, 1, 2, 1, ""));
        ASSERT_TRUE(d.result) << int(c.flags);
        EXPECT_STREQ(c.user, d.Client()->user) << int(c.flags);
    }
    Decoded big = Decode(Frame(0x81, 65535, 0xFFFFFF, 1, ""));
    ASSERT_TRUE(big.result);
    EXPECT_STREQ("65535_16777215_AS", big.Client()->user);
}

TEST(BinaryLogin, FrameTable)
{
    Bytes login = Frame(0x81, 7, 0x011234, 1, "abc");
    Bytes other = Frame(0x81, 9, 9, 2, "not a login");
    Bytes tooLong = Frame(0x81, 9, 9, 1, std::string(200, 'x'));
    Bytes longest = Frame(0x81, 8, 8, 1, std::string(199, 'x'));
    Bytes badCrc = Frame(0x81, 9, 9, 1, "abc", false);
    Bytes junk = {'x', 0xAA, 0x55, 'y', 0x00, 0xDD};
    Bytes filler(2100, 'z');

    struct {
        const char* name;
        Bytes bytes;
        bool result;
        size_t consumed;
        const char* user;
    } cases[] = {
        {"junk before the frame", Cat({junk, login}), true, junk.size() + login.size(), "7_70196_AS"},
        {"another frame type first is stepped over", Cat({other, login}), true, other.size() + login.size(),
         "7_70196_AS"},
        {"payload of 200 bytes is no login", Cat({tooLong, login}), true, tooLong.size() + login.size(),
         "7_70196_AS"},
        {"payload of 199 bytes is a login", longest, true, longest.size(), "8_8_AS"},
        {"bad CRC then a good frame", Cat({badCrc, login}), true, badCrc.size() + login.size(), "7_70196_AS"},
        {"two logins: the first wins", Cat({login, Frame(0x00, 1, 1, 1, "")}), true, login.size(), "7_70196_AS"},
        {"bad CRC alone waits", badCrc, false, 0, nullptr},
        {"frame of another type alone waits", other, false, 0, nullptr},
        {"half a frame waits", Bytes(login.begin(), login.begin() + 15), false, 0, nullptr},
        {"all but the last CRC byte waits", Bytes(login.begin(), login.end() - 1), false, 0, nullptr},
        {"more than 2000 bytes without a login drop 1000", Cat({filler, badCrc}), false, 1000, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Decoded d = Decode(c.bytes);
        EXPECT_EQ(c.result, d.result);
        EXPECT_EQ(c.consumed, d.consumed);
        if (c.user) {
            ASSERT_NE(nullptr, d.unit.get());
            EXPECT_STREQ(c.user, d.Client()->user);
            EXPECT_STREQ("NEAREST", d.Client()->mountPoint);
        } else {
            EXPECT_EQ(nullptr, d.unit.get());
        }
    }
}

TEST(BinaryLogin, SplitFrameDecodesOnceWholeAndOnlyOnce)
{
    Bytes login = Frame(0x81, 7, 0x011234, 1, "abc");
    Bytes stream = Cat({login, Bytes{'$', 'G', 'P'}});
    for (size_t cut = 0; cut < login.size(); ++cut) {
        Decoded part = Decode(Bytes(stream.begin(), stream.begin() + cut));
        ASSERT_FALSE(part.result) << cut;
        ASSERT_EQ(0u, part.consumed) << cut;
    }
    Decoded d = Decode(stream);
    ASSERT_TRUE(d.result);
    ASSERT_EQ(login.size(), d.consumed);
    Decoded after = Decode(Bytes(stream.begin() + d.consumed, stream.end()));
    EXPECT_FALSE(after.result);
}

TEST(BinaryLogin, ScanListsEveryLoginFrameWithItsPlace)
{
    Bytes a = Frame(0x01, 1, 1, 1, "a");
    Bytes b = Frame(0x80, 2, 2, 1, "bb");
    Bytes all = Cat({Bytes{1, 2, 3}, a, Frame(0, 0, 0, 5, "x"), b});
    std::vector<BinaryLoginFrame> frames;
    ScanBinaryLoginFrames(all.data(), all.size(), &frames);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(3u, frames[0].offset);
    EXPECT_EQ(3u + a.size(), frames[0].end);
    EXPECT_EQ(1, frames[0].record.userNumber);
    EXPECT_EQ(all.size() - b.size(), frames[1].offset);
    EXPECT_EQ(all.size(), frames[1].end);
    EXPECT_EQ(2u, frames[1].record.payloadLength);
    EXPECT_EQ(0, memcmp(frames[1].record.payload, "bb", 2));

    EXPECT_TRUE(ByteSpan_HasBinaryMarker(ByteSpan_Make(a.data(), 3)));
    EXPECT_FALSE(ByteSpan_HasBinaryMarker(ByteSpan_Make(a.data(), 2)));
    EXPECT_EQ(nullptr, DecodeBinaryLogin(a.data(), a.size() - 1, nullptr));
}
