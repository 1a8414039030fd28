#include "config/VorlaneConfig.h"

#include "config/ConfigTestSupport.h"
#include "config/JsonFile.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

struct Records {
    CtrlCenterConfig ctrl;
    NtripServerConfig ntrip;
    HttpServerConfig http;
};

class VorlaneConfigFile : public ::testing::Test {
protected:
    std::string Path() const { return dir_.File("VorlaneConfig.json"); }

    void Write(const std::string& text) { ASSERT_TRUE(WriteFile(Path(), text)); }

    bool Load(Records* r)
    {
        memset(r, 0x5A, sizeof(*r));  // the loader must zero what it fills
        return LoadJsonConfigFile(Path().c_str(), &r->ctrl, &r->ntrip, &r->http);
    }

    // Loads the file and returns it parsed, for checking what a save wrote.
    cJSON* Saved() const { return LoadJsonFile(Path().c_str()); }

    LogCapture log_;
    TempDir dir_;
};

const char* kEmptySections = "{\"ctrl_center_server\": {}, \"ntrip_server\": {}}";

TEST_F(VorlaneConfigFile, EmptySectionsGiveEveryDefault)
{
    Write(kEmptySections);
    Records r;
    ASSERT_TRUE(Load(&r));
    EXPECT_STREQ(r.ctrl.ip, "0.0.0.0");
    EXPECT_EQ(r.ctrl.port, 8097);
    EXPECT_STREQ(r.ntrip.ip, "0.0.0.0");
    EXPECT_EQ(r.ntrip.port, 6089);
    EXPECT_EQ(r.ntrip.protocol, 1);
    EXPECT_EQ(r.ntrip.base_offline_time, 10);
    EXPECT_EQ(r.ntrip.base_login_mode, 0);
    EXPECT_EQ(r.ntrip.rover_login_mode, 0);
    EXPECT_EQ(r.ntrip.rover_gga_log, 1);
    EXPECT_EQ(r.ntrip.use_software_name, 0);
    EXPECT_EQ(r.ntrip.broadcast_nearest, 1);
    EXPECT_EQ(r.ntrip.one_account_multi_user, 0);
    EXPECT_EQ(r.ntrip.user_count, 1);
    EXPECT_EQ(r.ntrip.rover_distance_limit, 5000);
    // No http_server section at all: its three defaults, the inspector on
    // loopback only.
    EXPECT_STREQ(r.http.ip, "127.0.0.1");
    EXPECT_EQ(r.http.port, 7000);
    EXPECT_STREQ(r.http.salt, "pvhdnax48!=731R!!5k^^~wyt");
    // Zeroed records: the bytes after each text are 0, not left-overs.
    EXPECT_EQ(r.ctrl.ip[31], '\0');
    EXPECT_EQ(r.http.salt[31], '\0');
}

TEST_F(VorlaneConfigFile, NumberKeysFollowTheirReadingRules)
{
    struct Case {
        const char* json;  // the body of ntrip_server
        int NtripServerConfig::*field;
        int expected;
    };
    const Case cases[] = {
        {"\"protocol\": 2", &NtripServerConfig::protocol, 2},
        {"\"protocol\": 3", &NtripServerConfig::protocol, 1},
        {"\"protocol\": 0", &NtripServerConfig::protocol, 1},
        {"\"rover_gga_log\": 5", &NtripServerConfig::rover_gga_log, 0},
        {"\"rover_gga_log\": 0", &NtripServerConfig::rover_gga_log, 0},
        {"\"rover_gga_log\": 1", &NtripServerConfig::rover_gga_log, 1},
        {"\"rover_distance_limit\": 0", &NtripServerConfig::rover_distance_limit, 5000},
        {"\"rover_distance_limit\": 1200", &NtripServerConfig::rover_distance_limit, 1200},
        {"\"base_login_mode\": 1", &NtripServerConfig::base_login_mode, 1},
        {"\"base_login_mode\": 2", &NtripServerConfig::base_login_mode, 0},
        {"\"rover_login_mode\": 1", &NtripServerConfig::rover_login_mode, 1},
        {"\"broadcast_nearest\": 0", &NtripServerConfig::broadcast_nearest, 0},
        {"\"broadcast_nearest\": 7", &NtripServerConfig::broadcast_nearest, 0},
        {"\"one_account_multi_user\": 1", &NtripServerConfig::one_account_multi_user, 1},
        {"\"use_software_name\": 1", &NtripServerConfig::use_software_name, 1},
        {"\"user_count\": 4", &NtripServerConfig::user_count, 4},
        {"\"base_offline_time\": 30", &NtripServerConfig::base_offline_time, 30},
        {"\"port\": 2101.9", &NtripServerConfig::port, 2101},      // the integer value
        {"\"port\": \"2101\"", &NtripServerConfig::port, 6089},    // not a number: default
        {"\"user_count\": null", &NtripServerConfig::user_count, 1},
    };
    for (const Case& c : cases) {
        Write(std::string("{\"ctrl_center_server\": {}, \"ntrip_server\": {") + c.json + "}}");
        Records r;
        ASSERT_TRUE(Load(&r)) << c.json;
        EXPECT_EQ(r.ntrip.*c.field, c.expected) << c.json;
    }
}

