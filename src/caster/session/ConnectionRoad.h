// Where the bytes of a logged-in connection go: a base's to its rovers and,
// until its position is known, to the base decoder (a "PPP-RTK" base's to
// its own executor, never to rovers); a rover's to the rover decoder and, for
// a relay rover, on to its upstream caster.
//
// The loop's reads route them here, and so does the login executor for what
// a peer sent behind its login request or while its login was decided: those
// bytes are the first of the road the login opened. While any of them is
// still in the login executor (ConnInfo::loginQueued), the loop's reads of the
// connection queue behind them there, so the road keeps the peer's order.
#pragma once

#include <cstddef>
#include <cstdint>

struct BaseRecord;

namespace Ntrip {

// Under the base lock, with the base's record: queues the bytes for the
// base's decoder. True when they are to be published to its rovers, which the
// caller does once it has left the registries.
bool ConnectionRoad_Base(const BaseRecord* base, uint64_t channelID, const unsigned char* bytes, size_t length);

// A rover's bytes (upstream 0: none yet). It takes only the command queue's
// and the rover executor's locks, so it may run under the registries: the
// loop's read calls it with none held (the close runs on the loop too), the
// hand-off under the hold that found the rover.
void ConnectionRoad_Rover(uint64_t channelID, bool relay, uint64_t upstream, const unsigned char* bytes,
                          size_t length);

// The login executor's hand-off: the bytes take the road of what the channel
// is now (nothing, for a channel that is neither, or closing), queued under
// the registry locks that found it, so that no close slips in between. A
// rover's go to its decoder a line at a time: held back while its login was
// decided, they are many reads' worth in one piece.
void ConnectionRoad_HandOff(uint64_t channelID, const unsigned char* bytes, size_t length);
// The login executor's count: the bytes have left it.
void ConnectionRoad_Leave(uint64_t channelID, size_t length);

}  // namespace Ntrip
