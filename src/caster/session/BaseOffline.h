// What the close of a base's connection does to the registries.
#pragma once

#include <cstdint>

struct NHServer;
struct CasterScope;

namespace Ntrip {

// Called by the close callback with the connection, base and rover locks
// held. Notifies the control centre (2003) for an online base, removes its
// publisher, closes the rovers of its mount point, closes the virtual-mount
// rovers when no other base is online, removes the base record and re-binds
// every rover (the virtual-mount rovers of this base move to the nearest base
// still online). A base taken off the black list while its close was pending
// (state 0) is only removed before the re-binding pass; a channel that is no
// base runs only the re-binding pass.
void BaseOffline(NHServer* server, uint64_t channelID);

// The same on the given registries (server and tables of the scope).
void BaseOffline_Apply(const CasterScope& scope, uint64_t channelID);

}  // namespace Ntrip