TEST_F(VorlaneConfigFile, TextsAreCutToTheirFieldAndKeepTheirValue)
{
    const std::string longIp(40, '9');
    Write("{\"ctrl_center_server\": {\"ip\": \"10.0.0.1\", \"port\": 9000}, "
          "\"ntrip_server\": {\"ip\": \"" + longIp + "\"}, "
          "\"http_server\": {\"salt\": \"s\", \"ip\": 5}}");
    Records r;
    ASSERT_TRUE(Load(&r));
    EXPECT_STREQ(r.ctrl.ip, "10.0.0.1");
    EXPECT_EQ(r.ctrl.port, 9000);
    EXPECT_EQ(std::string(r.ntrip.ip), longIp.substr(0, 31));
    EXPECT_STREQ(r.http.salt, "s");
    EXPECT_STREQ(r.http.ip, "127.0.0.1");
    EXPECT_TRUE(log_.Has("http_server.ip is not a string"));
}

TEST_F(VorlaneConfigFile, MissingServiceSectionsOrFileFailTheLoad)
{
    Records r;
    EXPECT_FALSE(Load(&r));
    EXPECT_TRUE(log_.Has("Ntrip::LoadJsonConfig:GetJsonObject: failed"));

    const char* broken[] = {
        "{\"ntrip_server\": {\"ip\": \"1.2.3.4\", \"port\": 1}}",
        "{\"ctrl_center_server\": {}}",
        "{\"ctrl_center_server\": 1, \"ntrip_server\": {}}",
        "[1, 2]",
    };
    for (const char* text : broken) {
        Write(text);
        EXPECT_FALSE(Load(&r)) << text;
    }
    EXPECT_TRUE(log_.Has("Ntrip::LoadJsonConfig:GetVorlaneJsonValue: failed"));
}

TEST_F(VorlaneConfigFile, AFileOverOneKilobyteLoads)
{
    std::string text = "{\"warning\": {\"url\": \"http://127.0.0.1/" + std::string(1500, 'p') +
                       "\"}, \"ctrl_center_server\": {\"port\": 8100}, "
                       "\"ntrip_server\": {\"port\": 2101}}";
    ASSERT_GT(text.size(), 1024u);
    Write(text);
    Records r;
    ASSERT_TRUE(Load(&r));
    EXPECT_EQ(r.ctrl.port, 8100);
    EXPECT_EQ(r.ntrip.port, 2101);
}

TEST_F(VorlaneConfigFile, SaveAddsMissingKeysAndKeepsEverythingElse)
{
    Write("{\n"
          "\"warning\": {\"url\": \"http://w\", \"enableWarn\": 1},\n"
          "\"ctrl_center_server\": {\"port\": 8097},\n"
          "\"ntrip_server\": {\"ip\": \"0.0.0.0\", \"port\": 6089, \"rover_distance_limit\": 800,"
          " \"extra\": 2.5},\n"
          "\"custom\": [1, \"two\"]\n"
          "}");
    Records r;
    ASSERT_TRUE(Load(&r));
    EXPECT_EQ(r.ntrip.rover_distance_limit, 800);
    r.ntrip.user_count = 3;
    r.ntrip.rover_distance_limit = 5000;  // never written back
    snprintf(r.ctrl.ip, sizeof(r.ctrl.ip), "%s", "10.9.8.7");
    ASSERT_TRUE(WriteJsonConfig(Path().c_str(), &r.ntrip, &r.ctrl, &r.http));

    EXPECT_EQ(ReadFile(Path()),
              "{\n"
              "\t\"warning\":\t{\n\t\t\"url\":\t\"http://w\",\n\t\t\"enableWarn\":\t1\n\t},\n"
              "\t\"ctrl_center_server\":\t{\n\t\t\"port\":\t8097,\n\t\t\"ip\":\t\"10.9.8.7\"\n\t},\n"
              "\t\"ntrip_server\":\t{\n\t\t\"ip\":\t\"0.0.0.0\",\n\t\t\"port\":\t6089,\n"
              "\t\t\"rover_distance_limit\":\t800,\n\t\t\"extra\":\t2.500000000000,\n"
              "\t\t\"protocol\":\t1,\n\t\t\"base_offline_time\":\t10,\n"
              "\t\t\"base_login_mode\":\t0,\n\t\t\"rover_login_mode\":\t0,\n"
              "\t\t\"rover_gga_log\":\t1,\n\t\t\"use_software_name\":\t0,\n"
              "\t\t\"broadcast_nearest\":\t1,\n\t\t\"one_account_multi_user\":\t0,\n"
              "\t\t\"user_count\":\t3\n\t},\n"
              "\t\"custom\":\t[1, \"two\"],\n"
              "\t\"http_server\":\t{\n\t\t\"ip\":\t\"127.0.0.1\",\n\t\t\"port\":\t7000,\n"
              "\t\t\"salt\":\t\"pvhdnax48!=731R!!5k^^~wyt\"\n\t}\n"
              "}");
    EXPECT_TRUE(log_.Has("BaseLoginMode:0, RoverLoginMode:0, broadcast_Nearest:1, rover_gga_log:1"));
}

