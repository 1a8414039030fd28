// ScanFrame for a reader that never holds more than a fixed window of a
// stream at once (a ring's peek, an executor's queue): a frame whose header
// claims more bytes than the window could never complete there, and waiting
// for it would hold up every later frame of the connection. Such a header
// is given up at once (its sync is skipped, one warning logged), as a bad
// frame is.
#pragma once

#include "decoding/LogRoot.h"

#include <cstddef>

bool ScanFrameWithin(size_t window, const unsigned char* data, size_t length, Tarnek::LogRoot** unit,
                     size_t* consumed);

// The decode functions of the two readers: a control connection's decode
// thread (its peek window) and the "PPP-RTK" executor (its channel queue).
bool CtrlFrameScan(const unsigned char* data, size_t length, Tarnek::LogRoot** unit, size_t* consumed);
bool PppRtkFrameScan(const unsigned char* data, size_t length, Tarnek::LogRoot** unit, size_t* consumed);
