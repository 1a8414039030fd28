// The list items of the base and rover replies, filled from copied records.
// Every text goes out as valid UTF-8: a character cut by a fixed-size field
// is left out and a byte that is not UTF-8 becomes '?', since the control
// centre refuses a whole frame over one bad string.
#pragma once

#include "caster/registry/RegistrySnapshot.h"

#include <cstdint>

namespace StationInfoMsg {
class BaseStationInfo;
class RoverStationInfo;
}  // namespace StationInfoMsg

// now: seconds since 1970, read once per request.
void StationItem_FromBase(const BaseSnapshot& s, int64_t now, StationInfoMsg::BaseStationInfo* item);
// withMotion: the differential age, distance and speed (pages only).
void StationItem_FromRover(const RoverSnapshot& s, int64_t now, bool withMotion,
                           StationInfoMsg::RoverStationInfo* item);
