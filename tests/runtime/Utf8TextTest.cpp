// Cutting operator texts to a field's width never leaves half a character.
#include "runtime/Utf8Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Cut(const std::string& text, size_t destSize)
{
    char dest[512];
    memset(dest, 'x', sizeof(dest));
    size_t n = Utf8_CutCopy(dest, destSize, text.c_str());
    EXPECT_EQ(n, strlen(dest));
    return dest;
}

}  // namespace

TEST(Utf8CutCopy, CutsOnCharacterBoundaries)
{
    const std::string han = "\xE7\xAB\x99";          // 3 bytes
    const std::string emoji = "\xF0\x9F\x93\xA1";    // 4 bytes
    const std::string e = "\xC3\xA9";                // 2 bytes
    struct Case {
        std::string text;
        size_t destSize;
        std::string want;
    } cases[] = {
        {"rover", 200, "rover"},
        {"rover", 4, "rov"},
        {"rover", 6, "rover"},
        {std::string(250, 'a'), 200, std::string(199, 'a')},
        {"ab" + han, 5, "ab"},            // would end one byte into the character
        {"ab" + han, 4, "ab"},
        {"ab" + han, 6, "ab" + han},      // fits exactly
        {"a" + emoji, 5, "a"},
        {"a" + emoji, 6, "a" + emoji},
        {e + e, 4, e},
        {std::string(198, 'a') + han, 200, std::string(198, 'a')},
        {std::string(196, 'a') + han + han, 200, std::string(196, 'a') + han},
        // Not UTF-8: bytes are kept as bytes.
        {"ab\x80\x80\x80\x80z", 7, "ab\x80\x80\x80\x80"},
        {"", 10, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Cut(c.text, c.destSize), c.want) << c.text.size() << " bytes into " << c.destSize;
    }
}

TEST(Utf8CutCopy, NullAndEmptyDestinations)
{
    char dest[4] = "abc";
    EXPECT_EQ(Utf8_CutCopy(dest, sizeof(dest), nullptr), 0u);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(Utf8_CutCopy(nullptr, 10, "x"), 0u);
    EXPECT_EQ(Utf8_CutCopy(dest, 0, "x"), 0u);
    EXPECT_EQ(Utf8_CutCopy(dest, 1, "x"), 0u);
    EXPECT_STREQ(dest, "");
}

TEST(Utf8IsValid, AcceptsWellFormedTextOnly)
{
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {"rover-01", true},
        {"\xC3\xA9t\xC3\xA9", true},           // été
        {"\xE7\xAB\x99", true},                // 3 bytes
        {"\xF0\x9F\x93\xA1", true},            // 4 bytes
        {"\xF4\x8F\xBF\xBF", true},            // U+10FFFF
        {"\xFF", false},                       // never a UTF-8 byte
        {"\x80", false},                       // stray continuation
        {"a\xC3", false},                      // cut sequence
        {"\xE7\xAB", false},
        {"\xC3\x28", false},                   // continuation missing
        {"\xC0\xAF", false},                   // overlong '/'
        {"\xE0\x80\xAF", false},               // overlong
        {"\xF0\x80\x80\xAF", false},           // overlong
        {"\xED\xA0\x80", false},               // surrogate D800
        {"\xF4\x90\x80\x80", false},           // past U+10FFFF
        {"\xF5\x80\x80\x80", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8_IsValid(c.text.data(), c.text.size()), c.valid) << testing::PrintToString(c.text);
    }
    EXPECT_TRUE(Utf8_IsValid(nullptr, 0));
}

TEST(Utf8Clean, GivesWellFormedTextForAnyBytes)
{
    struct Case {
        std::string text;
        std::string want;
    } cases[] = {
        {"", ""},
        {"MNT-01", "MNT-01"},
        {"\xE7\xAB\x99\xF0\x9F\x93\xA1", "\xE7\xAB\x99\xF0\x9F\x93\xA1"},  // valid: unchanged
        {"ab\xFF\xFE" "c", "ab??c"},                                        // one '?' per bad byte
        {"\x80x", "?x"},                                                    // stray continuation
        {"\xC0\xAFz", "??z"},                                               // overlong
        {"\xED\xA0\x80z", "???z"},                                          // surrogate
        {"\xE4\xB8" "d", "??d"},                                            // continuation missing
        {"ok\xE7\xAB", "ok"},                                               // cut at the end: left out
        {"ok\xF0\x9F\x93", "ok"},
    };
    for (const Case& c : cases) {
        std::string got = Utf8_Clean(c.text.data(), c.text.size());
        EXPECT_EQ(got, c.want) << testing::PrintToString(c.text);
        EXPECT_TRUE(Utf8_IsValid(got.data(), got.size())) << testing::PrintToString(c.text);
    }
    EXPECT_EQ(Utf8_Clean(nullptr, 0), "");
}

TEST(Utf8Clean, NulTerminatedTextComesOutValid)
{
    const std::string han = "\xE4\xB8\xAD";  // U+4E2D
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"BASE-01", "BASE-01"},
        {han + han, han + han},
        {han + "\xE4\xB8", han},                  // cut by a field: the character is left out
        {han + "\xF0\x9F", han},
        {"a\xFF" "b", "a?b"},                     // not UTF-8 at all
        {"\xC0\xAF", "??"},                       // overlong
        {"\xED\xA0\x80", "???"},                  // surrogate
        {"\xE4\xB8" "x", "??x"},                  // broken in the middle
        {"caf\xC3\xA9", "caf\xC3\xA9"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.out, Utf8_Clean(c.in.c_str())) << ::testing::PrintToString(c.in);
    EXPECT_EQ("", Utf8_Clean(nullptr));
}
