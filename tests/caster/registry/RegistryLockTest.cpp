// The registry guards: whatever way a scope is left, every lock it took is
// free again for other threads; and a debug build refuses to take the locks
// against their order.
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RegistryLock.h"
#include "caster/registry/RoverTable.h"
#include "support/OtherThread.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// True when another thread takes all three locks within the bound.
bool OtherThreadTakesAll()
{
    return FinishesOnOtherThread([] { RegistriesGuard locks; });
}

// Leaves its scope early, as a failed lookup does.
int EarlyReturn(bool leaveEarly)
{
    ConnInfoTable::Guard conns;
    BaseTable::Guard bases;
    if (leaveEarly) return 1;
    RoverTable::Guard rovers;
    return 2;
}

void Throws()
{
    RegistriesGuard locks;
    RoverTable::Guard again;  // re-entrant: taken twice, left twice
    throw std::runtime_error("out of the middle");
}

TEST(RegistryGuards, EveryWayOutOfAScopeReleasesItsLocks)
{
    EXPECT_EQ(EarlyReturn(true), 1);
    EXPECT_TRUE(OtherThreadTakesAll()) << "after an early return";
    EXPECT_EQ(EarlyReturn(false), 2);
    EXPECT_TRUE(OtherThreadTakesAll()) << "after the end of the scope";
    EXPECT_THROW(Throws(), std::runtime_error);
    EXPECT_TRUE(OtherThreadTakesAll()) << "after an exception";
}

TEST(RegistryGuards, ReleaseLeavesEarlyAndOnlyOnce)
{
    {
        RegistriesGuard locks;
        locks.Release();
        EXPECT_TRUE(OtherThreadTakesAll()) << "while the released guard is still in scope";
        locks.Release();
    }
    ConnInfoTable::Guard conns;
    EXPECT_TRUE(conns.Held());
    conns.Release();
    EXPECT_FALSE(conns.Held());
    EXPECT_TRUE(OtherThreadTakesAll());
}

TEST(RegistryGuards, TheOrderAndReentryAreAllowed)
{
    // Down the order, a lock held already, and one lock again after leaving
    // a later one: none of them can wait for another thread in a cycle.
    ConnInfoTable::Guard conns;
    {
        RoverTable::Guard rovers;
    }
    BaseTable::Guard bases;
    RoverTable::Guard rovers;
    BaseTable::Guard basesAgain;
    ConnInfoTable::Guard connsAgain;
    SUCCEED();
}

#ifndef NDEBUG
// A debug build stops at the first lock taken against the order, and says
// which two locks they were.
TEST(RegistryGuardsDeathTest, TakingALockAgainstTheOrderAbortsInADebugBuild)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* name;
        void (*take)();
        const char* message;
    } cases[] = {
        {"base under rover",
         [] {
             RoverTable::Guard rovers;
             BaseTable::Guard bases;
         },
         "the base registry lock is taken while the rover registry lock is held"},
        {"connection under base",
         [] {
             BaseTable::Guard bases;
             ConnInfoTable::Guard conns;
         },
         "the connection registry lock is taken while the base registry lock is held"},
        {"connection under the rover alone",
         [] {
             BaseTable::Guard bases;
             RoverTable::Guard rovers;
             bases.Release();
             ConnInfoTable::Guard conns;
         },
         "the connection registry lock is taken while the rover registry lock is held"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.take(), c.message);
    }
}
#endif

}  // namespace
