// The user log's queue at a stop: a flush writes every line queued before it,
// and one that gives up on a disk that does not answer says how many lines
// were left unwritten. The queue is one per process, so one story, in a
// binary of its own, with a frozen clock so that the general file's name is
// known beforehand.
#include "caster/session/UserLog.h"
#include "caster/session/UserLogQueue.h"
#include "platform/LocalTime.h"
#include "support/Files.h"
#include "support/FrozenClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace {

class UserLogQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserLogQueue_SetRoot(root.Path().c_str());
        std::filesystem::create_directories(root.File("UserLog/2026/0314"));
    }
    std::string GeneralFile() const { return root.File("UserLog/2026/0314/UserLog_20260314_092653.dat"); }

    FrozenClock clock{PlatformLocalTime{2026, 3, 14, 9, 26, 53, 0, 6}};
    TempDir root;
};

TEST_F(UserLogQueueTest, AFlushWritesWhatWasQueuedOrCountsTheLinesItLeft)
{
    const int kLines = 500;
    for (int i = 0; i < kLines; ++i) UserLogQueue_Post(LOG_TO_FILE_GENERAL, "", ("login " + std::to_string(i)).c_str());
    uint64_t left = 99;
    EXPECT_TRUE(UserLogQueue_Flush(10000, &left));
    EXPECT_EQ(0u, left);
    std::string text = ReadFile(GeneralFile());
    for (int i = 0; i < kLines; ++i) {
        ASSERT_NE(std::string::npos, text.find(" login " + std::to_string(i) + "\n")) << i;
    }

    // The general file becomes a pipe nobody reads: opening it blocks the
    // user log's thread as a disk that has stopped answering would.
    ASSERT_EQ(0, unlink(GeneralFile().c_str()));
    ASSERT_EQ(0, mkfifo(GeneralFile().c_str(), 0600));
    const int kStuck = 5;
    for (int i = 0; i < kStuck; ++i) UserLogQueue_Post(LOG_TO_FILE_GENERAL, "", "stuck");
    UserLogQueue_Release("nobody");  // not a line: not counted
    EXPECT_FALSE(UserLogQueue_Flush(200, &left));
    EXPECT_EQ(static_cast<uint64_t>(kStuck), left);

    // A reader comes: the thread writes on, and the lines are out.
    int reader = open(GeneralFile().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(UserLogQueue_Flush(10000, &left));
    EXPECT_EQ(0u, left);
    close(reader);
}

}  // namespace
