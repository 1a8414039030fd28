// Which base's stream each rover receives, and how that changes as rovers
// move and bases come and go.
//
// A rover on a virtual mount ("NEAREST", "RTCM32_ZedOz", "RTCM32_VODIR" and
// any longer name starting with one of them) is bound to the nearest online
// base at its first usable position, and re-bound when it has moved more than
// rover_distance_limit metres from where it was bound and another base is now
// nearest. Base events (a base's first position, a base going offline)
// re-bind every rover at once.
//
// A change of base never splits or repeats a chunk of RTCM: the base's reads
// are published as one broadcast command per chunk, and a re-binding posts
// its unsubscribe-old and subscribe-new commands back to back into the same
// ordered command queue, under the base lock that every broadcast is posted
// under too. Each chunk therefore reaches the rover whole from the old base
// or whole from the new one, never from both, and no command can fall
// between the two.
//
// Every function here expects the caller to hold the base lock and then the
// rover lock (order connection, base, rover).
#pragma once

#include "caster/centre/CasterScope.h"

#include <cstdint>

struct BaseRecord;
struct RoverRecord;

// Binds the rover to base: unsubscribes it from the base it is bound to (that
// base's rover count - 1, not below 0) and subscribes it to base (+1), posted
// back to back; then bound channel, bound base name and the position at
// binding (latitude, longitude). A rover bound to base already keeps its
// subscription and count; only the position at binding is renewed.
void NearestBinding_Bind(const CasterScope& scope, RoverRecord* rover, BaseRecord* base, double latitude,
                         double longitude);

// Forgets the rover's binding without posting anything: for a base whose
// publisher is gone already.
void NearestBinding_Forget(RoverRecord* rover);

// A new position of a virtual-mount rover (the rover handler's nearest
// step). False when the position cannot bind: a latitude or longitude of
// exactly 0, no online base, or a nearest base without a position yet. A
// rover that has not moved past the limit keeps its base; the error line
// that says so is written at once under a new binding, then at most once a
// minute on the steady clock, with the count of the lines left out.
bool NearestBinding_OnPosition(const CasterScope& scope, RoverRecord* rover, double latitude, double longitude);

// Re-binds a virtual-mount rover that has a position to the nearest online
// base, when that is not the base it is bound to. A rover without a position
// yet stays unbound.
void NearestBinding_UpdateRover(const CasterScope& scope, RoverRecord* rover);

// Binds a rover of a named mount to the online base of that mount when it is
// not bound to it already; a rover already bound to it is left alone (no
// unsubscribe/subscribe gap), only its bound base name is filled in.
void NearestBinding_RebindNamed(const CasterScope& scope, RoverRecord* rover);

// Every rover in login order: virtual mounts to NearestBinding_UpdateRover,
// named mounts to NearestBinding_RebindNamed. Relay rovers keep the relay
// connection they are bound to.
void NearestBinding_UpdateAll(const CasterScope& scope);

// The same on the caster's own registries; base and rover locks held.
void update_all_rover_nearest();
void UpdateRoverNearest(RoverRecord* rover);
void RebindNamedRover(RoverRecord* rover);
