// A base station logging in with "SOURCE": the exact replies, a second try
// on the same connection, reserved and black-listed mount points, and the
// login mode that skips the password.
#include "blackbox/CasterFixture.h"

namespace {

using namespace NtripTexts;
using RawPeers::LoginBase;
using RawPeers::StaysQuiet;

class BlackboxBaseLogin : public CasterTest {};

TEST_F(BlackboxBaseLogin, AcceptedLoginIsAnsweredIcyOkAndWhiteListed)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient base;
    std::string reply;
    ASSERT_TRUE(LoginBase(&base, Port(), "MNT1", "Base-Pw-1", &reply)) << Printable(reply);
    std::string extra;
    EXPECT_TRUE(StaysQuiet(&base, 300, &extra)) << "after the reply: " << Printable(extra);

    // Every base that gets past the lists is white-listed, in the database too.
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "MNT1"), 1);
    EXPECT_TRUE(RawPeers::WaitListed(Port(), "MNT1"));
}

TEST_F(BlackboxBaseLogin, BadPasswordThenGoodLoginOnTheSameConnection)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient base;
    ASSERT_TRUE(base.Connect(Port()));
    ASSERT_TRUE(base.Send(SourceRequest("Wrong-Pw", "MNT1")));
    std::string reply = base.ReadExactly(kBadPassword.size(), RawPeers::kReplyMs);
    EXPECT_EQ(reply, kBadPassword) << Printable(reply);
    std::string extra;
    ASSERT_TRUE(StaysQuiet(&base, 300, &extra)) << "the refused base must stay connected: " << Printable(extra);

    ASSERT_TRUE(base.Send(SourceRequest("Base-Pw-1", "MNT1")));
    reply = base.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs);
    EXPECT_EQ(reply, kIcyOk) << Printable(reply);
    EXPECT_TRUE(RawPeers::WaitListed(Port(), "MNT1"));
}

struct MountCase {
    const char* label;
    const char* mount;
    const std::string* reply;
};

void PrintTo(const MountCase& c, std::ostream* os) { *os << c.label; }

class BlackboxBaseMount : public CasterTest, public ::testing::WithParamInterface<MountCase> {};

// The virtual mounts belong to rovers, as whole names; a name that only
// starts with one is an ordinary mount point. A refused name leaves the
// connection open for another request.
TEST_P(BlackboxBaseMount, ReservedOrEmptyNameIsRefusedAndTheConnectionStaysOpen)
{
    const MountCase& c = GetParam();
    ASSERT_TRUE(vorlane.AddBaseAccount(c.mount, "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient base;
    ASSERT_TRUE(base.Connect(Port()));
    ASSERT_TRUE(base.Send(SourceRequest("Base-Pw-1", c.mount)));
    std::string reply = base.ReadExactly(c.reply->size(), RawPeers::kReplyMs);
    EXPECT_EQ(reply, *c.reply) << Printable(reply);
    std::string extra;
    ASSERT_TRUE(StaysQuiet(&base, 300, &extra)) << Printable(extra);

    if (*c.reply == kIcyOk) {
        EXPECT_TRUE(RawPeers::WaitListed(Port(), c.mount));
        return;
    }
    ASSERT_TRUE(base.Send(SourceRequest("Base-Pw-1", "MNT1")));
    reply = base.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs);
    EXPECT_EQ(reply, kIcyOk) << Printable(reply);
}

INSTANTIATE_TEST_SUITE_P(Names, BlackboxBaseMount,
                         ::testing::Values(MountCase{"Nearest", "NEAREST", &kMountTaken},
                                           MountCase{"ZedOz", "RTCM32_ZedOz", &kMountTaken},
                                           MountCase{"Vodir", "RTCM32_VODIR", &kMountTaken},
                                           MountCase{"Empty", "", &kMountTaken},
                                           MountCase{"OnlyStartsWithNearest", "NEARESTX", &kIcyOk}),
                         [](const ::testing::TestParamInfo<MountCase>& info) { return info.param.label; });

TEST_F(BlackboxBaseLogin, BlackListedMountIsClosedWithNoReply)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("BADMNT", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddBlackList("BADMNT"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient base;
    ASSERT_TRUE(base.Connect(Port()));
    ASSERT_TRUE(base.Send(SourceRequest("Base-Pw-1", "BADMNT")));
    bool closed = false;
    std::string reply = base.ReadUntilEof(RawPeers::kReplyMs, &closed);
    EXPECT_TRUE(closed) << "a black-listed base must be closed";
    EXPECT_EQ(reply, "") << Printable(reply);

    EXPECT_EQ(RawPeers::FetchSourceTable(Port()).find(StrLine("BADMNT")), std::string::npos);
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "BADMNT"), 0);
}

TEST_F(BlackboxBaseLogin, LoginModeOneTakesAnyPassword)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient base;
    std::string reply;
    ASSERT_TRUE(LoginBase(&base, Port(), "FREE1", "whatever", &reply)) << Printable(reply);
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "FREE1"), 1);
    EXPECT_TRUE(RawPeers::WaitListed(Port(), "FREE1"));
}

}  // namespace
