// Finds and decodes management frames in a byte stream.
#pragma once

#include "control/ManagementFrame.h"
#include "control/RVZProtoMsg.h"
#include "decoding/LogRoot.h"

#include <cstddef>

// Decodes the frame at data, which points at a sync; length bytes are at
// hand from there. Returns a FrameDecodeStatus; on STATUS_OK *outUnit is a
// new unit (owned by the caller) and *outFrameLength the frame's length,
// otherwise they are nullptr and 0. The checks run in this order: fewer
// than 33 bytes (3), header_length not 29 (4), header CRC (1), frame longer
// than the bytes at hand (3), frame CRC (2), type not in the table (5),
// body or id refused by the type's decoder (6).
int DecodeFrame(const unsigned char* data, size_t length, RVZ::RVZProtoMsg** outUnit, size_t* outFrameLength);

// The decode function of management streams (DecodeFunc): true when *unit
// holds a new RVZ::RVZProtoMsg. *consumed leading bytes are dropped by the
// caller: garbage before a sync goes with the frame behind it or, when the
// frame is incomplete, on its own; a bad frame costs only its 4 sync bytes,
// so the next frame is still found. Below 33 bytes nothing is consumed.
bool ScanFrame(const unsigned char* data, size_t length, Tarnek::LogRoot** unit, size_t* consumed);
