#include "caster/relay/RelayReply.h"

#include <cctype>
#include <cstring>

namespace {

const char kIcy[] = "ICY 200 OK";
const char* const kAccepted[] = {"HTTP/1.1 200 OK", "HTTP/1.0 200 OK", kIcy};
const char kTransferEncoding[] = "transfer-encoding";

RelayReply Refused(const char* reason)
{
    RelayReply reply = {};
    reply.verdict = RELAY_REPLY_REFUSED;
    reply.reason = reason;
    return reply;
}

RelayReply Incomplete()
{
    RelayReply reply = {};
    reply.verdict = RELAY_REPLY_INCOMPLETE;
    return reply;
}

// Past the limit without its end the reply is refused; short of it, its
// end may still come.
RelayReply Unfinished(size_t scanned)
{
    return scanned >= RELAY_REPLY_MAX ? Refused("reply longer than 8192 bytes") : Incomplete();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool EqualsNoCase(const char* begin, const char* end, const char* word)
{
    size_t n = strlen(word);
    if (static_cast<size_t>(end - begin) != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (tolower(static_cast<unsigned char>(begin[i])) != word[i]) return false;
    }
    return true;
}

void TrimBlanks(const char** begin, const char** end)
{
    while (*begin < *end && IsBlank(**begin)) ++*begin;
    while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// One header line without its line end. Counts the "chunked" codings of a
// Transfer-Encoding line; false when it names any other coding, which the
// relay cannot take off the stream.
bool ReadHeader(const char* line, size_t length, int* chunked)
{
    const char* end = line + length;
    const char* colon = static_cast<const char*>(memchr(line, ':', length));
    if (!colon) return true;
    const char* name = line;
    const char* nameEnd = colon;
    TrimBlanks(&name, &nameEnd);
    if (!EqualsNoCase(name, nameEnd, kTransferEncoding)) return true;
    for (const char* item = colon + 1; item < end;) {
        const char* comma = static_cast<const char*>(memchr(item, ',', static_cast<size_t>(end - item)));
        const char* itemEnd = comma ? comma : end;
        const char* word = item;
        TrimBlanks(&word, &itemEnd);
        if (word < itemEnd) {
            if (!EqualsNoCase(word, itemEnd, "chunked")) return false;
            ++*chunked;
        }
        item = comma ? comma + 1 : end;
    }
    return true;
}

}  // namespace

RelayReply RelayReply_Read(const char* bytes, size_t length)
{
    if (!bytes || length == 0) return Incomplete();
    const size_t limit = RELAY_REPLY_MAX;
    size_t scanned = length < limit ? length : limit;

    const char* status = nullptr;
    bool couldBe = false;
    for (const char* accepted : kAccepted) {
        size_t n = strlen(accepted);
        if (scanned >= n) {
            if (memcmp(bytes, accepted, n) == 0) status = accepted;
        } else if (memcmp(bytes, accepted, scanned) == 0) {
            couldBe = true;
        }
    }
    if (!status) return couldBe ? Incomplete() : Refused("status line not accepted");

    const char* feed = static_cast<const char*>(memchr(bytes, '\n', scanned));
    if (!feed) return Unfinished(scanned);
    size_t at = static_cast<size_t>(feed - bytes) + 1;

    RelayReply reply = {};
    reply.verdict = RELAY_REPLY_ACCEPTED;
    if (status == kIcy) {
        int empty = RelayReply_EmptyLine(bytes + at, scanned - at);
        if (empty < 0) {
            reply.emptyLineOpen = true;
        } else {
            at += static_cast<size_t>(empty);
        }
        reply.length = at;
        return reply;
    }

    int chunked = 0;
    for (;;) {
        const char* lineEnd = static_cast<const char*>(memchr(bytes + at, '\n', scanned - at));
        if (!lineEnd) return Unfinished(scanned);
        size_t lineLength = static_cast<size_t>(lineEnd - (bytes + at));
        size_t textLength = lineLength;
        if (textLength > 0 && bytes[at + textLength - 1] == '\r') --textLength;
        const char* line = bytes + at;
        at += lineLength + 1;
        if (textLength == 0) break;  // the empty line: the header ends
        if (!ReadHeader(line, textLength, &chunked)) return Refused("transfer coding not supported");
    }
    if (chunked > 1) return Refused("transfer coding not supported");
    reply.length = at;
    reply.http = true;
    reply.chunked = chunked == 1;
    return reply;
}

int RelayReply_EmptyLine(const char* bytes, size_t length)
{
    if (!bytes || length == 0) return -1;
    if (bytes[0] == '\n') return 1;
    if (bytes[0] != '\r') return 0;
    if (length < 2) return -1;
    return bytes[1] == '\n' ? 2 : 0;
}
