// The rover executor's decoder: rover bytes to positions.
#pragma once

#include "decoding/LogRoot.h"

#include <cstddef>

namespace NEMADecoding {

// Bytes without any '*' are held up to this many; beyond, half of them are
// dropped per call.
static const size_t GGA_HOLD_LIMIT = 512;

// The decode function of the rover executor (decode contract). It yields at
// most one NEMA_GPGGA per call, from "$GPGGA,", "$GNGGA,", "$BDGGA," or
// "$KSXT," text, or from AA 55 DD frames whose payload is a GGA sentence
// (when the buffer holds a frame sync, text is not looked at). It never
// consumes the start of a sentence or frame that has not fully arrived, so a
// position cut across two reads is decoded once, when whole; and it consumes
// through the sentence or frame that gave the unit, so no position is
// decoded twice. The source-table answer also calls it on the rover's
// "Ntrip-GGA:" value. Stateless and thread-safe.
bool GgaDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed);

}  // namespace NEMADecoding
