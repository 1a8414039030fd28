// Start and end of the process: the stop signals while peers are connected,
// and the start-ups that must fail loudly (no configuration, a caster port
// it cannot listen on).
#include "blackbox/CasterFixture.h"
#include "support/HeldPort.h"

#include <csignal>

namespace {

using RawPeers::LoginRover;

class BlackboxLifecycle : public CasterTest, public ::testing::WithParamInterface<int> {};

TEST_P(BlackboxLifecycle, StopSignalWhileServingEndsWithStatusZero)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));
    TestClient base, rover;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNT1", "alice", "Alice-Pw-731"));
    ASSERT_TRUE(base.Send(GnssFrames::RtcmFiller(1074, 300, 1)));

    stopAtEnd_ = false;
    ExitStatus status = vorlane.Stop(GetParam(), 10000);
    EXPECT_TRUE(status.Success()) << status.Describe();
    EXPECT_TRUE(rover.WaitClosed(2000));
    EXPECT_NE(vorlane.LogText().find("Start Vorlane"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, BlackboxLifecycle, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

class BlackboxStartFailure : public CasterTest {};

TEST_F(BlackboxStartFailure, MissingConfigurationEndsNonZeroWithTheFatalLine)
{
    ASSERT_TRUE(vorlane.Ready()) << vorlane.Error();
    vorlane.OmitConfig();
    ASSERT_TRUE(vorlane.Launch());
    ExitStatus status = vorlane.WaitExit(10000);
    EXPECT_TRUE(status.ended) << "vorlane kept running without its configuration";
    EXPECT_FALSE(status.Success()) << status.Describe();
    EXPECT_TRUE(vorlane.WaitForLog("Ntrip::Vorlane_Create:LoadConfig fail, abort", 1000));
    EXPECT_NE(vorlane.LogText().find("Start Vorlane"), std::string::npos);
}

TEST_F(BlackboxStartFailure, CasterPortInUseEndsNonZero)
{
    HeldPort held(HeldPort::kListening);
    ASSERT_GT(held.Port(), 0);
    vorlane.SetNtrip("port", held.Port());
    ASSERT_TRUE(vorlane.Launch());
    ExitStatus status = vorlane.WaitExit(10000);
    EXPECT_TRUE(status.ended) << "vorlane kept running without its caster port";
    EXPECT_FALSE(status.Success()) << status.Describe();
}

TEST_F(BlackboxStartFailure, UnusableCasterAddressEndsNonZero)
{
    vorlane.SetConfigText("ntrip_server", "ip", "300.1.2.3");
    ASSERT_TRUE(vorlane.Launch());
    ExitStatus status = vorlane.WaitExit(10000);
    EXPECT_TRUE(status.ended) << "vorlane kept running without a usable caster address";
    EXPECT_FALSE(status.Success()) << status.Describe();
}

}  // namespace
