// The caster's side of a relay: what happens when a relay connection to
// another caster stands, is accepted, and ends, and the tick that keeps the
// relays of system mounts up.
//
// A verified relay is an online base named by its context ("%s-%d" for a
// rover relay, the local mount for a system relay), keyed by the relay
// channel and never sent the keep-alive; its bytes take the base road of
// the read callback. Its end gives the account back to the pool, so a
// system mount is restarted at the next tick and a shared account serves the
// next rover.
//
// All four run on the caster's event-loop thread (the closed callback also on
// the caller of a Relay_Connect that cannot start at all). Locks, when
// several: connection, base, rover, then the publisher table; the pool's own
// lock is taken with none of them held.
#pragma once

#include <cstdint>

struct RelayClientCallbacks;

namespace Ntrip {

// The first three below, for every relay the caster starts
// (context->callbacks).
extern const RelayClientCallbacks RELAY_CALLBACKS;

// The relay connected callback: the relay client has already stored the
// channel in the context; nothing more is needed here.
void RelaySetChannel(uint64_t relayChannelID, void* relayContext);

// The relay verified callback: adds the relay base (notification 2002) and
// makes its channel a publisher; a rover relay's rover is subscribed to it,
// or, when that rover has gone, the relay is shut down. A name already held
// by another base (a local base logged in on it) is not taken twice: the
// relay is shut down instead.
void RelayOpenCallback(void* relayContext);

// The relay closed callback, once per relay, after the caster's close
// callback of its channel (when it had one): a rover relay's rover is closed
// and its user leaves the pool's in-use set; the account is given back;
// "account\tis useful : %s" and the relay state line are logged. The relay
// client frees the context afterwards.
void RelayCloseCallback(void* relayContext);

// The tick after the 5000 ms timer (center: the Vorlane centre, or null for
// GetCenter()): starts a relay for every system mount whose account is idle.
// A mount whose name an online base holds already is left for a later tick.
void RelayRestartCallback(int periodMs, void* center);

}  // namespace Ntrip
