#include "runtime/Log.h"

#include "support/Files.h"
#include "support/FrozenClock.h"
#include "support/SanitizerReport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string DateText(const PlatformLocalTime& t)
{
    char text[32];
    snprintf(text, sizeof(text), "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

std::string TodayLogName(const std::string& prefix)
{
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    return prefix + "_" + DateText(now) + ".log";
}

// Runs body in a forked child so that it sees the log's process-wide state
// fresh; the child's exit status is the result. A sanitizer's report in
// what it wrote on its standard error fails the story.
int InChild(int (*body)(const std::string& dir), const std::string& dir)
{
    ChildStderr err;
    pid_t pid = fork();
    if (pid == 0) {
        err.Redirect();
        _exit(body(dir));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ("", SanitizerReport_Find(err.Text())) << err.Text();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

}  // namespace

TEST(Log, InitNamesTheFileByPrefixAndDateAndWritesTheFirstLine)
{
    TempDir tmp;
    std::string prefix = tmp.File("Vorlane");
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    Log_Info("hello %d", 42);
    Log_Write(7, "odd level");
    Log_Warn(nullptr);

    std::vector<std::string> lines = SplitLines(ReadFile(TodayLogName(prefix)));
    ASSERT_EQ(4u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d:Log Init OK)"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(thread:\d+ \d\d:\d\d:\d\d\.\d\d\d:\[info\] hello 42)")))
        << lines[1];
    EXPECT_NE(std::string::npos, lines[2].find(":[???] odd level"));
    EXPECT_TRUE(lines[3].size() > 7 && lines[3].compare(lines[3].size() - 7, 7, "[warn] ") == 0) << lines[3];
}

TEST(Log, PrefixLengthLimitIs255)
{
    TempDir tmp;
    std::string base = tmp.Path() + "/";
    std::string ok = base + std::string(255 - base.size(), 'p');
    std::string tooLong = ok + "p";
    EXPECT_EQ(-1, Log_Init(tooLong.c_str()));
    EXPECT_EQ(0, Log_Init(ok.c_str()));
}

TEST(Log, LongMessagesAreCutTo1023Characters)
{
    TempDir tmp;
    std::string prefix = tmp.File("cut");
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    Log_Error("%s", std::string(5000, 'x').c_str());
    std::vector<std::string> lines = SplitLines(ReadFile(TodayLogName(prefix)));
    ASSERT_EQ(2u, lines.size());
    size_t start = lines[1].find("[err] ") + 6;
    EXPECT_EQ(1023u, lines[1].size() - start);
}

// However a caller formats a peer's text, each message is one line: CR, LF
// and the other control characters are escapes, the LF a format ends with is
// the line's end (no empty line), and printable text is kept byte for byte.
TEST(Log, EveryMessageIsOneLineOfItsOwn)
{
    TempDir tmp;
    std::string prefix = tmp.File("lines");
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    Log_Info("%s:user %s of type %d added", "UserAddCb", "x\r\nFORGED CRLF", 3);
    Log_Info("user %s", "x\nFORGED LF");
    Log_Info("user %s", "x\rFORGED CR");
    Log_Info("Base logout:%s, close_type:%s.\n", "MNT1", "timeout");
    Log_Write(LOG_LEVEL_WARN, "written whole\n");
    Log_Info("name \xe5\xbc\xa0\xe4\xb8\x89 \\ kept\x1b[2J");

    std::string text = ReadFile(TodayLogName(prefix));
    EXPECT_EQ(std::string::npos, text.find('\r'));
    std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(7u, lines.size()) << text;
    std::regex shape(R"(thread:\d+ \d\d:\d\d:\d\d\.\d\d\d:\[(info|warn)\] .+)");
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], shape)) << lines[i];
    auto message = [&](size_t i) { return lines[i].substr(lines[i].find("] ") + 2); };
    EXPECT_EQ("UserAddCb:user x\\r\\nFORGED CRLF of type 3 added", message(1));
    EXPECT_EQ("user x\\nFORGED LF", message(2));
    EXPECT_EQ("user x\\rFORGED CR", message(3));
    EXPECT_EQ("Base logout:MNT1, close_type:timeout.", message(4));
    EXPECT_EQ("written whole", message(5));
    EXPECT_EQ("name \xe5\xbc\xa0\xe4\xb8\x89 \\ kept\\x1b[2J", message(6));
}

