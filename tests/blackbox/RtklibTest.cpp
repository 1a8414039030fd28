// RTKLIB's str2str on both ends: a base streaming RTCM 3 into vorlane and a
// rover taking it out into a file, as a surveyor's tools would.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/ToolPeers.h"
#include "support/Files.h"

#include <chrono>

namespace {

class BlackboxRtklib : public CasterTest {};

TEST_F(BlackboxRtklib, RoverFileHoldsExactlyTheBytesTheBaseFed)
{
    ASSERT_FALSE(ToolPeers::Str2StrPath().empty()) << "str2str is not installed (Debian package rtklib)";
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("rtkrover", "Rover-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    // str2str drops what it reads before its login is answered: the feed
    // waits long enough for both logins, then runs at 20 KB/s.
    const int kDelayMs = 2500, kChunk = 1000, kIntervalMs = 50;
    const std::string feed = GnssFrames::RtcmFeed(40000, 17);
    const std::string feedPath = vorlane.File("feed.rtcm3");
    ASSERT_TRUE(ToolPeers::WriteTimedFeed(feedPath, feed, kChunk, kIntervalMs, kDelayMs));
    const std::string outPath = vorlane.File("rover.rtcm3");

    auto start = std::chrono::steady_clock::now();
    ChildProcess base, rover;
    ASSERT_TRUE(ToolPeers::StartStr2StrBase(&base, vorlane.Dir(), feedPath, Port(), "MNT1", "Base-Pw-1"));
    ASSERT_TRUE(RawPeers::WaitListed(Port(), "MNT1")) << "the str2str base never logged in\n"
                                                       << ReadFile(vorlane.File("str2str-base.err"));
    ASSERT_TRUE(ToolPeers::StartStr2StrRover(&rover, vorlane.Dir(), Port(), "MNT1", "rtkrover", "Rover-Pw-1", outPath));
    // The rover's file starts with what follows "ICY 200 OK\r\n" in the
    // reply: its final "\r\n". Its arrival is the rover's login.
    ASSERT_TRUE(ToolPeers::WaitFileSize(outPath, 2, 3000)) << "the str2str rover never logged in\n"
                                                           << ReadFile(vorlane.File("str2str-rover.err"));
    auto loggedIn = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_LT(loggedIn.count(), kDelayMs - 200) << "the peers logged in after the feed began: lengthen its delay";

    const int duration = ToolPeers::TimedFeedDurationMs(feed.size(), kChunk, kIntervalMs, kDelayMs);
    EXPECT_TRUE(ToolPeers::WaitFileSize(outPath, 2 + feed.size(), duration + 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing may follow
    rover.Stop(SIGINT, 3000);
    base.Stop(SIGINT, 3000);

    const std::string got = ReadFile(outPath);
    const std::string want = "\r\n" + feed;
    EXPECT_TRUE(got == want) << FirstDifference(got, want) << "\nrover's file starts " << Printable(got, 60);
}

}  // namespace
