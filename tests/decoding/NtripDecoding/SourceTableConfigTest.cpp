// The source table reads "VorlaneConfig.json" beside the running executable,
// so this binary lives in a folder of its own and its cases take turns on
// that file.
#include "decoding/NtripDecoding/NtripServerConfig.h"
#include "decoding/NtripDecoding/SourceTable.h"

#include "runtime/ExeDir.h"
#include "support/LogCapture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <string>

using namespace NtripDecoding;

namespace {

// Log lines of cases that do not read them go to a temporary folder.
const LogCapture kLogElsewhere;

std::string ExeDir()
{
    char dir[EXE_DIR_PATH_SIZE];
    EXPECT_TRUE(GetExeDirPathInWin(dir));
    return dir;
}

std::string Text(CommonDataChain* chain)
{
    std::string s;
    for (CommonDataChain* b = chain; b; b = b->next) s.append(reinterpret_cast<char*>(b->data), b->len);
    CommonDataChain_Free(chain);
    return s;
}

// A configuration as the service re-saves it: larger than 1024 bytes.
std::string Config(int broadcastNearest)
{
    std::string padding;
    for (int i = 0; i < 40; ++i) padding += "\t\t\"key" + std::to_string(i) + "\": \"" + std::string(20, 'v') + "\",\n";
    return "{\n\t\"ctrl_center_server\": {\n" + padding +
           "\t\t\"port\": 9000\n\t},\n\t\"ntrip_server\": {\n\t\t\"ip\": \"127.0.0.1\",\n\t\t\"port\": 2101,\n"
           "\t\t\"protocol\": 1,\n\t\t\"base_offline_time\": 10,\n\t\t\"base_login_mode\": 1,\n"
           "\t\t\"rover_login_mode\": 0,\n\t\t\"rover_gga_log\": 1,\n\t\t\"use_software_name\": 0,\n"
           "\t\t\"broadcast_nearest\": " +
           std::to_string(broadcastNearest) +
           ",\n\t\t\"one_account_multi_user\": 1,\n\t\t\"user_count\": 3,\n\t\t\"rover_distance_limit\": 5000\n\t}\n}\n";
}

class SourceTableConfig : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = ExeDir() + NTRIP_CONFIG_FILE_NAME;
        lock_ = open((ExeDir() + ".config-turn").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        ASSERT_GE(lock_, 0);
        ASSERT_EQ(0, flock(lock_, LOCK_EX));
        unlink(path_.c_str());
    }
    void TearDown() override
    {
        unlink(path_.c_str());
        if (lock_ >= 0) {
            flock(lock_, LOCK_UN);
            close(lock_);
        }
    }

    std::string path_;
    int lock_ = -1;
};

const char* const kNames[] = {"MNT1", "MNT2"};

}  // namespace

TEST_F(SourceTableConfig, PathIsBesideTheExecutable)
{
    char path[EXE_DIR_PATH_SIZE + 64];
    ASSERT_TRUE(GetFileFullPath(path, sizeof(path)));
    EXPECT_EQ(path_, path);
    char tiny[8];
    EXPECT_FALSE(GetFileFullPath(tiny, sizeof(tiny)));
    EXPECT_STREQ("", tiny);
}

TEST_F(SourceTableConfig, WithoutTheFileNearestIsNotListedAndTheFailureLogged)
{
    LogCapture log;
    NtripServerSection config;
    EXPECT_FALSE(LoadNtripServerConfig(&config));
    std::string table = Text(MakeSourceTable(kNames, 2));
    EXPECT_EQ(std::string::npos, table.find("NEAREST"));
    EXPECT_NE(std::string::npos, table.find("STR;MNT2;"));
    EXPECT_TRUE(log.Has("[info] NtripDecoding::Load Vorlane Config failure."));
}

