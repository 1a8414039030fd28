// The user log tree: files by day and by the moment they were started, lines
// appended whole, user names made safe as path components.
#include "caster/session/UserLog.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "support/Files.h"
#include "support/FrozenClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>

#include <string>
#include <vector>

namespace {

// Every regular file under dir, as paths relative to it, sorted.
void ListFiles(const std::string& dir, const std::string& prefix, std::vector<std::string>* out)
{
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        if (e->d_type == DT_DIR) {
            ListFiles(path, prefix + name + "/", out);
        } else {
            out->push_back(prefix + name);
        }
    }
    closedir(d);
}

std::vector<std::string> Files(const TempDir& root)
{
    std::vector<std::string> files;
    ListFiles(root.Path(), "", &files);
    std::sort(files.begin(), files.end());
    return files;
}

class UserLogTest : public ::testing::Test {
protected:
    void SetNow(int year, int month, int day, int hour, int minute, int second, int ms = 0)
    {
        clock.Set(PlatformLocalTime{year, month, day, hour, minute, second, ms, 0});
    }
    FrozenClock clock;
    TempDir root;
};

}  // namespace

TEST_F(UserLogTest, GeneralLinesGoToTheFileOfTheDayStartedAtTheFirstLine)
{
    LogToFile writer(root.Path().c_str());
    SetNow(2026, 3, 7, 9, 5, 1, 42);
    ASSERT_TRUE(writer.Write("[1] [127.0.0.1:5000]  u login sucess, mountpoint is M. \n", LOG_TO_FILE_GENERAL, ""));
    SetNow(2026, 3, 7, 23, 59, 59, 999);
    ASSERT_TRUE(writer.Write("second", LOG_TO_FILE_GENERAL, ""));
    // After midnight: a new file in the new day's folder, named by that moment.
    SetNow(2026, 3, 8, 0, 0, 3, 7);
    ASSERT_TRUE(writer.Write("third", LOG_TO_FILE_GENERAL, ""));

    EXPECT_EQ((std::vector<std::string>{"UserLog/2026/0307/UserLog_20260307_090501.dat",
                                        "UserLog/2026/0308/UserLog_20260308_000003.dat"}),
              Files(root));
    EXPECT_EQ("09:05:01.042 [1] [127.0.0.1:5000]  u login sucess, mountpoint is M. \n\n"
              "23:59:59.999 second\n",
              ReadFile(root.File("UserLog/2026/0307/UserLog_20260307_090501.dat")));
    EXPECT_EQ("00:00:03.007 third\n", ReadFile(root.File("UserLog/2026/0308/UserLog_20260308_000003.dat")));
}

TEST_F(UserLogTest, PerUserLinesGoToTheUsersFolderAndStartAfreshEachDay)
{
    LogToFile writer(root.Path().c_str());
    SetNow(2026, 12, 31, 23, 59, 58);
    ASSERT_TRUE(writer.Write("$GPGGA,1*00", LOG_TO_FILE_USER, "alice"));
    SetNow(2026, 12, 31, 23, 59, 59);
    ASSERT_TRUE(writer.Write("$GPGGA,2*00", LOG_TO_FILE_USER, "alice"));
    SetNow(2027, 1, 1, 0, 0, 1);
    ASSERT_TRUE(writer.Write("$GPGGA,3*00", LOG_TO_FILE_USER, "alice"));
    EXPECT_FALSE(writer.Write("ignored", 2, "alice"));

    EXPECT_EQ((std::vector<std::string>{"UserLog/2026/1231/alice/alice_20261231_235958.dat",
                                        "UserLog/2027/0101/alice/alice_20270101_000001.dat"}),
              Files(root));
    EXPECT_EQ("[23:59:58] $GPGGA,1*00\n[23:59:59] $GPGGA,2*00\n",
              ReadFile(root.File("UserLog/2026/1231/alice/alice_20261231_235958.dat")));
    EXPECT_EQ("[00:00:01] $GPGGA,3*00\n", ReadFile(root.File("UserLog/2027/0101/alice/alice_20270101_000001.dat")));
}

// A rover names itself: whatever it sends must stay one folder inside the tree.
TEST_F(UserLogTest, UserNamesCannotLeaveTheTree)
{
    struct Case {
        const char* name;
        const char* safe;
    } cases[] = {
        {"../..", "_._.."},
        {"..", "_."},
        {".hidden", "_hidden"},
        {"a/b", "a_b"},
        {"a\\b", "a_b"},
        {"tab\there", "tab_here"},
        {"", "_"},
        {"u~2", "u~2"},
        {"\xe6\xb5\x8b\xe7\xab\x99", "\xe6\xb5\x8b\xe7\xab\x99"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.safe, UserLog_SafeName(c.name)) << c.name;

    LogToFile writer(root.Path().c_str());
    SetNow(2026, 5, 5, 5, 5, 5);
    ASSERT_TRUE(writer.Write("line", LOG_TO_FILE_USER, "../.."));
    EXPECT_EQ((std::vector<std::string>{"UserLog/2026/0505/_._../_._.._20260505_050505.dat"}), Files(root));
}

TEST_F(UserLogTest, AFolderThatCannotBeMadeWritesNothingAndIsTriedAgain)
{
    // A file where the tree's folder should be.
    ASSERT_TRUE(WriteFile(root.File("UserLog"), "not a folder"));
    LogToFile writer(root.Path().c_str());
    SetNow(2026, 1, 2, 3, 4, 5);
    EXPECT_FALSE(writer.Write("lost", LOG_TO_FILE_GENERAL, ""));
    ASSERT_EQ(0, remove(root.File("UserLog").c_str()));
    SetNow(2026, 1, 2, 3, 4, 6);
    EXPECT_TRUE(writer.Write("kept", LOG_TO_FILE_GENERAL, ""));
    EXPECT_EQ("03:04:06.000 kept\n", ReadFile(root.File("UserLog/2026/0102/UserLog_20260102_030406.dat")));
}

TEST_F(UserLogTest, MakeDirsMakesEveryLevel)
{
    std::string deep = root.File("a/b/c/");
    EXPECT_TRUE(LogToFile::MakeDirs(deep.c_str()));
    EXPECT_TRUE(Platform_PathExists(root.File("a/b/c").c_str()));
    EXPECT_TRUE(LogToFile::MakeDirs(deep.c_str()));  // existing folders are fine
    EXPECT_FALSE(LogToFile::MakeDirs(""));
}
