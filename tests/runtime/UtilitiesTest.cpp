#include "runtime/ExeDir.h"
#include "runtime/Geodesy.h"
#include "runtime/Lock.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

// Every file kept beside the executable is found through these two.
TEST(ExeDir, FilePathJoinsTheDirectoryAndTheName)
{
    struct {
        const char* dir;
        const char* name;
        size_t size;
        bool ok;
        const char* path;
    } cases[] = {
        {"/svc/", "station.db", 64, true, "/svc/station.db"},
        {"/svc", "station.db", 64, true, "/svc/station.db"},
        {"", "station.db", 64, true, "station.db"},
        {"/svc/", "station.db", 16, true, "/svc/station.db"},  // 15 characters and the NUL
        {"/svc/", "station.db", 15, false, ""},
        {nullptr, "station.db", 64, false, ""},
        {"/svc/", nullptr, 64, false, ""},
    };
    for (auto& c : cases) {
        char path[64];
        strcpy(path, "old");
        EXPECT_EQ(c.ok, ExeDir_Join(c.dir, c.name, path, c.size)) << c.dir << " " << c.size;
        EXPECT_STREQ(c.path, path) << c.dir << " " << c.size;
    }

    char dir[EXE_DIR_PATH_SIZE];
    ASSERT_TRUE(GetExeDirPathInWin(dir));
    char path[EXE_FILE_PATH_SIZE];
    ASSERT_EQ(EXE_FILE_PATH_OK, ExeDir_FilePath("user.db", path, sizeof(path)));
    EXPECT_EQ(std::string(dir) + "user.db", path);
    char tiny[4];
    EXPECT_EQ(EXE_FILE_PATH_TOO_LONG, ExeDir_FilePath("user.db", tiny, sizeof(tiny)));
    EXPECT_STREQ("", tiny);
}

TEST(ExeDir, FindFileSaysOnlyWhetherItWorkedAndLogsUnderItsCaller)
{
    LogCapture log;
    char dir[EXE_DIR_PATH_SIZE];
    ASSERT_TRUE(GetExeDirPathInWin(dir));
    char path[EXE_FILE_PATH_SIZE];
    ASSERT_TRUE(ExeDir_FindFile("station.db", path, sizeof(path), "Caller::One"));
    EXPECT_EQ(std::string(dir) + "station.db", path);

    char tiny[4] = "abc";
    EXPECT_FALSE(ExeDir_FindFile("station.db", tiny, sizeof(tiny), "Caller::Two"));
    EXPECT_STREQ("", tiny);
    EXPECT_TRUE(log.Has("Caller::Two:path too long for station.db"));
    EXPECT_FALSE(ExeDir_FindFile("station.db", tiny, sizeof(tiny), nullptr));
    EXPECT_FALSE(ExeDir_FindFile(nullptr, path, sizeof(path), "Caller::Three"));
    EXPECT_STREQ("", path);
    EXPECT_TRUE(log.Has("Caller::Three:path too long for (null)"));
    EXPECT_FALSE(log.Has("Caller::One")) << "a success logs nothing";
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
