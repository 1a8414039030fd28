#include "caster/registry/RegistryLock.h"

#include "runtime/Lock.h"

#ifndef NDEBUG
#include <cstdio>
#include <cstdlib>
#endif

namespace {

const int REGISTRY_LOCK_COUNT = 3;

::Lock& LockOf(RegistryLockRank rank)
{
    static ::Lock locks[REGISTRY_LOCK_COUNT];
    return locks[rank];
}

#ifndef NDEBUG
const char* const LOCK_NAMES[REGISTRY_LOCK_COUNT] = {"connection", "base", "rover"};

// How often this thread has entered each lock.
thread_local int t_held[REGISTRY_LOCK_COUNT];

void CheckOrder(RegistryLockRank rank)
{
    if (t_held[rank] > 0) return;
    for (int later = rank + 1; later < REGISTRY_LOCK_COUNT; ++later) {
        if (t_held[later] == 0) continue;
        // A debug build's own report of a fault that can deadlock the caster:
        // printed straight away, the process ends on the next line.
        fprintf(stderr,
                "registry lock order broken: the %s registry lock is taken while the %s registry lock is held "
                "(order: connection, base, rover)\n",
                LOCK_NAMES[rank], LOCK_NAMES[later]);
        fflush(stderr);
        abort();
    }
}
#endif

}  // namespace

RegistryLockGuard::RegistryLockGuard(RegistryLockRank rank) : rank_(rank), held_(true)
{
#ifndef NDEBUG
    CheckOrder(rank);
#endif
    LockOf(rank).Enter();
#ifndef NDEBUG
    ++t_held[rank];
#endif
}

void RegistryLockGuard::Release()
{
    if (!held_) return;
    held_ = false;
#ifndef NDEBUG
    --t_held[rank_];
#endif
    LockOf(rank_).Leave();
}