// The 1023-character cut applies to the message as formatted; its escapes
// may make the line longer, never cut it further.
TEST(Log, TheCutComesBeforeTheEscapes)
{
    TempDir tmp;
    std::string prefix = tmp.File("cutescaped");
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    Log_Error("%s", std::string(5000, '\x01').c_str());
    std::vector<std::string> lines = SplitLines(ReadFile(TodayLogName(prefix)));
    ASSERT_EQ(2u, lines.size());
    std::string message = lines[1].substr(lines[1].find("[err] ") + 6);
    std::string want;
    for (int i = 0; i < 1023; ++i) want += "\\x01";
    EXPECT_EQ(want, message);
}

TEST(Log, ANewDateSwitchesToAFileWithoutExtension)
{
    TempDir tmp;
    std::string prefix = tmp.File("day");
    {
        FrozenClock clock(PlatformLocalTime{2026, 12, 31, 23, 59, 59, 998, 4});
        ASSERT_EQ(0, Log_Init(prefix.c_str()));
        Log_Info("before midnight");
        clock.Set(PlatformLocalTime{2027, 1, 1, 0, 0, 0, 5, 5});
        Log_Info("after midnight");
    }

    std::vector<std::string> old = SplitLines(ReadFile(prefix + "_2026-12-31.log"));
    ASSERT_EQ(2u, old.size());
    EXPECT_NE(std::string::npos, old[1].find("before midnight"));

    std::vector<std::string> fresh = SplitLines(ReadFile(prefix + "_2027-01-01"));
    ASSERT_EQ(2u, fresh.size());
    EXPECT_EQ("00:00:00.005: Init OK", fresh[0]);
    EXPECT_NE(std::string::npos, fresh[1].find("00:00:00.005:[info] after midnight"));
}

TEST(Log, TheFileStartsOverAt100MiB)
{
    TempDir tmp;
    std::string prefix = tmp.File("cap");
    std::string name = TodayLogName(prefix);
    // A sparse file already at the cap stands in for 100 MiB of lines.
    FILE* f = fopen(name.c_str(), "w");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(0, ftruncate(fileno(f), LOG_FILE_CAP));
    fclose(f);

    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    Log_Info("first line after the cap");
    std::string content = ReadFile(name);
    // Only the init line lands past the cap; the next line starts over at 0.
    EXPECT_LE(content.size(), static_cast<size_t>(LOG_FILE_CAP + 64));
    EXPECT_EQ(0u, content.find("thread:"));
    EXPECT_NE(std::string::npos, content.substr(0, 200).find("first line after the cap"));
}

TEST(Log, LinesStayWholeUnderManyThreads)
{
    TempDir tmp;
    std::string prefix = tmp.File("threads");
    ASSERT_EQ(0, Log_Init(prefix.c_str()));
    const int kThreads = 8, kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) Log_Info("writer %d line %d %s", t, i, std::string(100, 'a' + t).c_str());
        });
    }
    for (auto& th : threads) th.join();

    std::vector<std::string> lines = SplitLines(ReadFile(TodayLogName(prefix)));
    ASSERT_EQ(static_cast<size_t>(1 + kThreads * kLines), lines.size());
    std::regex shape(R"(thread:\d+ \d\d:\d\d:\d\d\.\d\d\d:\[info\] writer (\d) line (\d+) ([a-h]{100}))");
    std::vector<int> next(kThreads, 0);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        int t = std::stoi(m[1]);
        EXPECT_EQ(next[t]++, std::stoi(m[2]));  // each writer's lines in its order
        EXPECT_EQ(std::string(100, 'a' + t), m[3].str());
    }
}

static int LineBeforeInitThenInit(const std::string& dir)
{
    if (chdir(dir.c_str()) != 0) return 1;
    Log_Info("early line");
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    std::string early = "_" + DateText(now);  // empty prefix, no extension
    if (ReadFile(early).find("early line") == std::string::npos) return 2;
    if (Log_Init((dir + "/late").c_str()) != 0) return 3;
    // The stream opened for the early line must be closed now.
    char link[4096];
    for (int fd = 0; fd < 1024; ++fd) {
        std::string p = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = readlink(p.c_str(), link, sizeof(link) - 1);
        if (n <= 0) continue;
        link[n] = '\0';
        if (std::string(link) == dir + "/" + early) return 4;
    }
    Log_Info("late line");
    if (ReadFile(TodayLogName(dir + "/late")).find("late line") == std::string::npos) return 5;
    return 0;
}

TEST(Log, ALineBeforeInitGoesToAnUnprefixedFileThatInitCloses)
{
    TempDir tmp;
    EXPECT_EQ(0, InChild(LineBeforeInitThenInit, tmp.Path()));
}
