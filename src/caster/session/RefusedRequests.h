// The refusals a connection that is logging in may collect: requests that
// were not understood and logins that were refused (a wrong password, an
// unknown or expired account, a mount point it may not have). A peer may try
// again on its connection, but not for ever: at the limit it is closed, so
// guessing passwords or sending junk costs a new connection every few tries.
#pragma once

#include <cstdint>

namespace Ntrip {

// Refused requests a connection may send; at this many it is closed.
static const int LOGIN_REFUSED_REQUEST_LIMIT = 8;

// One more refused request of the channel. At the limit the channel is
// marked closing (what it sends meanwhile is dropped) and its close is
// posted: once a queued refusal reply has reached the peer when replied is
// true, at once otherwise. True when the channel is to be dropped: closed
// now, closing already, or without a connection record. Takes the
// connection lock; the caller holds no other registry lock.
bool RefusedRequest_Count(uint64_t channelID, bool replied);

}  // namespace Ntrip
