#include "platform/CriticalSection.h"
#include "platform/FileSystem.h"
#include "platform/Semaphore.h"
#include "platform/Thread.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>

TEST(Platform, CriticalSectionIsReentrant)
{
    PlatformCriticalSection cs;
    Platform_InitCriticalSection(&cs);
    Platform_EnterCriticalSection(&cs);
    Platform_EnterCriticalSection(&cs);  // would deadlock if not re-entrant
    Platform_LeaveCriticalSection(&cs);
    Platform_LeaveCriticalSection(&cs);
    Platform_DeleteCriticalSection(&cs);
}

TEST(Platform, SemaphoreRespectsItsMaximum)
{
    PlatformSemaphore sem;
    ASSERT_FALSE(Platform_CreateSemaphore(&sem, 3, 2));
    ASSERT_TRUE(Platform_CreateSemaphore(&sem, 0, 2));
    EXPECT_TRUE(Platform_ReleaseSemaphore(&sem, 2));
    EXPECT_FALSE(Platform_ReleaseSemaphore(&sem, 1));  // count would pass 2
    EXPECT_TRUE(Platform_WaitSemaphore(&sem, 0));
    EXPECT_TRUE(Platform_WaitSemaphore(&sem, 0));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Platform_WaitSemaphore(&sem, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    Platform_DestroySemaphore(&sem);
}

static unsigned ReleaseLater(void* arg)
{
    Platform_Sleep(20);
    Platform_ReleaseSemaphore(static_cast<PlatformSemaphore*>(arg), 1);
    return 7;
}

TEST(Platform, JoinableThreadWakesAWaiterAndReturnsItsValue)
{
    PlatformSemaphore sem;
    ASSERT_TRUE(Platform_CreateSemaphore(&sem, 0, 1));
    bool ok = false;
    PlatformThread* t = Platform_BeginThread(ReleaseLater, &sem, true, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(Platform_WaitSemaphore(&sem, -1));
    EXPECT_EQ(7u, Platform_JoinThread(t));
    Platform_DestroySemaphore(&sem);
}

static unsigned WaitForRelease(void* arg)
{
    Platform_WaitSemaphore(static_cast<PlatformSemaphore*>(arg), -1);
    return 9;
}

// A bounded join gives up on a thread that is still running and keeps its
// handle, which a later join still takes.
TEST(Platform, ABoundedJoinLeavesARunningThreadJoinable)
{
    PlatformSemaphore sem;
    ASSERT_TRUE(Platform_CreateSemaphore(&sem, 0, 1));
    bool ok = false;
    PlatformThread* t = Platform_BeginThread(WaitForRelease, &sem, true, &ok);
    ASSERT_TRUE(ok);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Platform_JoinThreadWithin(t, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    Platform_ReleaseSemaphore(&sem, 1);
    EXPECT_TRUE(Platform_JoinThreadWithin(t, 10000));
    Platform_DestroySemaphore(&sem);
}

static unsigned CountUp(void* arg)
{
    static_cast<std::atomic<int>*>(arg)->fetch_add(1);
    return 0;
}

TEST(Platform, DetachedThreadsRunWithoutAHandle)
{
    std::atomic<int> runs{0};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        EXPECT_EQ(nullptr, Platform_BeginThread(CountUp, &runs, false, &ok));
        EXPECT_TRUE(ok);
    }
    for (int i = 0; i < 200 && runs.load() < 4; ++i) Platform_Sleep(5);
    EXPECT_EQ(4, runs.load());
}

TEST(Platform, ExePathIsAbsoluteAndBoundsChecked)
{
    char path[4096];
    ASSERT_TRUE(Platform_GetExePath(path, sizeof(path)));
    EXPECT_EQ('/', path[0]);
    EXPECT_NE(nullptr, strstr(path, "platform_tests"));
    char tiny[4];
    EXPECT_FALSE(Platform_GetExePath(tiny, sizeof(tiny)));
}

