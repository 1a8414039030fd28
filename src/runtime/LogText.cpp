#include "runtime/LogText.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Appends bytes with every control character escaped (a tab too unless
// keepTab), and a backslash doubled when asked. Runs of plain bytes are
// appended whole: most messages have no byte to escape.
void AppendEscaped(std::string* out, const char* bytes, size_t length, bool doubleBackslash, bool keepTab)
{
    size_t plain = 0;  // start of the run not appended yet
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (keepTab && c == '\t') continue;
        if (!IsControl(c) && !(doubleBackslash && c == '\\')) continue;
        out->append(bytes + plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '\r': *out += "\\r"; break;
        case '\n': *out += "\\n"; break;
        case '\t': *out += "\\t"; break;
        case '\\': *out += "\\\\"; break;
        default: {
            char hex[5];
            snprintf(hex, sizeof(hex), "\\x%02x", c);
            *out += hex;
        }
        }
    }
    out->append(bytes + plain, length - plain);
}

}  // namespace

std::string LogText_EscapeBytes(const char* bytes, size_t length)
{
    std::string out;
    if (!bytes) return out;
    out.reserve(length);
    AppendEscaped(&out, bytes, length, true, false);
    return out;
}

std::string LogText_Escape(const char* text)
{
    return text ? LogText_EscapeBytes(text, strlen(text)) : std::string();
}

std::string LogText_Line(const char* message)
{
    std::string out;
    if (!message) return out;
    size_t length = strlen(message);
    if (length > 0 && message[length - 1] == '\n') --length;
    out.reserve(length);
    // A tab cannot break a line, and some of the system's own messages
    // hold one ("account\tis useful : %s").
    AppendEscaped(&out, message, length, false, true);
    return out;
}
