// The rover executor's handler: what a logged-in rover's GGA (or KSXT)
// positions do.
#pragma once

#include "decoding/LogRoot.h"

#include <cstdint>

struct CasterScope;
struct RoverRecord;

namespace NEMADecoding {
class NEMA_GPGGA;
}

namespace Ntrip {

// Runs on a rover worker; one rover's positions are handled in order by one
// worker. Writes the user's GGA log (rover_gga_log 1), keeps the position,
// time, speed and fix in the rover's record, then acts by binding mode: a
// virtual-mount rover is bound to the nearest online base and re-bound when
// it has moved far enough; a named-mount rover gets its distance to its base;
// a relay rover's position goes to the relay road. Always deletes the unit;
// false for a unit that is no position, a channel that is no rover, or a
// position that could not bind or measure.
bool RoverDecodeExecute(Tarnek::LogRoot** unit, uint64_t channelID);

// The same on the given registries, configuration and server.
bool RoverData_Execute(const CasterScope& scope, Tarnek::LogRoot** unit, uint64_t channelID);

// Position and motion of one fix into the rover's record: latitude,
// longitude, height (altitude + geoid separation), differential age, GGA time
// (the previous one kept), fix quality, satellites, earth-centred position
// (the previous one kept) and speed.
void RoverData_ApplyPosition(RoverRecord* rover, const NEMADecoding::NEMA_GPGGA& gga);

}  // namespace Ntrip
