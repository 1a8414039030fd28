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
        {"C1 as UTF-8: CSI, NEL", "a\xc2\x9b" "2Jb\xc2\x85" "c", "a\\xc2\\x9b2Jb\\xc2\\x85c"},
        {"C1 as raw bytes", "a\x9b[2J\x85\x80", "a\\x9b[2J\\x85\\x80"},
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

// A whole message as the daily log writes it: control characters escaped as
// above, the one LF that ends many formats dropped, everything else kept,
// backslashes included.
TEST(LogText, AMessageBecomesOneLine)
{
    struct Case {
        const char* name;
        std::string message;
        std::string line;
    } cases[] = {
        {"plain", "Base login ok:MNT1, ip:127.0.0.1", "Base login ok:MNT1, ip:127.0.0.1"},
        {"the format's newline is the line's end", "Base logout:MNT1, close_type:timeout.\n",
         "Base logout:MNT1, close_type:timeout."},
        {"only the last newline goes", "a\n\n", "a\\n"},
        {"just a newline", "\n", ""},
        {"forged line", "UserAddCb:user x\r\nthread:1 00:00:00.000:[info] FORGED of type 3 added",
         "UserAddCb:user x\\r\\nthread:1 00:00:00.000:[info] FORGED of type 3 added"},
        {"bare CR", "user x\rFORGED", "user x\\rFORGED"},
        {"bare LF inside", "user x\nFORGED", "user x\\nFORGED"},
        {"CR before the last newline stays visible", "user x\r\n", "user x\\r"},
        {"terminal escape, delete", "\x1b[2Jab\x7f", "\\x1b[2Jab\\x7f"},
        {"a tab breaks no line", "account\tis useful : u", "account\tis useful : u"},
        {"UTF-8 kept", "用户 \xe5\xbc\xa0\xe4\xb8\x89 added", "用户 \xe5\xbc\xa0\xe4\xb8\x89 added"},
        {"other high bytes kept", "\xa0\xff\xc0", "\xa0\xff\xc0"},
        {"C1 as UTF-8 escaped byte for byte", "x\xc2\x85y\xc2\x9b" "31m\xc2\x80\xc2\x9f",
         "x\\xc2\\x85y\\xc2\\x9b31m\\xc2\\x80\\xc2\\x9f"},
        {"C1 raw outside UTF-8", "\x9b" "31m\x85\x80\x9f", "\\x9b31m\\x85\\x80\\x9f"},
        // 0x80-0x9F as continuation bytes are text: U+0100, U+00A0,
        // U+8085, U+1F600.
        {"C1 bytes inside characters kept", "\xc4\x80 \xc2\xa0 \xe8\x82\x85 \xf0\x9f\x98\x80",
         "\xc4\x80 \xc2\xa0 \xe8\x82\x85 \xf0\x9f\x98\x80"},
        {"a cut character's C1 byte escaped", "ab\xe2\x80", "ab\xe2\\x80"},
        {"a lone C2 lead kept", "\xc2", "\xc2"},
        {"backslash kept", "path C:\\r\\n", "path C:\\r\\n"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LogText_Line(c.message.c_str()), c.line);
    }
    EXPECT_EQ(LogText_Line(nullptr), "");
}

// A peer's text escaped by its caller is not escaped a second time.
TEST(LogText, AnEscapedTextPassesTheLineUnchanged)
{
    for (const char* text : {"eve\r\nFORGED\x1b[2J", "a\\b\tc", "plain", "\xc2\x9b\x85\xe5\xbc\xa0"}) {
        std::string escaped = LogText_Escape(text);
        EXPECT_EQ(LogText_Line(escaped.c_str()), escaped) << escaped;
    }
}
