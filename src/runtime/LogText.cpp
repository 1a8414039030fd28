#include "runtime/LogText.h"

#include "runtime/Utf8Text.h"

#include <cstring>

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// A C1 control (0x80-0x9F) acts on a terminal that honours 8-bit controls
// (0x9b opens an escape sequence) and NEL breaks lines for many readers, as
// a raw byte or as UTF-8 (C2 80 - C2 9F). The same bytes inside another
// well-formed character are text. Bytes of what must be escaped at
// bytes[i]: 0 for text, else 1 for a raw byte or 2 for a UTF-8 C1.
size_t HighControlAt(const char* bytes, size_t length, size_t i, size_t* sequence)
{
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    *sequence = Utf8_SequenceAt(bytes + i, length - i);
    if (*sequence == 2 && c == 0xc2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9f) return 2;
    if (*sequence == 0 && c <= 0x9f) return 1;
    return 0;
}

void AppendHex(std::string* out, unsigned char c)
{
    static const char kDigits[] = "0123456789abcdef";
    const char hex[4] = {'\\', 'x', kDigits[c >> 4], kDigits[c & 0xf]};
    out->append(hex, sizeof(hex));
}

// Appends bytes with every control character escaped (a tab too unless
// keepTab), and a backslash doubled when asked. Runs of plain bytes are
// appended whole: most messages have no byte to escape.
void AppendEscaped(std::string* out, const char* bytes, size_t length, bool doubleBackslash, bool keepTab)
{
    size_t plain = 0;  // start of the run not appended yet
    size_t i = 0;
    while (i < length) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            size_t sequence = 0;
            const size_t control = HighControlAt(bytes, length, i, &sequence);
            if (control == 0) {
                i += sequence > 0 ? sequence : 1;
                continue;
            }
            out->append(bytes + plain, i - plain);
            for (size_t k = 0; k < control; ++k) AppendHex(out, static_cast<unsigned char>(bytes[i + k]));
            i += control;
            plain = i;
            continue;
        }
        if ((keepTab && c == '\t') || (!IsControl(c) && !(doubleBackslash && c == '\\'))) {
            ++i;
            continue;
        }
        out->append(bytes + plain, i - plain);
        switch (c) {
        case '\r': *out += "\\r"; break;
        case '\n': *out += "\\n"; break;
        case '\t': *out += "\\t"; break;
        case '\\': *out += "\\\\"; break;
        default: AppendHex(out, c);
        }
        ++i;
        plain = i;
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
