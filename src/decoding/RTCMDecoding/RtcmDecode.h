// The base executor's decoder: finds a base station's antenna position
// (RTCM 3 messages 1005 and 1006) in the stream it sends.
#pragma once

#include "decoding/LogRoot.h"
#include "decoding/RTCMDecoding/RtcmLog.h"

#include <cstddef>

namespace RTCMDecoding {

static const unsigned char RTCM3_PREAMBLE = 0xD3;
// Frame lengths (header, payload, CRC) by message number.
static const size_t RTCM3_1005_FRAME_LEN = 25;
static const size_t RTCM3_1006_FRAME_LEN = 27;

// The decode function of the base executor (decode contract). Other
// messages are passed over. Consumed never reaches past the start of a
// 1005/1006 frame that has not fully arrived, so a position cut across two
// reads is decoded once it is whole. Stateless and thread-safe.
bool RtcmDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed);

// Decodes one frame that begins with 0xD3: true only for a message 1005 or
// 1006 whose CRC-24Q holds and whose point converts; *frameLength is then 25
// or 27. The length field of the frame is not read: the message number fixes
// the length, the CRC decides.
bool ParseRtcm1005(const unsigned char* frame, size_t available, RTCM3Log_1005** unit, size_t* frameLength);

}  // namespace RTCMDecoding
