#include "decoding/NtripDecoding/NtripRequestDecode.h"

#include "decoding/NtripDecoding/Base64.h"
#include "decoding/NtripDecoding/BinaryLogin.h"
#include "runtime/Log.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace NtripDecoding {

namespace {

// The line at the start of span: up to "\r\n", or all of it.
ByteSpan FirstLine(ByteSpan span)
{
    long end = ByteSpan_Find(span, "\r\n");
    return end >= 0 ? ByteSpan_Head(span, end) : span;
}

// The line of the header block that starts with name; false when the block
// has no such header. A header that is the block's last line ends with the
// block.
bool HeaderLine(ByteSpan block, const char* name, ByteSpan* line)
{
    long at = ByteSpan_Find(block, name);
    if (at < 0) return false;
    ByteSpan rest = block;
    ByteSpan_Advance(&rest, at);
    *line = FirstLine(rest);
    return true;
}

void CopySpan(char* field, int width, ByteSpan span)
{
    CopyField(field, width, reinterpret_cast<const char*>(span.data), span.length);
}

// HTTP optional white space after a value is not part of it.
void TrimRight(ByteSpan* span)
{
    while (span->length > 0 && (span->data[span->length - 1] == ' ' || span->data[span->length - 1] == '\t')) {
        --span->length;
    }
}

// Decodes the Basic credential in full, then cuts user and password to their
// fields: a long but valid "user:password" must not be cut before decoding.
void DecodeCredential(ByteSpan line, NtripClientLoginRequest* request)
{
    ByteSpan value = line;
    ByteSpan_Advance(&value, 14);  // "Authorization:"
    ByteSpan_TrimLeft(&value);
    if (ByteSpan_StartsWith(value, "Basic ")) {
        ByteSpan_Advance(&value, 6);
        ByteSpan_TrimLeft(&value);
    }
    TrimRight(&value);
    if (value.length <= 0) return;

    std::string text(reinterpret_cast<const char*>(value.data), static_cast<size_t>(value.length));
    std::vector<unsigned char> decoded(text.size() + 1, 0);
    CBase64 base64;
    size_t n = base64.Decode(text.c_str(), decoded.data());
    if (n == 0) return;

    const char* plain = reinterpret_cast<const char*>(decoded.data());
    const void* colon = memchr(plain, ':', n);
    if (!colon) return;
    long userLength = static_cast<const char*>(colon) - plain;
    long passwordLength = static_cast<long>(n) - userLength - 1;
    // A user or password is compared whole: one that holds a NUL or does
    // not fit its field would otherwise be taken for the text before the
    // NUL or the cut, and "the real password and anything" would pass.
    if (memchr(plain, '\0', n) || userLength > NTRIP_USER_LEN || passwordLength > NTRIP_PASSWORD_LEN) return;
    CopyField(request->user, NTRIP_USER_LEN, plain, userLength);
    CopyField(request->password, NTRIP_PASSWORD_LEN, plain + userLength + 1, passwordLength);
}

NtripGetSourceListRequest* MakeSourceListRequest(ByteSpan block)
{
    NtripGetSourceListRequest* request = new (std::nothrow) NtripGetSourceListRequest();
    if (!request) return nullptr;
    ByteSpan line;
    if (HeaderLine(block, "Ntrip-GGA:", &line)) {
        ByteSpan_Advance(&line, 10);
        ByteSpan_TrimLeft(&line);
        CopySpan(request->gga, NTRIP_GGA_LEN, line);
    }
    return request;
}

}  // namespace

NtripServerLoginRequest* DecodeSourceRequest(ByteSpan span)
{
    ByteSpan line = FirstLine(span);
    if (line.length >= 7) ByteSpan_Advance(&line, 7);  // "SOURCE "
    ByteSpan_TrimLeft(&line);

    NtripServerLoginRequest* request = new (std::nothrow) NtripServerLoginRequest();
    if (!request) return nullptr;
    long blank = ByteSpan_Find(line, " ");
    if (blank >= 0) {
        CopySpan(request->password, NTRIP_PASSWORD_LEN, ByteSpan_Head(line, blank));
        ByteSpan_Advance(&line, blank + 1);
        ByteSpan_TrimLeft(&line);
    }
    if (ByteSpan_StartsWith(line, "/")) ByteSpan_Advance(&line, 1);
    CopySpan(request->mountPoint, NTRIP_MOUNT_POINT_LEN, line);
    return request;
}

