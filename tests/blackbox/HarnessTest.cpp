// The harness itself against the binary as it stands: it starts in its own
// folder, writes its daily log there and ends with status 0 on the stop and
// shutdown signals.
#include "blackbox/VorlaneInstance.h"
#include "support/Files.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

namespace {

class BlackboxHarness : public ::testing::TestWithParam<int> {};

TEST_P(BlackboxHarness, StopSignalEndsTheProcessWithStatusZero)
{
    VorlaneInstance vorlane;
    ASSERT_TRUE(vorlane.Ready()) << vorlane.Error();
    ASSERT_TRUE(vorlane.Launch()) << vorlane.Diagnostics();
    ASSERT_TRUE(vorlane.WaitForLog("Start Vorlane", 8000)) << vorlane.Diagnostics();
    ASSERT_TRUE(vorlane.Running()) << vorlane.Diagnostics();
    // The first line is written a moment before the handlers stand.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    ExitStatus status = vorlane.Stop(GetParam(), 10000);
    EXPECT_TRUE(status.Success()) << status.Describe() << "\n" << vorlane.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(Signals, BlackboxHarness, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

TEST(BlackboxHarnessFiles, FolderHoldsBinaryConfigurationAndDatabases)
{
    VorlaneInstance vorlane;
    ASSERT_TRUE(vorlane.Ready()) << vorlane.Error();
    vorlane.SetNtrip("base_offline_time", 30);
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "pw"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "secret"));
    ASSERT_TRUE(vorlane.AddBlackList("BAD1"));
    ASSERT_TRUE(vorlane.Launch()) << vorlane.Diagnostics();

    Json::Value config;
    Json::CharReaderBuilder reader;
    std::istringstream text(ReadFile(vorlane.File("VorlaneConfig.json")));
    ASSERT_TRUE(Json::parseFromStream(reader, text, &config, nullptr));
    EXPECT_EQ(config["ntrip_server"]["ip"].asString(), "127.0.0.1");
    EXPECT_EQ(config["ntrip_server"]["port"].asInt(), vorlane.CasterPort());
    EXPECT_EQ(config["ctrl_center_server"]["port"].asInt(), vorlane.ControlPort());
    EXPECT_EQ(config["http_server"]["port"].asInt(), vorlane.HttpPort());
    EXPECT_EQ(config["ntrip_server"]["base_offline_time"].asInt(), 30);
    EXPECT_EQ(config["ntrip_server"]["user_count"].asInt(), 1);  // the defaults stay
    EXPECT_FALSE(ReadFile(vorlane.File("AuthCentre.json")).empty());

    EXPECT_EQ(vorlane.CountListed("station_blacklist", "BAD1"), 1);
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "BAD1"), 0);
    ASSERT_TRUE(vorlane.WaitForLog("Start Vorlane", 8000)) << vorlane.Diagnostics();
    EXPECT_TRUE(vorlane.Stop().Success()) << vorlane.Diagnostics();
}

}  // namespace
