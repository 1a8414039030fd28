// The daily log with its writer thread: callers never wait on the file, a
// file that stops taking bytes costs lines past the queue's cap (counted in
// the file once it moves again), never a caller's time.
#include "runtime/Log.h"

#include "support/Files.h"
#include "support/FrozenClock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string TodayLogName(const std::string& prefix)
{
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof(text), "_%04d-%02d-%02d.log", now.year, now.month, now.day);
    return prefix + text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// The writer is process-wide: every case of this binary runs with it.
class LogWriterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Log_StartWriter(); }
    TempDir dir_;
};

TEST_F(LogWriterTest, LinesKeepTheirFormatAndEachThreadsOrder)
{
    std::string prefix = dir_.Path() + "/w";
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    const int kThreads = 4, kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) Log_Info("writer %d line %d", t, i);
        });
    }
    for (std::thread& t : threads) t.join();
    Log_Write(7, "odd level");
    ASSERT_TRUE(Log_Flush(10000));

    std::vector<std::string> lines = Lines(ReadFile(TodayLogName(prefix)));
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines + 2), lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d:Log Init OK)"))) << lines[0];
    std::regex shape(R"(thread:\d+ \d\d:\d\d:\d\d\.\d\d\d:\[info\] writer (\d) line (\d+))");
    std::vector<int> next(kThreads, 0);
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        EXPECT_EQ(next[std::stoi(m[1])]++, std::stoi(m[2]));
    }
    EXPECT_NE(std::string::npos, lines.back().find(":[???] odd level"));
}

// Lines the writer thread writes are made one line each as well.
TEST_F(LogWriterTest, AForgedLineStaysInItsOwnLine)
{
    std::string prefix = dir_.Path() + "/f";
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    Log_Info("user %s added\n", "x\r\nthread:1 00:00:00.000:[info] FORGED");
    ASSERT_TRUE(Log_Flush(10000));
    std::vector<std::string> lines = Lines(ReadFile(TodayLogName(prefix)));
    ASSERT_EQ(2u, lines.size());  // the init line and the line: no empty line after it
    std::regex shape(R"(thread:\d+ \d\d:\d\d:\d\d\.\d\d\d:\[info\] )"
                     R"(user x\\r\\nthread:1 00:00:00\.000:\[info\] FORGED added)");
    EXPECT_TRUE(std::regex_match(lines[1], shape)) << lines[1];
}

// Lines carry the moment they were written: one written before midnight
// lands in that day's file even when the writer gets to it after.
TEST_F(LogWriterTest, ALineGoesToTheFileOfItsOwnDate)
{
    std::string prefix = dir_.Path() + "/d";
    {
        FrozenClock clock(PlatformLocalTime{2026, 12, 31, 23, 59, 59, 500, 0});
        ASSERT_EQ(0, Log_Init(prefix.c_str()));
        Log_Info("before midnight");
        clock.Set(PlatformLocalTime{2027, 1, 1, 0, 0, 0, 500, 0});
        Log_Info("after midnight");
        ASSERT_TRUE(Log_Flush(10000));
    }
    std::string old = ReadFile(prefix + "_2026-12-31.log");
    std::string fresh = ReadFile(prefix + "_2027-01-01");
    EXPECT_NE(std::string::npos, old.find("before midnight"));
    EXPECT_EQ(std::string::npos, old.find("after midnight"));
    EXPECT_NE(std::string::npos, fresh.find(" Init OK"));
    EXPECT_NE(std::string::npos, fresh.find("after midnight"));
}

// The log file is a pipe nobody reads: once its 64 KiB are full every write
// to it blocks. The callers go on; past the queue's cap lines are dropped.
TEST_F(LogWriterTest, AFileThatBlocksNeverHoldsACaller)
{
    std::string prefix = dir_.Path() + "/p";
    std::string name = TodayLogName(prefix);
    ASSERT_EQ(0, mkfifo(name.c_str(), 0600));
    ASSERT_EQ(0, Log_Init(prefix.c_str()));

    const std::string payload(1000, 'x');
    const int kLines = static_cast<int>(LOG_QUEUE_CAP / payload.size()) + 2000;  // well past the cap
    std::future<void> writing = std::async(std::launch::async, [&] {
        for (int i = 0; i < kLines; ++i) Log_Info("line %d %s", i, payload.c_str());
    });
    // A caller that waited on the file would never get through: nothing reads it yet.
    ASSERT_EQ(std::future_status::ready, writing.wait_for(std::chrono::seconds(30)));
    EXPECT_FALSE(Log_Flush(200)) << "the writer itself is stuck on the pipe";

    // Now read the pipe: the writer moves again and reports what it dropped.
    // A flush returns once the writer has written all of it to the pipe; the
    // reader then takes what the pipe still holds.
    std::string text;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK);
        char buffer[65536];
        for (;;) {
            bool flushed = done.load();
            ssize_t n = read(fd, buffer, sizeof(buffer));
            if (n > 0) {
                text.append(buffer, static_cast<size_t>(n));
            } else if (flushed) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        close(fd);
    });
    bool flushed = Log_Flush(30000);
    done = true;
    reader.join();
    ASSERT_TRUE(flushed);
    EXPECT_NE(std::string::npos, text.find("line 0 "));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(\[warn\] Log_Write:(\d+) lines dropped)")));
    EXPECT_GE(std::stoi(m[1]), 2000);
    // Every line that got in is whole.
    std::vector<std::string> lines = Lines(text);
    for (const std::string& line : lines) {
        if (line.find(" line ") != std::string::npos) {
            EXPECT_EQ(payload, line.substr(line.size() - payload.size()));
        }
    }
    Log_Init((dir_.Path() + "/after").c_str());  // off the pipe before it goes
}

}  // namespace