NtripLog* DecodeGetRequest(ByteSpan span)
{
    ByteSpan block = span;
    ByteSpan line = FirstLine(span);
    if (line.length >= 4) ByteSpan_Advance(&line, 4);  // "GET "
    ByteSpan_TrimLeft(&line);
    if (!ByteSpan_StartsWith(line, "/")) return nullptr;
    ByteSpan_Advance(&line, 1);

    long blank = ByteSpan_Find(line, " ");
    if (blank < 0) return nullptr;
    if (blank == 0) return MakeSourceListRequest(block);

    NtripClientLoginRequest* request = new (std::nothrow) NtripClientLoginRequest();
    if (!request) return nullptr;
    CopySpan(request->mountPoint, NTRIP_MOUNT_POINT_LEN, ByteSpan_Head(line, blank));

    ByteSpan header;
    if (HeaderLine(block, "Authorization:", &header)) DecodeCredential(header, request);
    if (HeaderLine(block, "User-Agent:", &header)) {
        // The value keeps its leading blank, as the software-name check expects.
        ByteSpan_Advance(&header, 11);
        CopySpan(request->userAgent, NTRIP_USER_AGENT_LEN, header);
    }
    return request;
}

namespace {

// What goes of bytes past the hold limit with no request in sight: whole
// lines from the oldest on, the fewest that leave NTRIP_HOLD_LIMIT bytes at
// most, so that what stays starts at a line. These are mostly a rover's
// sentences sent behind a login still being decided (a check with the
// authentication centre): it loses whole ones, oldest first, and the newest
// reach its road once it is let in. Bytes whose last NTRIP_HOLD_LIMIT hold
// no line end are no sentences: NTRIP_DROP_BYTES of them go.
size_t DropPastHoldLimit(const unsigned char* bytes, size_t length)
{
    if (length <= NTRIP_HOLD_LIMIT) return 0;
    size_t from = length - NTRIP_HOLD_LIMIT - 1;
    const void* lineEnd = memchr(bytes + from, '\n', length - from);
    if (!lineEnd) return NTRIP_DROP_BYTES;
    return static_cast<size_t>(static_cast<const unsigned char*>(lineEnd) - bytes) + 1;
}

// Ntrip1CasterDecode; *unknown tells whether a header block was consumed
// that made no request.
bool DecodeLogin(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed,
                 bool* unknown)
{
    *unknown = false;
    if (unit) *unit = nullptr;
    if (consumed) *consumed = 0;
    if (!unit || !consumed || !bytes || length == 0) return false;

    ByteSpan all = ByteSpan_Make(bytes, static_cast<long>(length));
    long end = ByteSpan_Find(all, "\r\n\r\n");
    if (end >= 0) {
        *consumed = static_cast<size_t>(end) + 4;
        ByteSpan block = ByteSpan_Head(all, end);
        long s = ByteSpan_Find(block, "SOURCE");
        long g = ByteSpan_Find(block, "GET");
        ByteSpan from = block;
        if (s != -1 && (g == -1 || s < g)) {
            ByteSpan_Advance(&from, s);
            *unit = DecodeSourceRequest(from);
        } else if (g != -1) {
            ByteSpan_Advance(&from, g);
            *unit = DecodeGetRequest(from);
        } else {
            Log_Info("%s: Unknow login request, wrong message, no SOURCE, no GET", "NtripDecoding::Ntrip1CasterDecode");
        }
        *unknown = *unit == nullptr;
        return *unit != nullptr;
    }

    if (ByteSpan_HasBinaryMarker(all)) {
        size_t frameEnd = 0;
        NtripClientLoginRequest* request = DecodeBinaryLogin(bytes, length, &frameEnd);
        if (request) {
            // The frame is used up: left queued, it would log the rover in again.
            *consumed = frameEnd;
            *unit = request;
            return true;
        }
        *consumed = length > NTRIP_HOLD_LIMIT ? NTRIP_DROP_BYTES : 0;
        return false;
    }

    *consumed = DropPastHoldLimit(bytes, length);
    return false;
}

}  // namespace

bool Ntrip1CasterDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    bool unknown = false;
    return DecodeLogin(bytes, length, unit, consumed, &unknown);
}

bool NtripLoginDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    bool unknown = false;
    if (DecodeLogin(bytes, length, unit, consumed, &unknown)) return true;
    if (!unknown) return false;
    *unit = new (std::nothrow) NtripUnknowLoginRequest();
    return *unit != nullptr;
}

}  // namespace NtripDecoding
