// Re-entrant locks for the registries and the few static locks.
//
// Lock order wherever several are held: connection registry, then base
// registry, then rover registry; the user-log mutex only inside them, around
// a write.
#pragma once

#include "platform/CriticalSection.h"

class Lock {
public:
    Lock() { Platform_InitCriticalSection(&cs_); }
    ~Lock() { Platform_DeleteCriticalSection(&cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Enter() { Platform_EnterCriticalSection(&cs_); }
    void Leave() { Platform_LeaveCriticalSection(&cs_); }

private:
    PlatformCriticalSection cs_;
};

// Enters a lock for the guard's scope.
class ScopedLock {
public:
    explicit ScopedLock(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~ScopedLock() { lock_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Lock& lock_;
};