TEST_F(VorlaneConfigFile, SaveWithoutAFileWritesTheThreeSectionsWithoutTheDistanceLimit)
{
    Records r;
    memset(&r, 0, sizeof(r));
    snprintf(r.ctrl.ip, sizeof(r.ctrl.ip), "%s", "127.0.0.1");
    r.ctrl.port = 8097;
    r.ntrip.rover_distance_limit = 5000;
    ASSERT_TRUE(WriteJsonConfig(Path().c_str(), &r.ntrip, &r.ctrl, &r.http));
    cJSON* saved = Saved();
    ASSERT_NE(saved, nullptr);
    const cJSON* ntrip = JsonGetSection(saved, "ntrip_server");
    ASSERT_NE(ntrip, nullptr);
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(ntrip, "rover_distance_limit"), nullptr);
    EXPECT_EQ(cJSON_GetArraySize(ntrip), 11);
    EXPECT_EQ(cJSON_GetArraySize(JsonGetSection(saved, "ctrl_center_server")), 2);
    EXPECT_EQ(cJSON_GetArraySize(JsonGetSection(saved, "http_server")), 3);
    cJSON_Delete(saved);

    EXPECT_FALSE(WriteJsonConfig(nullptr, &r.ntrip, &r.ctrl, &r.http));
    EXPECT_FALSE(WriteJsonConfig(Path().c_str(), nullptr, &r.ctrl, &r.http));
}

TEST_F(VorlaneConfigFile, AnInterruptedSaveLeavesTheOldFileWhole)
{
    Write(kEmptySections);
    const std::string before = ReadFile(Path());
    Records r;
    ASSERT_TRUE(Load(&r));
    r.ntrip.port = 2101;

    bool saved = true;
    int error = 0;
    {
        FileSizeLimit limit(before.size() + 10);  // the full text no longer fits
        saved = WriteJsonConfig(Path().c_str(), &r.ntrip, &r.ctrl, &r.http);
        error = errno;
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, EFBIG) << "errno says why";
    EXPECT_EQ(ReadFile(Path()), before);
    EXPECT_EQ(ListDir(dir_.Path()), std::vector<std::string>{"VorlaneConfig.json"});

    // A folder that cannot take the file fails too, and says so.
    EXPECT_FALSE(WriteJsonConfig(dir_.File("gone/VorlaneConfig.json").c_str(), &r.ntrip, &r.ctrl,
                                 &r.http));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(log_.Has("WriteJsonConfig:"));
}

// A file that does not load gives the line a failed start shows the
// operator: the path and why; the daily log's line stays the same.
TEST_F(VorlaneConfigFile, AFileThatDoesNotLoadSaysItsPathAndWhy)
{
    struct Case {
        const char* name;
        const char* content;  // null: no file
        std::string why;
        const char* logLine;
    };
    const Case cases[] = {
        {"missing", nullptr, "is missing", "Ntrip::LoadJsonConfig:GetJsonObject: failed"},
        {"not JSON", "{\"ntrip_server\": {,}}", "is not valid JSON (parse error at line 1, column 20)",
         "Ntrip::LoadJsonConfig:GetJsonObject: failed"},
        {"no sections", "[1]", "has no \"ctrl_center_server\" or \"ntrip_server\" object",
         "Ntrip::LoadJsonConfig:GetVorlaneJsonValue: failed"},
    };
    for (const Case& c : cases) {
        unlink(Path().c_str());
        if (c.content) Write(c.content);
        Records r;
        std::string problem;
        EXPECT_FALSE(LoadJsonConfigFile(Path().c_str(), &r.ctrl, &r.ntrip, &r.http, &problem)) << c.name;
        EXPECT_EQ(problem, "the configuration " + Path() + " " + c.why) << c.name;
        EXPECT_TRUE(log_.Has(c.logLine)) << c.name;
    }
}

