#include "decoding/NtripDecoding/NtripResponse.h"

#include <cstdio>
#include <cstring>

namespace NtripDecoding {

const char* const NTRIP_REPLY_SERVER_NAME = "RedivEvurer/1.0";

namespace {

const char* const kIcyOk = "ICY 200 OK\r\n\r\n";

// The refusal's work buffer; a caller's text that would not fit refuses the build.
const size_t kRefusalSize = 1024;

int CopyReply(char* buffer, size_t size, const char* reply)
{
    size_t n = strlen(reply);
    if (n + 1 > size) return -1;
    memcpy(buffer, reply, n + 1);
    return 1;
}

}  // namespace

int MakeServerLoginResponse(char* buffer, size_t size, int code)
{
    if (!buffer || size == 0) return -1;
    memset(buffer, 0, size);
    switch (code) {
    case SERVER_LOGIN_OK: return CopyReply(buffer, size, kIcyOk);
    case SERVER_LOGIN_BAD_PASSWORD: return CopyReply(buffer, size, "ERROR - Bad Password\r\n");
    case SERVER_LOGIN_MOUNT_TAKEN: return CopyReply(buffer, size, "ERROR - Mount Point Taken or Invalid\r\n");
    case SERVER_LOGIN_BLACKLISTED: return CopyReply(buffer, size, "ERROR - Mount Point is in Blacklist.\r\n");
    default: return 0;
    }
}

int MakeClientLoginResponse(char* buffer, size_t size, int code, const char* text)
{
    if (!buffer || size == 0) return -1;
    memset(buffer, 0, size);
    if (code == CLIENT_LOGIN_OK) return CopyReply(buffer, size, kIcyOk);

    const char* realm = nullptr;
    switch (code) {
    case CLIENT_LOGIN_UNAUTHORIZED: realm = text ? text : ""; break;
    case CLIENT_LOGIN_BAD_USER: realm = "Error - Bad User"; break;
    case CLIENT_LOGIN_BAD_PASSWORD: realm = "Error - Bad Password"; break;
    default: return 0;
    }

    // The slot behind the status line stays empty, so "Server:" opens its own line.
    char work[kRefusalSize];
    int n = snprintf(work, sizeof(work),
                     "HTTP/1.0 401 Unauthorized\r\n%sServer: %s\r\nWWW - Authenticate: Basic realm=\"%s\"\r\n"
                     "Content-Type: text/html\r\nConnection: close\r\n\r\n",
                     "", NTRIP_REPLY_SERVER_NAME, realm);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(work)) return -1;
    return CopyReply(buffer, size, work);
}

}  // namespace NtripDecoding
