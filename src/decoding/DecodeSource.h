// What a decode thread reads from and hands its units to. The framework
// that owns the thread implements it, so the thread needs nothing of the
// framework but this view.
#pragma once

#include "decoding/LogRoot.h"
#include "decoding/RingBuffer.h"
#include "platform/Semaphore.h"

namespace DFW {

class DecodeSource {
public:
    virtual ~DecodeSource() = default;
    virtual RingBuffer* Ring() = 0;
    virtual PlatformSemaphore* Semaphore() = 0;
    virtual DecodeFunc Decode() const = 0;
    virtual DispatchFunc Dispatch() const = 0;
    virtual void* Context() const = 0;
    // After each decode step; idle when the step made no progress (the
    // thread is about to sleep until the next write).
    virtual void AfterDecode(bool /*idle*/) {}
};

}  // namespace DFW
