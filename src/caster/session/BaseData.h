// The decoded data of a logged-in base: its position.
#pragma once

#include "decoding/LogRoot.h"

#include <cstdint>

namespace Ntrip {

// Runs on a base worker: the first usable 1005/1006 position after each
// login becomes the base's position. Deletes the unit.
bool BaseDecodeExecute(Tarnek::LogRoot** unit, uint64_t channelID);

}  // namespace Ntrip
