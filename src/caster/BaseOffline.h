// What the close of a base's connection does to the registries.
#pragma once

#include <cstdint>

struct NHServer;

namespace Ntrip {

// Called by the close callback with the connection, base and rover locks
// held. Notifies the control centre (2003) for an online base, removes its
// publisher, closes the rovers of its mount point, unsubscribes (or, when no
// other base is online, closes) the virtual-mount rovers, and removes the
// base record. A base taken off the black list while its close was pending
// (state 0) is only removed.
void BaseOffline(NHServer* server, uint64_t channelID);

}  // namespace Ntrip
