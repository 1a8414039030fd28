// The local clock held at a time the test sets, for what names files and
// stamps lines by the date: installed while the object lives, the real clock
// back when it goes. A writer thread may read it while the test sets it.
#pragma once

#include "platform/LocalTime.h"

#include <mutex>

class FrozenClock {
public:
    explicit FrozenClock(const PlatformLocalTime& at = PlatformLocalTime{})
    {
        Set(at);
        Platform_SetLocalTimeSource(Read);
    }
    ~FrozenClock() { Platform_SetLocalTimeSource(nullptr); }
    FrozenClock(const FrozenClock&) = delete;
    FrozenClock& operator=(const FrozenClock&) = delete;

    void Set(const PlatformLocalTime& at)
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        State().now = at;
    }
    PlatformLocalTime Get() const
    {
        PlatformLocalTime now;
        Read(&now);
        return now;
    }

private:
    // The source is a plain function: what it reads lives here.
    struct Shared {
        std::mutex mutex;
        PlatformLocalTime now{};
    };
    static Shared& State()
    {
        static Shared state;
        return state;
    }
    static void Read(PlatformLocalTime* out)
    {
        std::lock_guard<std::mutex> guard(State().mutex);
        *out = State().now;
    }
};
