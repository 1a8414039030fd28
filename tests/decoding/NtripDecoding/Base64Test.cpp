#include "decoding/NtripDecoding/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using NtripDecoding::CBase64;

TEST(CBase64, DecodeTable)
{
    struct {
        const char* text;
        std::string decoded;
    } cases[] = {
        {"", ""},
        {"TWFu", "Man"},
        {"TWE=", "Ma"},
        {"TQ==", "M"},
        {"TW=Fu", "Man"},                                // '=' is skipped wherever it stands
        {"dXNlcjpwYXNz", "user:pass"},
        {"\xD4WFu", "Man"},                              // only the low seven bits count
        {"TW!u", ""},                                    // outside the alphabet: nothing
        {"TWFu TWFu", ""},
        {"////", std::string("\xFF\xFF\xFF", 3)},
        {"AAAA", std::string("\0\0\0", 3)},
        {"+/+/", std::string("\xFB\xFF\xBF", 3)},
    };
    CBase64 base64;
    for (const auto& c : cases) {
        size_t n = strlen(c.text);
        std::vector<unsigned char> out(n + 1, 0xEE);
        size_t got = base64.Decode(c.text, out.data());
        EXPECT_EQ(c.decoded.size(), got) << c.text;
        EXPECT_EQ(c.decoded, std::string(reinterpret_cast<char*>(out.data()), got)) << c.text;
        for (size_t i = got; i < n + 1; ++i) EXPECT_EQ(0, out[i]) << c.text << " at " << i;
    }
    unsigned char out[4] = {1, 2, 3, 4};
    EXPECT_EQ(0u, base64.Decode(nullptr, out));
    EXPECT_EQ(0u, base64.Decode("TWFu", nullptr));
}

TEST(CBase64, EncodesStandardBase64WithinTheGivenRoom)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
                 {"user:pass", "dXNlcjpwYXNz"}, {"\xff\xfe", "//4="}};
    for (const Case& c : cases) {
        char out[32];
        EXPECT_EQ(static_cast<int>(strlen(c.out)), CBase64::Encode(out, sizeof(out), c.in));
        EXPECT_STREQ(c.out, out);
    }
    char out[8];
    strcpy(out, "keep");
    EXPECT_EQ(0, CBase64::Encode(out, sizeof(out), ""));
    EXPECT_STREQ("keep", out);
    EXPECT_EQ(-1, CBase64::Encode(out, 4, "foo"));  // needs 5 with its NUL
    EXPECT_STREQ("keep", out);
    EXPECT_EQ(4, CBase64::Encode(out, 5, "foo"));

    // The longest credentials a relay account holds (127 characters) fill
    // its Base64 field of 176 bytes.
    std::string longest(127, 'u');
    char field[176];
    EXPECT_EQ(172, CBase64::Encode(field, sizeof(field), longest.c_str()));
}
