#include "decoding/NtripDecoding/NtripResponse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace NtripDecoding;

namespace {

const std::string kRefusalHead = "HTTP/1.0 401 Unauthorized\r\nServer: RedivEvurer/1.0\r\nWWW - Authenticate: Basic realm=\"";
const std::string kRefusalTail = "\"\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n";

bool AllZero(const std::vector<char>& b)
{
    for (char c : b) {
        if (c != 0) return false;
    }
    return true;
}

}  // namespace

TEST(NtripResponse, ServerRepliesIntoExactAndTooSmallBuffers)
{
    struct {
        int code;
        std::string reply;
    } cases[] = {
        {0, "ICY 200 OK\r\n\r\n"},
        {1, "ERROR - Bad Password\r\n"},
        {2, "ERROR - Mount Point Taken or Invalid\r\n"},
        {3, "ERROR - Mount Point is in Blacklist.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        std::vector<char> exact(c.reply.size() + 1, 'x');
        EXPECT_EQ(1, MakeServerLoginResponse(exact.data(), exact.size(), c.code));
        EXPECT_EQ(c.reply, exact.data());

        std::vector<char> small(c.reply.size(), 'x');
        EXPECT_EQ(-1, MakeServerLoginResponse(small.data(), small.size(), c.code));
        EXPECT_TRUE(AllZero(small));

        std::vector<char> large(512, 'x');
        EXPECT_EQ(1, MakeServerLoginResponse(large.data(), large.size(), c.code));
        EXPECT_EQ(c.reply, large.data());
        EXPECT_TRUE(AllZero(std::vector<char>(large.begin() + c.reply.size(), large.end())));
    }
    std::vector<char> b39(39), b38(38);
    EXPECT_EQ(1, MakeServerLoginResponse(b39.data(), b39.size(), 2));
    EXPECT_EQ(-1, MakeServerLoginResponse(b38.data(), b38.size(), 2));

    std::vector<char> buffer(64, 'x');
    EXPECT_EQ(0, MakeServerLoginResponse(buffer.data(), buffer.size(), 4));
    EXPECT_TRUE(AllZero(buffer));
    EXPECT_EQ(0, MakeServerLoginResponse(buffer.data(), buffer.size(), -1));
    EXPECT_EQ(-1, MakeServerLoginResponse(nullptr, 64, 0));
    EXPECT_EQ(-1, MakeServerLoginResponse(buffer.data(), 0, 0));
}

TEST(NtripResponse, ClientRepliesIntoExactAndTooSmallBuffers)
{
    struct {
        int code;
        const char* text;
        std::string reply;
    } cases[] = {
        {0, "MNT1", "ICY 200 OK\r\n\r\n"},
        {1, "MNT1", kRefusalHead + "MNT1" + kRefusalTail},
        {1, nullptr, kRefusalHead + kRefusalTail},
        {2, "MNT1", kRefusalHead + "Error - Bad User" + kRefusalTail},
        {3, "MNT1", kRefusalHead + "Error - Bad Password" + kRefusalTail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        std::vector<char> exact(c.reply.size() + 1, 'x');
        EXPECT_EQ(1, MakeClientLoginResponse(exact.data(), exact.size(), c.code, c.text));
        EXPECT_EQ(c.reply, exact.data());

        std::vector<char> small(c.reply.size(), 'x');
        EXPECT_EQ(-1, MakeClientLoginResponse(small.data(), small.size(), c.code, c.text));
        EXPECT_TRUE(AllZero(small));
    }
    std::vector<char> buffer(512, 'x');
    EXPECT_EQ(0, MakeClientLoginResponse(buffer.data(), buffer.size(), 4, "MNT1"));
    EXPECT_TRUE(AllZero(buffer));

    // A caller's text that cannot fit the refusal is refused, not cut.
    std::string huge(2000, 'm');
    std::vector<char> big(4096, 'x');
    EXPECT_EQ(-1, MakeClientLoginResponse(big.data(), big.size(), 1, huge.c_str()));
    EXPECT_TRUE(AllZero(big));
}
