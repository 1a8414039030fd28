#include "config/AuthCentreFile.h"
#include "config/GlobalIpConfig.h"
#include "config/JsonFile.h"
#include "config/VorlaneConfig.h"
#include "platform/FileSystem.h"

#include "config/ConfigTestSupport.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* kConfig = "{\"ctrl_center_server\": {\"ip\": \"0.0.0.0\", \"port\": 8097}, "
                      "\"ntrip_server\": {\"ip\": \"0.0.0.0\", \"port\": 6089}, "
                      "\"http_server\": {\"ip\": \"0.0.0.0\", \"port\": 7000}}";

struct Records {
    CtrlCenterConfig ctrl;
    NtripServerConfig ntrip;
    HttpServerConfig http;
};

TEST(ConfigGlobalIp, TheFirstLineWithoutItsLineEndBecomesEveryServerIp)
{
    const char* lines[] = {"10.1.2.3\r\n", "10.1.2.3\n", "10.1.2.3", "  10.1.2.3 \t\r\nsecond\n"};
    for (const char* line : lines) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir.File("VorlaneConfig.json"), kConfig));
        ASSERT_TRUE(WriteFile(dir.File("globalip.cfg"), line));
        Records r;
        ASSERT_EQ(LoadGlobalIpConfigIn(dir.Path().c_str(), &r.ctrl, &r.ntrip, &r.http), 1) << line;
        EXPECT_STREQ(r.ctrl.ip, "10.1.2.3");
        EXPECT_STREQ(r.ntrip.ip, "10.1.2.3");
        EXPECT_STREQ(r.http.ip, "10.1.2.3");

        // The saved file carries the address, and the next start reads it back.
        Records back;
        ASSERT_TRUE(LoadJsonConfigFile(dir.File("VorlaneConfig.json").c_str(), &back.ctrl,
                                       &back.ntrip, &back.http));
        EXPECT_STREQ(back.ctrl.ip, "10.1.2.3");
        EXPECT_STREQ(back.ntrip.ip, "10.1.2.3");
        EXPECT_STREQ(back.http.ip, "10.1.2.3");
        EXPECT_EQ(back.ntrip.port, 6089);
    }
}

TEST(ConfigGlobalIp, NoUsableLineChangesNothing)
{
    LogCapture log;
    struct Case {
        const char* name;
        const char* content;  // null: no file
    };
    const Case cases[] = {
        {"no file", nullptr},
        {"empty", ""},
        {"blank line", "\r\n10.0.0.1\n"},
        {"one character", "1\n"},
        {"longer than an address may be", "10.100.100.100.100.100.100.100\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir.File("VorlaneConfig.json"), kConfig));
        if (c.content) {
            ASSERT_TRUE(WriteFile(dir.File("globalip.cfg"), c.content));
        }
        Records r;
        memset(&r, 0, sizeof(r));
        EXPECT_EQ(LoadGlobalIpConfigIn(dir.Path().c_str(), &r.ctrl, &r.ntrip, &r.http), 0)
            << c.name;
        EXPECT_EQ(ReadFile(dir.File("VorlaneConfig.json")), kConfig) << c.name;
    }
    EXPECT_TRUE(log.Has("LoadGlobalIpConfig:address in"));
}

TEST(ConfigGlobalIp, AMissingConfigurationFailsTheApply)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir.File("globalip.cfg"), "10.1.2.3\r\n"));
    Records r;
    EXPECT_EQ(LoadGlobalIpConfigIn((dir.Path() + "/").c_str(), &r.ctrl, &r.ntrip, &r.http), 0);
    EXPECT_FALSE(Platform_PathExists(dir.File("VorlaneConfig.json").c_str()));
}

AuthCentreConfig LoadAuth(const TempDir& dir, const std::string& content, bool* ok)
{
    std::string path = dir.File("AuthCentre.json");
    EXPECT_TRUE(WriteFile(path, content));
    AuthCentreConfig record;
    memset(&record, 0x5A, sizeof(record));
    *ok = LoadAuthCentreJsonFile(path.c_str(), &record);
    return record;
}

TEST(ConfigAuthCentre, SectionDecidesWhetherTheCentreIsEnabled)
{
    LogCapture log;
    TempDir dir;
    bool ok = false;

    AuthCentreConfig r = LoadAuth(dir, "{}", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.enabled, 0);
    EXPECT_STREQ(r.url, "");

    r = LoadAuth(dir, "{\"auth_centre\": {\"url\": \"http://127.0.0.1:8080/auth\"}}", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.enabled, 1);
    EXPECT_STREQ(r.url, "http://127.0.0.1:8080/auth");

    r = LoadAuth(dir, "{\"auth_centre\": {\"ip\": \"127.0.0.1\", \"port\": 8080}}", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.enabled, 1);
    EXPECT_STREQ(r.ip, "127.0.0.1");
    EXPECT_STREQ(r.ip2, "127.0.0.1");
    EXPECT_EQ(r.port, 8080);
    EXPECT_STREQ(r.url, "");

    const std::string longUrl = "http://" + std::string(200, 'h');
    r = LoadAuth(dir, "{\"auth_centre\": {\"url\": \"" + longUrl + "\"}}", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(r.url), longUrl.substr(0, 127));

    const char* incomplete[] = {
        "{\"auth_centre\": {\"ip\": \"127.0.0.1\"}}",
        "{\"auth_centre\": {\"port\": 8080}}",
        "{\"auth_centre\": {\"ip\": 1, \"port\": 8080}}",
    };
    for (const char* text : incomplete) {
        r = LoadAuth(dir, text, &ok);
        EXPECT_FALSE(ok) << text;
        EXPECT_EQ(r.enabled, 0) << text;
        EXPECT_STREQ(r.ip, "") << text;
    }
    EXPECT_TRUE(log.Has("Ntrip::LoadAuthCentreJsonValue:GetAuthCentreJsonValue: failed"));

    AuthCentreConfig missing;
    memset(&missing, 0x5A, sizeof(missing));
    EXPECT_FALSE(LoadAuthCentreJsonFile(dir.File("none.json").c_str(), &missing));
    EXPECT_EQ(missing.enabled, 0);
    EXPECT_TRUE(log.Has("Ntrip::LoadAuthCentreJsonValue:GetJsonObject: failed"));
}

TEST(ConfigAuthCentre, TheShippedFileLeavesTheCentreDisabled)
{
    const std::string source = SourceDir();
    AuthCentreConfig r;
    ASSERT_TRUE(LoadAuthCentreJsonFile(
        (source + "/config/defaults/AuthCentre.json").c_str(), &r));
    EXPECT_EQ(r.enabled, 0);
}

}  // namespace
