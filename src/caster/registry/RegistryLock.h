// The locks of the connection, base and rover registries, held only through
// scoped guards: a return or an exception on any path leaves them.
//
// Each registry has one process-wide re-entrant critical section. Where
// several are held they are taken in the order connection, base, rover and
// left in reverse. A debug build (no NDEBUG) checks that order on every
// thread and aborts, naming both locks, when a lock is taken while a later
// one is held (taking one the thread holds already is always allowed: it
// cannot wait). A release build checks nothing and pays nothing for it.
#pragma once

// The place of each registry lock in the order.
enum RegistryLockRank {
    REGISTRY_LOCK_CONNECTION = 0,
    REGISTRY_LOCK_BASE = 1,
    REGISTRY_LOCK_ROVER = 2,
};

// Holds one registry lock from its construction to its destruction or to
// Release, whichever comes first.
class RegistryLockGuard {
public:
    explicit RegistryLockGuard(RegistryLockRank rank);
    ~RegistryLockGuard() { Release(); }
    RegistryLockGuard(const RegistryLockGuard&) = delete;
    RegistryLockGuard& operator=(const RegistryLockGuard&) = delete;

    // Leaves the lock early (a caller about to post, block or take a lock it
    // may not hold it across); once released the guard holds nothing.
    void Release();
    bool Held() const { return held_; }

private:
    RegistryLockRank rank_;
    bool held_;
};

// The three registry locks in their order, released in reverse.
class RegistriesGuard {
public:
    RegistriesGuard()
        : conns_(REGISTRY_LOCK_CONNECTION), bases_(REGISTRY_LOCK_BASE), rovers_(REGISTRY_LOCK_ROVER)
    {
    }
    RegistriesGuard(const RegistriesGuard&) = delete;
    RegistriesGuard& operator=(const RegistriesGuard&) = delete;

    void Release()
    {
        rovers_.Release();
        bases_.Release();
        conns_.Release();
    }

private:
    RegistryLockGuard conns_;
    RegistryLockGuard bases_;
    RegistryLockGuard rovers_;
};

// The base and rover locks, in that order (the connection lock not taken).
class BaseRoverGuard {
public:
    BaseRoverGuard() : bases_(REGISTRY_LOCK_BASE), rovers_(REGISTRY_LOCK_ROVER) {}
    BaseRoverGuard(const BaseRoverGuard&) = delete;
    BaseRoverGuard& operator=(const BaseRoverGuard&) = delete;

    void Release()
    {
        rovers_.Release();
        bases_.Release();
    }

private:
    RegistryLockGuard bases_;
    RegistryLockGuard rovers_;
};