TEST_F(VorlaneConfigFile, WarningSectionIsWrittenAloneIntoALoadableFile)
{
    WarningConfig w;
    memset(&w, 0, sizeof(w));
    snprintf(w.url, sizeof(w.url), "%s", "http://127.0.0.1:9/alarm");
    w.warnInterval = 60;
    w.dataCountInterval = 30;
    w.dataLimit = 100;
    w.enableWarn = 1;
    EXPECT_FALSE(WriteWarningJsonConfig(Path().c_str(), &w));  // no file yet

    Write(kEmptySections);
    ASSERT_TRUE(WriteWarningJsonConfig(Path().c_str(), &w));
    cJSON* saved = Saved();
    ASSERT_NE(saved, nullptr);
    WarningConfig back;
    ASSERT_TRUE(GetWarningJsonValue(saved, &back));
    EXPECT_STREQ(back.url, w.url);
    EXPECT_EQ(back.warnInterval, 60);
    EXPECT_EQ(back.dataCountInterval, 30);
    EXPECT_EQ(back.dataLimit, 100);
    EXPECT_EQ(back.enableWarn, 1);
    EXPECT_NE(JsonGetSection(saved, "ntrip_server"), nullptr);
    cJSON_Delete(saved);

    // A url filling the whole field is written without reading past it.
    memset(w.url, 'u', sizeof(w.url));
    ASSERT_TRUE(WriteWarningJsonConfig(Path().c_str(), &w));
    saved = Saved();
    ASSERT_TRUE(GetWarningJsonValue(saved, &back));
    EXPECT_EQ(std::string(back.url), std::string(199, 'u'));
    cJSON_Delete(saved);
}

TEST_F(VorlaneConfigFile, ConcurrentWritersOfDifferentSectionsKeepBothChanges)
{
    Write(kEmptySections);
    Records r;
    ASSERT_TRUE(Load(&r));
    const int rounds = 40;
    std::thread service([&] {
        Records mine = r;
        for (int i = 1; i <= rounds; ++i) {
            mine.ntrip.user_count = i;
            WriteJsonConfig(Path().c_str(), &mine.ntrip, &mine.ctrl, &mine.http);
        }
    });
    std::thread warning([&] {
        WarningConfig w;
        memset(&w, 0, sizeof(w));
        for (int i = 1; i <= rounds; ++i) {
            w.dataLimit = i;
            WriteWarningJsonConfig(Path().c_str(), &w);
        }
    });
    service.join();
    warning.join();

    cJSON* saved = Saved();
    ASSERT_NE(saved, nullptr);
    Records back;
    ASSERT_TRUE(GetVorlaneJsonValue(saved, &back.ntrip, &back.ctrl));
    EXPECT_EQ(back.ntrip.user_count, rounds);
    WarningConfig w;
    ASSERT_TRUE(GetWarningJsonValue(saved, &w));
    EXPECT_EQ(w.dataLimit, rounds);
    cJSON_Delete(saved);
}

TEST(VorlaneConfigDefaults, TheShippedFileLoadsOnLoopbackAndSavesUnchanged)
{
    const std::string source = SourceDir();
    const std::string shipped = ReadFile(source + "/config/defaults/VorlaneConfig.json");
    ASSERT_FALSE(shipped.empty());

    TempDir dir;
    std::string path = dir.File("VorlaneConfig.json");
    ASSERT_TRUE(WriteFile(path, shipped));
    Records r;
    ASSERT_TRUE(LoadJsonConfigFile(path.c_str(), &r.ctrl, &r.ntrip, &r.http));
    EXPECT_STREQ(r.ctrl.ip, "127.0.0.1");
    EXPECT_EQ(r.ctrl.port, 8097);
    EXPECT_STREQ(r.ntrip.ip, "127.0.0.1");
    EXPECT_EQ(r.ntrip.port, 6089);
    EXPECT_STREQ(r.http.ip, "127.0.0.1");
    EXPECT_EQ(r.http.port, 7000);
    EXPECT_EQ(r.ntrip.rover_distance_limit, 5000);

    // Start-up re-saves the file: every key is already there, so nothing moves.
    ASSERT_TRUE(WriteJsonConfig(path.c_str(), &r.ntrip, &r.ctrl, &r.http));
    EXPECT_EQ(ReadFile(path), shipped);

    cJSON* json = LoadJsonFile(path.c_str());
    WarningConfig w;
    ASSERT_TRUE(GetWarningJsonValue(json, &w));
    EXPECT_EQ(w.enableWarn, 0);
    cJSON_Delete(json);
}

}  // namespace
