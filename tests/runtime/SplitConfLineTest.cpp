// The blank-separated tokens of one line of a configuration list.
#include "runtime/SplitConfLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(std::string line, int max)
{
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    std::vector<char*> tokens(static_cast<size_t>(max > 0 ? max : 1));
    int count = -5;
    EXPECT_EQ(0, SplitConfLine(buffer.data(), &count, tokens.data(), max));
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(tokens[static_cast<size_t>(i)]);
    return out;
}

}  // namespace

TEST(SplitConfLineTest, SplitsInPlaceAndLetsTheLastTokenRunOn)
{
    struct Case {
        const char* line;
        int max;
        std::vector<std::string> tokens;
    } cases[] = {
        {"ab cd ef\r\n", 2, {"ab", "cd ef\r\n"}},  // the last token that fits keeps the rest of the line
        {"ab  cd\tef\r\n", 50, {"ab", "cd", "ef"}},
        {"a b c", 2, {"a", "b"}},  // a one-character last token ends at its blank
        {"  lead\ttrail  \n", 50, {"lead", "trail"}},
        {"one\rtwo", 50, {"one"}},
        {"", 50, {}},
        {"\r\n", 50, {}},
        {"word", 0, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.tokens, Split(c.line, c.max)) << c.line;

    char line[] = "x y";
    char* tokens[2];
    int count = 0;
    EXPECT_EQ(-1, SplitConfLine(line, nullptr, tokens, 2));
    EXPECT_EQ(-1, SplitConfLine(line, &count, nullptr, 2));
    EXPECT_EQ(0, SplitConfLine(nullptr, &count, tokens, 2));
    EXPECT_EQ(0, count);
}
