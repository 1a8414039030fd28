// Parsers of one position sentence: "$xxGGA," and "$KSXT,".
#pragma once

#include "decoding/NEMADecoding/NemaLog.h"

#include <cstddef>

namespace NEMADecoding {

// Beyond this many bytes from the '*' to the end of the given bytes the
// sentence is refused (with a log line).
static const size_t NMEA_STAR_TAIL_MAX = 1333;

// The sentence that starts at bytes (its head is skipped unchecked) and runs
// to the first '*'. The checksum after the '*' (its two digits, or the one
// digit the bytes end with) must match, whatever follows it; a '*' that ends
// the bytes is refused. Fields are read only up to
// the '*', so a cut sentence never borrows fields from the next one. A new
// unit, or nullptr when the sentence is malformed or a number is not finite.
NEMA_GPGGA* ParseGgaSentence(const unsigned char* bytes, size_t length);

// The same for a receiver "$KSXT," sentence; its position quality is mapped
// to GGA fix qualities (1 -> 1, 2 -> 5, 3 -> 4, others 0).
NEMA_GPGGA* ParseKsxtSentence(const unsigned char* bytes, size_t length);

}  // namespace NEMADecoding
