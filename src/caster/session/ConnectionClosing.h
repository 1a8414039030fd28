// A connection whose close is posted is closing: whatever it sends until the
// close runs is dropped unread (it is no request and no stream any more), and
// no login of it goes on, also one decoded from bytes it sent before. The
// caster posts the closes of the connections it refuses through here, so
// the mark is never missed between a close and the requests behind it.
#pragma once

#include <cstdint>

namespace Ntrip {

// Marks the channel closing and posts its close: at once, or once what is
// queued for it (a source table, a last reply) has reached the peer. A
// channel without a connection record is closed all the same. Takes the
// connection lock: the caller holds it already, or no registry lock.
void ConnectionClosing_Post(uint64_t channelID);
void ConnectionClosing_PostAfterFlush(uint64_t channelID);

// Whether the channel is closing, or has no connection record any more.
// Takes the connection lock, as above.
bool ConnectionClosing_Is(uint64_t channelID);

}  // namespace Ntrip
