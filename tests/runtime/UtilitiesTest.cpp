#include "runtime/ExeDir.h"
#include "runtime/Geodesy.h"
#include "runtime/Lock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

TEST(ExeDir, KeepsTheDirectoryWithItsTrailingSlash)
{
    struct {
        const char* path;
        const char* dir;
    } cases[] = {
        {"/svc/app", "/svc/"},
        {"/svc/app.exe", "/svc/"},
        {"/", "/"},
        {"app", ""},
        {"", ""},
    };
    for (auto& c : cases) {
        char buf[EXE_DIR_PATH_SIZE];
        strcpy(buf, c.path);
        ExeDir_KeepDirectory(buf);
        EXPECT_STREQ(c.dir, buf) << c.path;
    }
    char dir[EXE_DIR_PATH_SIZE];
    ASSERT_TRUE(GetExeDirPathInWin(dir));
    EXPECT_EQ('/', dir[strlen(dir) - 1]);
}

TEST(Geodesy, GeodeticToEcefMatchesKnownPoints)
{
    struct {
        double lat, lon, h, x, y, z;
    } cases[] = {
        {0, 0, 0, 6378137.0, 0, 0},
        {90, 0, 0, 0, 0, 6356752.314245},
        {0, 90, 100, 0, 6378237.0, 0},
    };
    for (auto& c : cases) {
        double x, y, z;
        GeodeticToEcef(c.lat, c.lon, c.h, &x, &y, &z);
        const double tol = 1e-3;
        EXPECT_NEAR(c.x, x, tol) << c.lat << "," << c.lon;
        EXPECT_NEAR(c.y, y, tol) << c.lat << "," << c.lon;
        EXPECT_NEAR(c.z, z, tol) << c.lat << "," << c.lon;
    }
}

TEST(Lock, ScopedLockIsReentrantAndExcludesOtherThreads)
{
    Lock lock;
    int shared = 0;
    std::thread other;
    {
        ScopedLock outer(lock);
        ScopedLock inner(lock);
        other = std::thread([&] {
            ScopedLock g(lock);
            shared = shared * 10 + 2;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        shared = 1;
    }
    other.join();
    EXPECT_EQ(12, shared);
}