TEST_F(SourceTableConfig, ALargeConfigIsReadWholeAndListsNearest)
{
    std::string config = Config(1);
    ASSERT_GT(config.size(), 1024u);
    ASSERT_TRUE(WriteFile(path_, config));

    NtripServerSection section;
    ASSERT_TRUE(LoadNtripServerConfig(&section));
    EXPECT_STREQ("127.0.0.1", section.ip);
    EXPECT_EQ(2101, section.port);
    EXPECT_EQ(1, section.protocol);
    EXPECT_EQ(10, section.base_offline_time);
    EXPECT_EQ(1, section.base_login_mode);
    EXPECT_EQ(0, section.rover_login_mode);
    EXPECT_EQ(1, section.rover_gga_log);
    EXPECT_EQ(0, section.use_software_name);
    EXPECT_EQ(1, section.broadcast_nearest);
    EXPECT_EQ(1, section.one_account_multi_user);
    EXPECT_EQ(3, section.user_count);

    std::string table = Text(MakeSourceTable(kNames, 2));
    size_t nearest = table.find("STR;NEAREST;NEAREST;NEAREST;");
    ASSERT_NE(std::string::npos, nearest);
    EXPECT_GT(nearest, table.find("STR;MNT2;"));
    EXPECT_NE(std::string::npos, table.find("Content-Length: 282\r\n")) << table;
}

TEST_F(SourceTableConfig, NearestOnlyWhenBroadcastIsOne)
{
    for (int value : {0, 2}) {
        ASSERT_TRUE(WriteFile(path_, Config(value)));
        std::string table = Text(MakeSourceTable(kNames, 2));
        EXPECT_EQ(std::string::npos, table.find("NEAREST")) << value;
    }
}

TEST_F(SourceTableConfig, BrokenJsonIsAFailure)
{
    LogCapture log;
    ASSERT_TRUE(WriteFile(path_, Config(1).substr(0, 1024)));
    NtripServerSection section;
    EXPECT_FALSE(LoadNtripServerConfig(&section));
    EXPECT_TRUE(log.Has("[info] :Parse Json error."));
    EXPECT_EQ(std::string::npos, Text(MakeSourceTable(kNames, 2)).find("NEAREST"));
}

TEST(NtripServerConfigFile, OddValuesReadAsZeroWithoutThrowing)
{
    TempDir dir;
    struct {
        const char* name;
        std::string json;
        bool ok;
        int broadcast;
        int port;
        const char* ip;
    } cases[] = {
        {"empty file", "", false, 0, 0, ""},
        {"no section", "{\"other\": {}}", true, 0, 0, ""},
        {"root is an array", "[1, 2, 3]", true, 0, 0, ""},
        {"section is a number", "{\"ntrip_server\": 5}", true, 0, 0, ""},
        {"texts where numbers belong", "{\"ntrip_server\": {\"port\": \"2101\", \"broadcast_nearest\": \"1\"}}", true,
         0, 0, ""},
        {"numbers out of range", "{\"ntrip_server\": {\"port\": 1e30, \"broadcast_nearest\": 1.0}}", true, 1, 0, ""},
        {"ip that is not a text", "{\"ntrip_server\": {\"ip\": 12, \"port\": 2101}}", true, 0, 2101, ""},
        {"long ip is cut", "{\"ntrip_server\": {\"ip\": \"" + std::string(40, '9') + "\"}}", true, 0, 0,
         "9999999999999999999999999999999"},
        {"booleans", "{\"ntrip_server\": {\"broadcast_nearest\": true}}", true, 1, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.File("c.json");
        ASSERT_TRUE(WriteFile(path, c.json));
        NtripServerSection section;
        memset(&section, 0x55, sizeof(section));
        EXPECT_EQ(c.ok, LoadNtripServerConfigFrom(path.c_str(), &section));
        EXPECT_EQ(c.broadcast, section.broadcast_nearest);
        EXPECT_EQ(c.port, section.port);
        EXPECT_STREQ(c.ip, section.ip);
    }
    NtripServerSection section;
    EXPECT_FALSE(LoadNtripServerConfigFrom(dir.File("missing.json").c_str(), &section));
    EXPECT_FALSE(LoadNtripServerConfigFrom(nullptr, &section));
}
