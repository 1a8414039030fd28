// Client texts in log lines: nothing a peer sends can end a line or reach a
// terminal as a control sequence, and ordinary names stay as they are.
#include "runtime/LogText.h"

#include <gtest/gtest.h>

#include <string>

TEST(LogText, ControlCharactersBecomeEscapes)
{
    struct Case {
        const char* name;
        std::string input;
        std::string logged;
    } cases[] = {
        {"plain name", "alice", "alice"},
        {"UTF-8 name kept", "\xe5\xbc\xa0\xe4\xb8\x89", "\xe5\xbc\xa0\xe4\xb8\x89"},
        {"forged line", "bob\r\nthread:1 00:00:00.000:[info] Base login ok:X", "bob\\r\\nthread:1 00:00:00.000:[info] Base login ok:X"},
        {"terminal escape", "\x1b[2J\x1b]0;x\x07", "\\x1b[2J\\x1b]0;x\\x07"},
        {"tab and delete", "a\tb\x7f", "a\\tb\\x7f"},
        {"backslash doubled", "C:\\r", "C:\\\\r"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LogText_Escape(c.input.c_str()), c.logged);
        EXPECT_EQ(LogText_EscapeBytes(c.input.data(), c.input.size()), c.logged);
    }
    EXPECT_EQ(LogText_Escape(nullptr), "");
    EXPECT_EQ(LogText_EscapeBytes(nullptr, 3), "");
    // Bytes with a zero inside are taken by length.
    EXPECT_EQ(LogText_EscapeBytes("a\0b", 3), "a\\x00b");
}
