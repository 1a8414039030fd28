#include "runtime/LogText.h"

#include <cstdio>
#include <cstring>

std::string LogText_EscapeBytes(const char* bytes, size_t length)
{
    std::string out;
    if (!bytes) return out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char hex[5];
                snprintf(hex, sizeof(hex), "\\x%02x", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string LogText_Escape(const char* text)
{
    return text ? LogText_EscapeBytes(text, strlen(text)) : std::string();
}
