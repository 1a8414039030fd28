// A rover logging in with "GET" and Basic authorization: the 401 refusals
// with the connection left open for another try, passwords kept out of the
// log, the per-user login limit in both account modes, and the user log.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"

#include <memory>
#include <vector>

namespace {

using namespace NtripTexts;
using RawPeers::LoginRover;
using RawPeers::StaysQuiet;

const char* const kAlicePassword = "Alice-Pw-731";

struct RefusalCase {
    const char* label;
    const char* user;
    const char* password;
    std::string realm;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.label; }

class BlackboxRoverRefusal : public CasterTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(BlackboxRoverRefusal, IsA401ThenTheSameConnectionLogsInAndReceives)
{
    const RefusalCase& c = GetParam();
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", kAlicePassword));
    ASSERT_TRUE(vorlane.AddRoverAccount("olduser", "Old-Pw-913", VorlaneInstance::ExpiryText(-86400)));

    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));

    TestClient rover;
    ASSERT_TRUE(rover.Connect(Port()));
    ASSERT_TRUE(rover.Send(GetRequest("MNT1", c.user, c.password)));
    const std::string expected = Refusal401(c.realm);
    std::string reply = rover.ReadExactly(expected.size(), RawPeers::kReplyMs);
    EXPECT_EQ(reply, expected) << Printable(reply);
    std::string extra;
    ASSERT_TRUE(StaysQuiet(&rover, 300, &extra)) << "the refused rover must stay connected: " << Printable(extra);

    ASSERT_TRUE(rover.Send(GetRequest("MNT1", "alice", kAlicePassword)));
    reply = rover.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs);
    ASSERT_EQ(reply, kIcyOk) << Printable(reply);

    // Its subscription follows the reply; give it a moment before streaming.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string chunk = GnssFrames::RtcmFiller(1074, 300, 5);
    ASSERT_TRUE(base.Send(chunk));
    std::string got = rover.ReadExactly(chunk.size(), RawPeers::kReplyMs);
    EXPECT_EQ(got, chunk) << Printable(got);

    ASSERT_TRUE(vorlane.WaitForLog("Rover login ok:alice"));
    std::string log = vorlane.LogText();
    EXPECT_EQ(log.find(c.password), std::string::npos) << "a refused password is in the daily log";
    EXPECT_EQ(log.find(kAlicePassword), std::string::npos) << "a password is in the daily log";
}

INSTANTIATE_TEST_SUITE_P(Accounts, BlackboxRoverRefusal,
                         ::testing::Values(RefusalCase{"WrongPassword", "alice", "Wrong-Pw-552", kRealmBadPassword},
                                           RefusalCase{"UnknownUser", "nobody", "Nobody-Pw-118", kRealmBadUser},
                                           // an expired account's realm is the requested mount point
                                           RefusalCase{"ExpiredAccount", "olduser", "Old-Pw-913", "MNT1"}),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.label; });

class BlackboxRoverLimit : public CasterTest {};

// With one account for many users, the account's rovers are named u, u~2,
// u~3 up to user_count; one more is closed without a reply.
TEST_F(BlackboxRoverLimit, SharedAccountAdmitsUserCountRoversAndClosesTheNext)
{
    vorlane.SetNtrip("one_account_multi_user", 1);
    vorlane.SetNtrip("user_count", 3);
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("u", "U-Pw-1"));

    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    std::vector<std::unique_ptr<TestClient>> rovers;
    for (int i = 0; i < 3; ++i) {
        rovers.push_back(std::make_unique<TestClient>());
        std::string reply;
        ASSERT_TRUE(LoginRover(rovers.back().get(), Port(), "MNT1", "u", "U-Pw-1", &reply))
            << "rover " << i + 1 << ": " << Printable(reply);
    }

    TestClient fourth;
    ASSERT_TRUE(fourth.Connect(Port()));
    ASSERT_TRUE(fourth.Send(GetRequest("MNT1", "u", "U-Pw-1")));
    bool closed = false;
    std::string reply = fourth.ReadUntilEof(RawPeers::kReplyMs, &closed);
    EXPECT_TRUE(closed) << "the rover over the limit must be closed";
    EXPECT_EQ(reply, "") << Printable(reply);
    EXPECT_TRUE(vorlane.WaitForLog("Rover login failed:u, login count reach the limit.The blocked IP is:127.0.0.1!"));

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string chunk = GnssFrames::RtcmFiller(1084, 500, 9);
    ASSERT_TRUE(base.Send(chunk));
    for (size_t i = 0; i < rovers.size(); ++i) {
        std::string got = rovers[i]->ReadExactly(chunk.size(), RawPeers::kReplyMs);
        EXPECT_EQ(got, chunk) << "rover " << i + 1 << ": " << Printable(got);
    }

    // The general user log has one line per admitted login, under the name
    // each rover was given.
    std::string users = vorlane.UserLogText();
    for (const char* name : {"u", "u~2", "u~3"}) {
        EXPECT_NE(users.find(std::string("]  ") + name + " login sucess, mountpoint is MNT1. "), std::string::npos)
            << name << " missing from the user log:\n"
            << users;
    }
    EXPECT_EQ(users.find("u~4"), std::string::npos);
}

// With one user per account, the latest login wins: the older rover of the
// account is closed and the new one receives.
TEST_F(BlackboxRoverLimit, SingleUserAccountClosesTheOlderRover)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("u", "U-Pw-1"));

    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    TestClient first;
    TestClient second;
    std::string reply;
    ASSERT_TRUE(LoginRover(&first, Port(), "MNT1", "u", "U-Pw-1", &reply)) << Printable(reply);
    ASSERT_TRUE(LoginRover(&second, Port(), "MNT1", "u", "U-Pw-1", &reply)) << Printable(reply);
    EXPECT_TRUE(first.WaitClosed(RawPeers::kReplyMs)) << "the older rover of the account must be closed";

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string chunk = GnssFrames::RtcmFiller(1094, 400, 11);
    ASSERT_TRUE(base.Send(chunk));
    std::string got = second.ReadExactly(chunk.size(), RawPeers::kReplyMs);
    EXPECT_EQ(got, chunk) << Printable(got);
}

}  // namespace
