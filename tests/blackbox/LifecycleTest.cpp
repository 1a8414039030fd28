// Start and end of the process: the stop signals while peers are connected,
// and the start-ups that must fail loudly (no configuration, a caster port
// it cannot listen on).
#include "blackbox/CasterFixture.h"
#include "blackbox/CtrlFixture.h"
#include "support/Files.h"
#include "support/HeldPort.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

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

class BlackboxOrderlyStop : public CtrlTest {};

// The stop signal with a peer on every port: a base streaming to its rover,
// a logged-in control centre and one that never logged in with half a frame
// sent, and an inspector connection halfway through its request. The build
// that ends through a normal exit stops and joins every loop and thread of
// the service first, so no destructor runs under one: the process ends with
// status 0, and the ThreadSanitizer build reports nothing.
TEST_F(BlackboxOrderlyStop, AStopWithAPeerOnEveryPortEndsCleanly)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));
    TestClient base, rover;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    std::unique_ptr<CtrlCenterClient> centre = Centre();
    std::unique_ptr<CtrlCenterClient> silent = Centre(false);
    ASSERT_TRUE(silent->Raw().Send(std::string("\xAA\x41\x13\x42\x1D", 5)));
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNT1", "alice", "Alice-Pw-731"));
    std::string chunk = GnssFrames::RtcmFiller(1074, 300, 1);
    ASSERT_TRUE(base.Send(chunk));
    ASSERT_EQ(rover.ReadExactly(chunk.size(), 5000), chunk);
    ASSERT_TRUE(WaitFor([&] { return PortAccepts(vorlane.HttpPort(), 200); }, 10000, 50));
    TestClient http;
    ASSERT_TRUE(http.Connect(vorlane.HttpPort()));
    ASSERT_TRUE(http.Send("POST /xqn_station_stat HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 40\r\n\r\n{"));

    stopAtEnd_ = false;
    ExitStatus status = vorlane.Stop(SIGTERM, 10000);
    EXPECT_TRUE(status.Success()) << status.Describe() << "\n" << vorlane.Diagnostics();
    EXPECT_EQ(vorlane.Stderr().find("ThreadSanitizer"), std::string::npos) << vorlane.Stderr();
    for (TestClient* peer : {&base, &rover, &centre->Raw(), &silent->Raw(), &http}) {
        EXPECT_TRUE(peer->WaitClosed(2000));
    }
#ifdef VORLANE_ORDERLY_EXIT
    EXPECT_TRUE(vorlane.WaitForLog("Stop Vorlane", 1000));
    EXPECT_EQ(vorlane.CountInLog("did not stop in time"), 0);
    EXPECT_EQ(vorlane.CountInLog("did not end within"), 0);
#endif
}

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

// A start that fails says on stderr, the journal of a service, what failed
// and why, beside the daily log's lines, which stay as they were: the
// configuration's path and why it does not load (then the abort and its
// dump), or the caster port's address and the system's reason (then
// status 2).
TEST_F(BlackboxStartFailure, AFailedStartSaysWhyOnStderr)
{
    HeldPort held(HeldPort::kListening);
    ASSERT_GT(held.Port(), 0);
    const std::string configName = "VorlaneConfig.json";
    const std::string salt = "Salt-Secret-42";
    const std::vector<std::string> configLog = {"Ntrip::LoadJsonConfig:GetJsonObject: failed",
                                                "Ntrip::Vorlane_Create:LoadConfig fail, abort"};
    // Each case a caster of its own; arrange says how its start fails.
    struct Case {
        const char* name;
        std::function<void(VorlaneInstance*)> arrange;
        std::string why;  // what stderr says after the configuration's path or for the port
        std::vector<std::string> logLines;
        bool aborts;  // else exits with status 2
    };
    const std::vector<Case> cases = {
        {"missing configuration",
         [](VorlaneInstance* one) {
             one->OmitConfig();
         },
         " is missing\n", configLog, true},
        {"configuration that is a folder",
         [](VorlaneInstance* one) {
             one->MakeConfigWith([](const std::string& path) { return mkdir(path.c_str(), 0755) == 0; });
         },
         " is unreadable (Is a directory)\n", configLog, true},
        // Broken on the line of a secret, which the line must not show.
        {"broken configuration",
         [&](VorlaneInstance* one) {
             one->NoteSecret(salt);
             one->MakeConfigWith([&](const std::string& path) {
                 return WriteFile(path, "{\n  \"http_server\": {\"salt\": \"" + salt + "\",, }\n}\n");
             });
         },
         " is not valid JSON (parse error at line 2, column ", configLog, true},
        {"taken caster port",
         [&](VorlaneInstance* one) {
             one->SetNtrip("port", held.Port());
         },
         "the caster port 127.0.0.1:" + std::to_string(held.Port()) + " cannot be bound (Address already in use)\n",
         {"NetHandle:new bind is error, code = 98"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VorlaneInstance one;
        ASSERT_TRUE(one.Ready()) << one.Error();
        c.arrange(&one);
        ASSERT_TRUE(one.Launch());
        ExitStatus status = one.WaitExit(10000);
        ASSERT_TRUE(status.ended) << "vorlane kept running";
        const std::string line = "vorlane: cannot start: " +
                                 (c.aborts ? "the configuration " + one.File(configName) : std::string()) + c.why;
        std::string err = one.Stderr();
        EXPECT_EQ(err.compare(0, line.size(), line), 0) << Printable(err);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line: " << Printable(err);
        EXPECT_EQ(err.find(salt), std::string::npos) << Printable(err);
        for (const std::string& logLine : c.logLines) {
            EXPECT_TRUE(one.WaitForLog(logLine, 2000)) << logLine << "\n" << one.Diagnostics();
        }
        if (c.aborts) {
            EXPECT_EQ(status.signal, SIGABRT) << status.Describe();
            EXPECT_FALSE(ListDir(one.File("dump")).empty()) << "no crash dump";
        } else {
            EXPECT_TRUE(status.exited && status.code == 2) << status.Describe();
        }
    }
}

}  // namespace
