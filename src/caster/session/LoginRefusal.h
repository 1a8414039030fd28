// The requests a connection logging in has had refused or not understood:
// at a few of them it is closed, so that a peer that streams junk or guesses
// costs a few log lines and checks, not one per request.
#pragma once

#include <cstdint>

namespace Ntrip {

// Requests not understood (NtripUnknowLoginRequest) or refused that a
// connection logging in may send; at this many it is closed.
static const int LOGIN_UNKNOWN_REQUEST_LIMIT = 8;

// One more such request of the channel. At the limit its close is posted
// and it is marked closing. True when the channel is to be dropped (also
// when it is gone or closing already); on a login worker the caller then
// drops what the channel has queued (DecodeExecutor_DropQueued).
bool LoginRefusal_Count(uint64_t channelID);

}  // namespace Ntrip
