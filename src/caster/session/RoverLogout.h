// What the close of a rover's connection does to the registries.
#pragma once

#include <cstdint>

struct NHServer;
struct CasterScope;

namespace Ntrip {

// Called by the close callback with the connection, base and rover locks
// held. Notifies the control centre (2005), unsubscribes the rover from its
// base, keeps the names of the account's remaining rovers dense (u, u~2, ...)
// when one account may log in several times, removes the rover record and
// its ConnInfo, and recounts the base's rovers (virtual-mount rovers by the
// base they are bound to).
void RoverLogout(NHServer* server, uint64_t channelID);

// The same on the given registries, configuration and server.
void RoverLogout_Apply(const CasterScope& scope, uint64_t channelID);

}  // namespace Ntrip
