// Re-entrant locks for the registries and the few static locks.
//
// Every lock of the process, its place in the one lock order and the rules
// around them (no disk write, blocking call or console print under a registry
// lock or on a loop thread) are listed in src/LOCKING.md. In short: connection,
// base, rover registries; user tables; stores and the control centre's
// settings; the configuration file and the warning record; relay pool;
// publisher table; control lock; alarm-post worker; command queue; decoding;
// the event loop's; the queues of the user log and the authentication
// centre; the log last.
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
