// The authentication-centre client: one HTTP POST of
// {"name","node","password"} per check, answered by a JSON object whose
// integer "code" 0 accepts the user.
//
// Post blocks its caller for the whole exchange, bounded by a connect and a
// total time-out; call it with no registry lock held. Anything but an HTTP
// 2xx reply holding a JSON object with an integer "code" refuses: a centre
// that is down, slow, broken or answers nonsense never lets a user in.
#pragma once

#include "config/ConfigRecords.h"

#include <cstddef>

enum {
    AUTH_CENTRE_CONNECT_TIMEOUT_MS = 5000,
    AUTH_CENTRE_TOTAL_TIMEOUT_MS = 10000,
    // A reply longer than this is not an answer to a check.
    AUTH_CENTRE_REPLY_MAX = 65536,
};

namespace AuthCentre {

// curl_global_init with all features, once per process whatever the number
// of calls; before any other call and before other threads start. 0.
int GlobalInit();

// Zeroes the record and loads it from the file called fileName beside the
// executable (section "auth_centre"): 0, or -1 when it does not load (the
// record is then disabled).
int LoadConfig(AuthCentreConfig* record, const char* fileName);

// Checks a user with the centre. The reply's "code" (0 accepts, 1 wrong
// password, others refuse), or -1 when the record is disabled or has no url,
// the transfer cannot be set up, fails or times out, the HTTP status is not
// 2xx, or the reply is not a JSON object with an integer "code".
int Post(const AuthCentreConfig* record, const char* name, const char* password, const char* node,
         long connectTimeoutMs = AUTH_CENTRE_CONNECT_TIMEOUT_MS, long totalTimeoutMs = AUTH_CENTRE_TOTAL_TIMEOUT_MS);

// The transfer's write function: appends size * count bytes to the reply
// text (a std::string) and returns that number; 0, which ends the transfer,
// once the reply would pass AUTH_CENTRE_REPLY_MAX.
size_t WriteCallback(char* data, size_t size, size_t count, void* reply);

// The "code" of a reply body: true with *code for a JSON object whose "code"
// is an integer (no fraction, exponent, string or other type), false for
// anything else, also for a text the JSON reader throws on. Never throws.
bool ParseReplyCode(const char* body, size_t length, int* code);

}  // namespace AuthCentre
