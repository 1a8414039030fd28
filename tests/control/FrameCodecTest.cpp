// The frame CRC, the header, the encoders and the order of DecodeFrame's
// checks.
#include "control/FrameCrc32.h"
#include "control/FrameDecode.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/ReplyEncode.h"
#include "control/FrameFixtures.h"

#include "VIVOProtoDecoding/LoginMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"
#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

namespace {

TEST(FrameCrc32Test, RegisterStartsAtZeroAndIsNotInverted)
{
    const unsigned char digits[] = "123456789";
    const unsigned char abc[] = "abc";
    EXPECT_EQ(FrameCrc32(digits, 9), 0x2DFD2D88u);
    EXPECT_EQ(FrameCrc32(abc, 3), 0xCA6598D0u);
    EXPECT_EQ(FrameCrc32(abc, 0), 0u);
    EXPECT_NE(FrameCrc32(digits, 9), static_cast<uint32_t>(crc32(0, digits, 9)));  // not zlib's value

    std::mt19937 random(7);
    for (size_t n : {1u, 2u, 29u, 255u, 4096u}) {
        Bytes data(n);
        for (auto& b : data) b = static_cast<unsigned char>(random());
        EXPECT_EQ(FrameCrc32(data.data(), n), ReferenceCrc(data.data(), n)) << n;
    }
}

TEST(FrameCrc32Test, CheckNeedsTheSyncByteAndAZeroRemainder)
{
    Bytes frame = ReferenceFrame(2011, -1, FromHex("08 01 10 01"));
    EXPECT_TRUE(CheckFrameCrc(frame.data(), 29));
    EXPECT_TRUE(CheckFrameCrc(frame.data(), frame.size()));
    EXPECT_TRUE(CheckFrameCrc(frame.data(), 0));
    frame[30] ^= 0x01;
    EXPECT_TRUE(CheckFrameCrc(frame.data(), 29));
    EXPECT_FALSE(CheckFrameCrc(frame.data(), frame.size()));

    // Bytes whose CRC is 0 but that do not start with the sync byte.
    Bytes zeros(8, 0);
    EXPECT_EQ(FrameCrc32(zeros.data(), zeros.size()), 0u);
    EXPECT_FALSE(CheckFrameCrc(zeros.data(), zeros.size()));
}

TEST(FrameHeaderTest, BuildsTheHeaderAPeerWrites)
{
    unsigned char header[29];
    memset(header, 0xEE, sizeof(header));
    BuildFrameHeader(1003, header, 77, 512);
    Bytes reference = ReferenceFrame(1003, 77, Bytes(512, 0));
    EXPECT_EQ(ToHex(Bytes(header, header + 29)), ToHex(Bytes(reference.begin(), reference.begin() + 29)));

    BuildFrameHeaderEx(1003, header, 77, 512, 1, 0x01020304);
    reference = ReferenceFrame(1003, 77, Bytes(512, 0), 1, 0x01020304);
    EXPECT_EQ(ToHex(Bytes(header, header + 29)), ToHex(Bytes(reference.begin(), reference.begin() + 29)));

    FrameHeader h = ReadFrameHeader(header);
    EXPECT_EQ(h.headerLength, 29u);
    EXPECT_EQ(h.bodyLength, 512u);
    EXPECT_EQ(h.id, 77);
    EXPECT_EQ(h.type, 1003u);
    EXPECT_EQ(h.more, 1);
    EXPECT_EQ(h.extra, 0x01020304u);
}

TEST(EncodeFrameTest, NeedsRoomForTheWholeFrameAndWritesNothingOtherwise)
{
    UserOpMsg::UserOpResponse body;
    body.set_ack_status(20);
    body.add_user_info()->set_user_name("operator");
    const size_t frameLength = body.ByteSizeLong() + 33;

    Bytes buffer(frameLength, 0x5A);
    size_t length = 99;
    EXPECT_EQ(EncodeFrame(1012, 3, &body, buffer.data(), frameLength - 1, &length), -1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer, Bytes(frameLength, 0x5A));

    EXPECT_EQ(EncodeFrame(1012, 3, &body, buffer.data(), frameLength, &length), 0);
    EXPECT_EQ(length, frameLength);
    EXPECT_EQ(ToHex(buffer), ToHex(ReferenceFrame(1012, 3, Serialized(body))));

    length = 99;
    EXPECT_EQ(EncodeFrame(1012, 3, nullptr, buffer.data(), frameLength, &length), -1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(EncodeFrame(1012, 3, &body, nullptr, frameLength, &length), -1);
    EXPECT_EQ(length, 0u);
}

TEST(EncodeFrameTest, SplitReplyFramesCarryMoreAndExtra)
{
    UserOpMsg::UserOpResponse body;
    body.set_ack_status(20);
    unsigned char buffer[2048] = {};
    size_t length = 0;
    ASSERT_EQ(EncodeFrameEx(1012, 8, 1, 0, &body, buffer, sizeof(buffer), &length), 0);
    EXPECT_EQ(ToHex(Bytes(buffer, buffer + length)), ToHex(ReferenceFrame(1012, 8, FromHex("08 14"), 1, 0)));
}

struct ReplyEncoderCase {
    const char* name;
    std::function<int(unsigned char*, size_t, size_t*)> encode;
    uint32_t type;
    const char* body;
};

TEST(ReplyEncoderTest, EachSetsItsFieldsUnderItsType)
{
    const ReplyEncoderCase cases[] = {
        {"login accepted",
         [](unsigned char* b, size_t n, size_t* l) {
             return EncodeLoginResponse(4, 20, LoginMsg::USER_ROLE_SUPER, "abc", b, n, l);
         },
         1001, "08 14 12 03 61 62 63 18 01"},
        {"login refused",
         [](unsigned char* b, size_t n, size_t* l) {
             return EncodeLoginResponse(4, 21, LoginMsg::USER_ROLE_SUPER, "abc", b, n, l);
         },
         1001, "08 15 12 03 61 62 63 18 01"},
        {"logout",
         [](unsigned char* b, size_t n, size_t* l) {
             return EncodeLoginResponse(4, 30, LoginMsg::USER_ROLE_COMMON, "abc", b, n, l);
         },
         1001, "08 1E 12 03 61 62 63"},
        {"add user", [](unsigned char* b, size_t n, size_t* l) { return EncodeUserOpResponse1011(4, 20, b, n, l); },
         1011, "08 14"},
        {"users of a type",
         [](unsigned char* b, size_t n, size_t* l) { return EncodeUserOpResponse1012(4, 22, b, n, l); }, 1012,
         "08 16"},
        {"modify user", [](unsigned char* b, size_t n, size_t* l) { return EncodeUserOpResponse1013(4, 20, b, n, l); },
         1013, "08 14"},
        {"delete users",
         [](unsigned char* b, size_t n, size_t* l) { return EncodeUserOpResponse1014(4, 20, b, n, l); }, 1014,
         "08 14"},
        {"page of users",
         [](unsigned char* b, size_t n, size_t* l) { return EncodePageOfUserInfoResponse(4, 21, b, n, l); }, 1015,
         "08 15"},
        {"service configuration",
         [](unsigned char* b, size_t n, size_t* l) { return EncodeConfigServiceResponse(4, 0, b, n, l); }, 1017,
         ""},
    };
    for (const ReplyEncoderCase& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char buffer[512] = {};
        size_t length = 0;
        ASSERT_EQ(c.encode(buffer, sizeof(buffer), &length), 0);
        EXPECT_EQ(ToHex(Bytes(buffer, buffer + length)), ToHex(ReferenceFrame(c.type, 4, FromHex(c.body))));
        // One byte short of the frame: refused.
        size_t refused = 99;
        EXPECT_EQ(c.encode(buffer, length - 1, &refused), -1);
        EXPECT_EQ(refused, 0u);
    }
}

// Frames that fail more than one check: the first in DecodeFrame's order
// decides.
struct StatusCase {
    const char* name;
    std::function<Bytes()> frame;
    int status;
};

Bytes Heartbeat()
{
    return ReferenceFrame(2011, -1, FromHex("08 01 10 01"));
}

Bytes Corrupt(Bytes f, size_t at)
{
    f[at] ^= 0x10;
    return f;
}

Bytes Prefix(const Bytes& f, size_t n)
{
    return Bytes(f.begin(), f.begin() + static_cast<long>(n));
}

TEST(DecodeFrameTest, ChecksRunInOrder)
{
    const StatusCase cases[] = {
        {"whole heartbeat", Heartbeat, STATUS_OK},
        {"32 bytes", [] { return Prefix(Heartbeat(), 32); }, STATUS_INCOMPLETE},
        {"header length 30 with a valid header CRC",
         [] { return ReferenceFrame(2011, -1, FromHex("08 01 10 01"), 0, 0, 30); }, STATUS_MSG_HEADER_LENGTH_ERROR},
        {"header length 30, header CRC also wrong",
         [] {
             Bytes f = Heartbeat();
             f[4] = 30;
             return f;
         },
         STATUS_MSG_HEADER_LENGTH_ERROR},
        {"flipped id bit", [] { return Corrupt(Heartbeat(), 13); }, STATUS_HEADER_CRC_ERROR},
        {"flipped header CRC bit", [] { return Corrupt(Heartbeat(), 26); }, STATUS_HEADER_CRC_ERROR},
        {"body not complete", [] { return Prefix(Heartbeat(), 36); }, STATUS_INCOMPLETE},
        {"body of 0xFFFFFFF0 bytes announced",
         [] { return ReferenceFrame(2011, -1, Bytes(64, 0), 0, 0, 29, 0xFFFFFFF0); }, STATUS_INCOMPLETE},
        {"flipped body bit", [] { return Corrupt(Heartbeat(), 30); }, STATUS_MSG_CRC_ERROR},
        {"flipped frame CRC bit", [] { return Corrupt(Heartbeat(), 35); }, STATUS_MSG_CRC_ERROR},
        {"unknown type with a bad body", [] { return ReferenceFrame(1002, 0, FromHex("FF")); },
         STATUS_UNKNOWN_MSG_KIND_ERROR},
        {"body that does not parse", [] { return ReferenceFrame(2011, -1, FromHex("0A 05 61")); },
         STATUS_FORMAT_ERROR},
        {"request with id -1", [] { return ReferenceFrame(3, -1, Bytes()); }, STATUS_FORMAT_ERROR},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes frame = c.frame();
        RVZ::RVZProtoMsg* unit = reinterpret_cast<RVZ::RVZProtoMsg*>(1);
        size_t frameLength = 99;
        EXPECT_EQ(DecodeFrame(frame.data(), frame.size(), &unit, &frameLength), c.status);
        if (c.status == STATUS_OK) {
            EXPECT_EQ(frameLength, frame.size());
            delete unit;
        } else {
            EXPECT_EQ(unit, nullptr);
            EXPECT_EQ(frameLength, 0u);
        }
    }
}

TEST(DecodeFrameTest, FrameLengthIsTheFramesNotTheBuffers)
{
    Bytes stream = Concat({Heartbeat(), Heartbeat()});
    RVZ::RVZProtoMsg* unit = nullptr;
    size_t frameLength = 0;
    ASSERT_EQ(DecodeFrame(stream.data(), stream.size(), &unit, &frameLength), STATUS_OK);
    delete unit;
    EXPECT_EQ(frameLength, 37u);
}

}  // namespace
