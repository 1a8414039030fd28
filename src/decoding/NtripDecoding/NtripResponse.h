// Replies to NTRIP logins on the caster port.
#pragma once

#include <cstddef>

namespace NtripDecoding {

// Reply codes of a base login.
enum ServerLoginCode {
    SERVER_LOGIN_OK = 0,
    SERVER_LOGIN_BAD_PASSWORD = 1,
    SERVER_LOGIN_MOUNT_TAKEN = 2,
    SERVER_LOGIN_BLACKLISTED = 3,
};

// Reply codes of a rover login.
enum ClientLoginCode {
    CLIENT_LOGIN_OK = 0,
    CLIENT_LOGIN_UNAUTHORIZED = 1,  // expired account or refused by the authentication centre
    CLIENT_LOGIN_BAD_USER = 2,
    CLIENT_LOGIN_BAD_PASSWORD = 3,
};

// The server name of the rover refusals.
extern const char* const NTRIP_REPLY_SERVER_NAME;

// Both builders clear the whole buffer, then write the reply text with its
// terminating zero. 1 written; -1 the buffer cannot hold it (left all zero);
// 0 unknown code.
int MakeServerLoginResponse(char* buffer, size_t size, int code);

// text is the caller's (the rover login passes the requested mount point);
// a refusal with code 1 names it as the realm.
int MakeClientLoginResponse(char* buffer, size_t size, int code, const char* text);

}  // namespace NtripDecoding
