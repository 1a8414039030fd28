// The user log tree under rover traffic: a rover's GGA sentences go to its
// user's own file inside the day's folder, whatever the user is named.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/NtripTexts.h"

#include <algorithm>
#include <csignal>
#include <string>
#include <filesystem>
#include <vector>

namespace {

using RawPeers::LoginRover;

namespace fs = std::filesystem;

class BlackboxUserLog : public CasterTest {};

// A user name is a folder name in the user log tree; one made of ".."
// components must not put files outside the day's folder.
TEST_F(BlackboxUserLog, UserNameCannotLeaveTheDayFolder)
{
    const std::string tag = "escape-" + fs::path(vorlane.Dir()).filename().string();
    const std::string user = "../../../../" + tag;
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount(user, "Esc-Pw-1"));

    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    TestClient rover;
    std::string reply;
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNT1", user, "Esc-Pw-1", &reply)) << Printable(reply);

    const std::string gga = GnssFrames::Gga(30.5, 114.3, 25.0);
    bool logged = false;
    for (int i = 0; i < 30 && !logged; ++i) {
        ASSERT_TRUE(rover.Send(gga + "\r\n"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        logged = vorlane.UserLogText().find(gga) != std::string::npos;
    }
    EXPECT_TRUE(logged) << "the rover's GGA never reached its user log";

    // The tree is UserLog/<yyyy>/<mmdd>/..., files only inside a day folder.
    const fs::path root = fs::path(vorlane.Dir()) / "UserLog";
    auto fourDigits = [](const std::string& s) {
        return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::vector<std::string> parts;
        for (const fs::path& part : fs::relative(it->path(), root)) parts.push_back(part.string());
        bool inside = !parts.empty() && fourDigits(parts[0]) && (parts.size() < 2 || fourDigits(parts[1])) &&
                      (it->is_directory() || parts.size() >= 3);
        EXPECT_TRUE(inside) << it->path() << " is not inside a day folder";
    }
    const fs::path outside[] = {fs::path(vorlane.Dir()).parent_path() / tag, fs::path(vorlane.Dir()) / tag,
                                root / tag};
    for (const fs::path& p : outside) {
        bool escaped = fs::exists(p);
        EXPECT_FALSE(escaped) << p << " was made from the user name";
        if (escaped) fs::remove_all(p, ec);
    }
}

// Two thousand rovers log in at once and the service is stopped the moment
// the last of them has its answer: every login line queued for the user log
// is in the general file when the process has ended.
TEST_F(BlackboxUserLog, EveryLoginLineIsWrittenBeforeAStopEndsTheProcess)
{
    const int kRovers = 2000;
    vorlane.SetNtrip("base_login_mode", 1);
    vorlane.SetNtrip("rover_login_mode", 1);
    vorlane.SetNtrip("rover_gga_log", 1);
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "any"));

    std::vector<TestClient> rovers(kRovers);
    auto name = [](int i) { return "stopper" + std::to_string(i); };
    for (int i = 0; i < kRovers; ++i) ASSERT_TRUE(rovers[i].Connect(Port())) << i;
    for (int i = 0; i < kRovers; ++i) ASSERT_TRUE(rovers[i].Send(NtripTexts::GetRequest("MNT1", name(i), "pw"))) << i;
    // A rover's line is queued before its answer.
    for (int i = 0; i < kRovers; ++i) {
        ASSERT_EQ(NtripTexts::kIcyOk, rovers[i].ReadExactly(NtripTexts::kIcyOk.size(), RawPeers::kReplyMs)) << i;
    }
    stopAtEnd_ = false;
    ExitStatus status = vorlane.Stop(SIGTERM, 10000);
    EXPECT_TRUE(status.Success()) << status.Describe();

    const std::string text = vorlane.UserLogText();
    int lines = 0;
    for (size_t at = text.find("login sucess"); at != std::string::npos; at = text.find("login sucess", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(kRovers, lines);
    for (int i = 0; i < kRovers; ++i) {
        ASSERT_NE(std::string::npos, text.find("  " + name(i) + " login sucess, mountpoint is MNT1. \n")) << name(i);
    }
    EXPECT_EQ(0, vorlane.CountInLog("user log lines not written at the stop"));
}

}  // namespace
