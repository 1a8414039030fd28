// One account, several rovers (one_account_multi_user 1): their names stay
// u, u~2, u~3 without gaps as rovers leave, which the next login's name and
// the user log show.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"
#include "support/Files.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;
using RawPeers::LoginRover;

class BlackboxMultiUser : public CasterTest {
protected:
    // Every GGA file of a user folder of that name in the user log tree.
    std::string UserFolderText(const std::string& user) const
    {
        std::string text;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(fs::path(vorlane.Dir()) / "UserLog", ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file() && it->path().parent_path().filename() == user) {
                text += ReadFile(it->path().string());
            }
        }
        return text;
    }
    // The user log is written by a thread of its own, a moment after the
    // reply: waits until the text is there at least `times` times.
    bool WaitUserLog(const std::string& text, int times = 1)
    {
        for (int i = 0; i < 100; ++i) {
            std::string log = vorlane.UserLogText();
            int n = 0;
            for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
            if (n >= times) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool WaitText(const std::string& user, const std::string& text)
    {
        for (int i = 0; i < 100; ++i) {
            if (UserFolderText(user).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
};

TEST_F(BlackboxMultiUser, NamesStayDenseWhenARoverLeaves)
{
    vorlane.SetNtrip("one_account_multi_user", 1);
    vorlane.SetNtrip("user_count", 3);
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("u", "U-Pw-1"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));

    TestClient rovers[3];
    std::string reply;
    for (TestClient& r : rovers) ASSERT_TRUE(LoginRover(&r, Port(), "MNT1", "u", "U-Pw-1", &reply)) << Printable(reply);
    for (const char* name : {"u", "u~2", "u~3"}) {
        EXPECT_TRUE(WaitUserLog(std::string("  ") + name + " login sucess, mountpoint is MNT1.")) << name;
    }

    rovers[1].Close();  // u~2 leaves
    ASSERT_TRUE(vorlane.WaitForLog("Rover logout:u~2, ip:127.0.0.1"));

    // The former u~3 is u~2 now: its GGA goes to u~2's own file.
    const std::string gga = GnssFrames::Gga(30.123456, 114.654321, 12.0);
    ASSERT_TRUE(rovers[2].Send(gga + "\r\n"));
    EXPECT_TRUE(WaitText("u~2", gga)) << "the renamed rover's GGA is not under u~2";
    EXPECT_EQ(std::string::npos, UserFolderText("u~3").find(gga));

    // The next login takes the number that is free again.
    TestClient next;
    ASSERT_TRUE(LoginRover(&next, Port(), "MNT1", "u", "U-Pw-1", &reply)) << Printable(reply);
    WaitUserLog("  u~3 login sucess, mountpoint is MNT1.", 2);
    std::string userLog = vorlane.UserLogText();
    size_t first = userLog.find("  u~3 login sucess, mountpoint is MNT1.");
    ASSERT_NE(std::string::npos, first);
    EXPECT_NE(std::string::npos, userLog.find("  u~3 login sucess, mountpoint is MNT1.", first + 1))
        << "the next login is not named u~3\n" << userLog;
    EXPECT_EQ(std::string::npos, userLog.find("u~4")) << userLog;

    // Three rovers again: the account is full.
    TestClient fourth;
    ASSERT_TRUE(fourth.Connect(Port()));
    ASSERT_TRUE(fourth.Send(NtripTexts::GetRequest("MNT1", "u", "U-Pw-1")));
    EXPECT_TRUE(fourth.WaitClosed(RawPeers::kReplyMs));
    EXPECT_TRUE(vorlane.WaitForLog("Rover login failed:u, login count reach the limit."));
}

}  // namespace
