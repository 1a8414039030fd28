// An operator at the HTTP inspector with curl: every route answers with its
// JSON envelope, users are added and can log in at once, lookups never show
// an operator account, the online stations and rovers come with their
// counts and positions, and no malformed body of any shape harms the
// inspector.
#include "blackbox/GnssFrames.h"
#include "blackbox/InspectorFixture.h"

#include <json/json.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using RawPeers::LoginBase;
using RawPeers::LoginRover;

const Json::Value* FindBy(const Json::Value& data, const char* member, const std::string& value)
{
    for (const Json::Value& item : data) {
        if (item[member].asString() == value) return &item;
    }
    return nullptr;
}

TEST_F(BlackboxInspector, EveryRouteAnswersWithItsEnvelope)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw"));
    ASSERT_NO_FATAL_FAILURE(StartInspector());

    struct Case {
        std::string route;
        int status;
        std::string message;
    } cases[] = {
        {"/xqn_user/get", 0, "查询成功"},
        {"/xqn_user/add", -2, kMalformed},  // an empty data array adds nobody
        {"/xqn_station_stat", 0, "在线基站数量:0"},
        {"/xqn_rover_stat", 0, "在线流动站数量:0"},
        {"/xqn_station_info", 0, "在线基站数量:0"},
        {"/xqn_rover_info", 0, "在线流动站信息,数量:0"},
    };
    for (const Case& c : cases) {
        Answer a = Ask(c.route, "{\"data\":[]}");
        ExpectEnvelope(a, c.status, c.message, c.route);
    }

    // Byte for byte: compact, keys in order, the texts as UTF-8.
    Answer stat = Ask("/xqn_station_stat", "{\"any\":1}");
    EXPECT_EQ(stat.raw, "{\"data\":[],\"message\":\"在线基站数量:0\",\"status\":0}\n");

    Answer other = Ask("/xqn_other", "{\"any\":1}");
    EXPECT_EQ(other.http, 404);
}

TEST_F(BlackboxInspector, MalformedBodiesOfEveryShapeGetTheMalformedAnswer)
{
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw"));
    ASSERT_NO_FATAL_FAILURE(StartInspector());

    const std::string routes[] = {"/xqn_user/get",     "/xqn_user/add",     "/xqn_station_stat",
                                  "/xqn_rover_stat",   "/xqn_station_info", "/xqn_rover_info"};
    // Shapes no route takes.
    const std::string everywhere[] = {
        "",
        "not json",
        "{\"data\":[{\"UserName\":\"cut\",\"Password\":\"p\",\"UserType\":3}",  // cut short
        "[{\"data\":[]}]",                                                      // a root array
        "[]",
        "{}",
        "null",
        "\"text\"",
        "42",
        std::string("\0{\"data\":[]}", 12),  // read up to the first NUL: nothing
        "{\"data\":" + std::string(5000, '['),  // deeper than any reader goes
    };
    for (const std::string& route : routes) {
        for (const std::string& body : everywhere) {
            ExpectEnvelope(Ask(route, body), -2, kMalformed, route + " " + Printable(body));
        }
    }

    // Members of the wrong type, per route.
    struct Case {
        std::string route;
        std::string body;
    } cases[] = {
        {"/xqn_user/get", "{\"data\":\"alice\"}"},
        {"/xqn_user/get", "{\"data\":[7]}"},
        {"/xqn_user/get", "{\"data\":[{\"UserName\":5}]}"},
        {"/xqn_user/add", "{\"data\":{\"UserName\":\"x\",\"Password\":\"p\",\"UserType\":3}}"},
        {"/xqn_user/add", "{\"data\":[\"x\"]}"},
        {"/xqn_user/add", "{\"data\":[{}]}"},
        {"/xqn_user/add", AddBody("\"UserName\":5,\"Password\":\"p\",\"UserType\":3")},
        {"/xqn_user/add", AddBody("\"UserName\":\"x\",\"Password\":[\"p\"],\"UserType\":3")},
        {"/xqn_user/add", AddBody("\"UserName\":\"x\",\"Password\":\"p\",\"UserType\":\"3\"")},
        {"/xqn_user/add", AddBody("\"UserName\":\"x\",\"Password\":\"p\",\"UserType\":2.5")},
        {"/xqn_user/add", AddBody("\"UserName\":\"x\",\"Password\":\"p\",\"UserType\":3,\"Enabled\":\"yes\"")},
        {"/xqn_user/add", AddBody("\"UserName\":\"x\",\"Password\":\"p\",\"UserType\":3,\"Mail\":5")},
        {"/xqn_station_info", "{\"data\":\"MNT1\"}"},
        {"/xqn_station_info", "{\"data\":[{\"MountPoint\":7}]}"},
        {"/xqn_rover_info", "{\"data\":[{\"UserName\":true}]}"},
        {"/xqn_rover_info", "{\"data\":[{\"MountPoint\":[1]}]}"},
        {"/xqn_rover_info", "{\"data\":[\"alice\"]}"},
    };
    for (const Case& c : cases) ExpectEnvelope(Ask(c.route, c.body), -2, kMalformed, c.route + " " + c.body);

    // Nothing was stored by the cut-short add, and the inspector still answers.
    ExpectEnvelope(Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"cut\"},{\"UserName\":\"x\"}]}"), -1, "账号不存在",
                   "after");
    ExpectEnvelope(Ask("/xqn_rover_stat", "{\"any\":1}"), 0, "在线流动站数量:0", "after");
    EXPECT_EQ(vorlane.CountInLogAtLeast("start ok", 1), 1);
}

TEST_F(BlackboxInspector, AddedUsersLogInAtOnceAndEveryOtherOutcomeAddsNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartInspector());
    const std::string expiry = VorlaneInstance::ExpiryText(30 * 86400L);

    ExpectEnvelope(Ask("/xqn_user/add", AddBody("\"UserName\":\"NEWBASE\",\"Password\":\"Base-Pw-9\",\"UserType\":2")),
                   0, "账号添加成功", "base");
    ExpectEnvelope(Ask("/xqn_user/add",
                       AddBody("\"UserName\":\"newrover\",\"Password\":\"Rover-Pw-9\",\"UserType\":3,"
                               "\"ExpireTime\":\"" + expiry + "\",\"Contacts\":\"李工\",\"PhoneNum\":\"123\","
                               "\"Mail\":\"r@example.com\",\"QQ\":\"42\",\"Company\":\"测绘\",\"Enabled\":true")),
                   0, "账号添加成功", "rover");

    // Both log in on the caster port without a restart.
    TestClient base;
    std::string reply;
    ASSERT_TRUE(LoginBase(&base, Port(), "NEWBASE", "Base-Pw-9", &reply)) << Printable(reply);
    TestClient rover;
    EXPECT_TRUE(LoginRover(&rover, Port(), "NEWBASE", "newrover", "Rover-Pw-9", &reply)) << Printable(reply);

    struct Case {
        std::string members;
        int status;
        std::string message;
    } cases[] = {
        {"\"UserName\":\"newrover\",\"Password\":\"other\",\"UserType\":3", -1, "账号已存在"},
        {"\"Password\":\"p\",\"UserType\":3", -2, "没有设置用户名"},
        {"\"UserName\":\"\",\"Password\":\"p\",\"UserType\":3", -2, "没有设置用户名"},
        {"\"UserName\":\"nopw\",\"UserType\":3", -2, "没有设置密码"},
        {"\"UserName\":\"notype\",\"Password\":\"p\"", -2, "没有设置用户类型"},
        {"\"UserName\":\"root\",\"Password\":\"p\",\"UserType\":1", -2, "账号添加失败"},
        {"\"UserName\":\"four\",\"Password\":\"p\",\"UserType\":4", -2, "账号添加失败"},
    };
    for (const Case& c : cases) ExpectEnvelope(Ask("/xqn_user/add", AddBody(c.members)), c.status, c.message, c.members);
    ExpectEnvelope(Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"root\"},{\"UserName\":\"four\"},"
                                        "{\"UserName\":\"nopw\"},{\"UserName\":\"notype\"}]}"),
                   -1, "账号不存在", "refused adds");

    // Only the first element is used.
    ExpectEnvelope(Ask("/xqn_user/add", "{\"data\":[{\"UserName\":\"first\",\"Password\":\"p\",\"UserType\":3},"
                                        "{\"UserName\":\"second\",\"Password\":\"p\",\"UserType\":3}]}"),
                   0, "账号添加成功", "two");
    Answer two = Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"first\"},{\"UserName\":\"second\"}]}");
    ExpectEnvelope(two, 0, "查询成功", "two");
    EXPECT_EQ(Names(two.json["data"], "UserName"), std::set<std::string>{"first"});

    // A long name is cut to 199 bytes on a character boundary: 66 of 80
    // three-byte characters.
    std::string station;
    for (int i = 0; i < 80; ++i) station += "站";
    ExpectEnvelope(Ask("/xqn_user/add", AddBody("\"UserName\":\"" + station + "\",\"Password\":\"p\",\"UserType\":3")),
                   0, "账号添加成功", "long name");
    Answer cut = Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"" + station.substr(0, 198) + "\"}]}");
    ExpectEnvelope(cut, 0, "查询成功", "long name");

    // Every member as it was given.
    Answer got = Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"newrover\"}]}");
    ExpectEnvelope(got, 0, "查询成功", "newrover");
    ASSERT_EQ(got.json["data"].size(), 1u);
    const Json::Value& user = got.json["data"][0];
    EXPECT_EQ(user["UserName"].asString(), "newrover");
    EXPECT_EQ(user["Password"].asString(), "Rover-Pw-9");
    EXPECT_EQ(user["UserType"].asInt(), 3);
    EXPECT_EQ(user["Contacts"].asString(), "李工");
    EXPECT_EQ(user["PhoneNum"].asString(), "123");
    EXPECT_EQ(user["Mail"].asString(), "r@example.com");
    EXPECT_EQ(user["QQ"].asString(), "42");
    EXPECT_EQ(user["Company"].asString(), "测绘");
    EXPECT_EQ(user["ExpireTime"].asString(), expiry);
    EXPECT_TRUE(user["Enabled"].isBool() && user["Enabled"].asBool());
}

TEST_F(BlackboxInspector, LookupsNeverShowAnOperatorAccount)
{
    ASSERT_TRUE(vorlane.AddOperatorAccount("admin", "Admin-Secret"));
    ASSERT_TRUE(vorlane.AddOperatorAccount("ops", "Ops-Secret"));
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw"));
    ASSERT_TRUE(vorlane.AddRoverAccount("r1", "R1-Pw"));
    ASSERT_TRUE(vorlane.AddRoverAccount("r2", "R2-Pw"));
    ASSERT_NO_FATAL_FAILURE(StartInspector());

    for (const std::string& body : {std::string("{\"data\":[]}"), std::string("{\"any\":1}")}) {
        Answer all = Ask("/xqn_user/get", body);
        ExpectEnvelope(all, 0, "查询成功", body);
        EXPECT_EQ(Names(all.json["data"], "UserName"), (std::set<std::string>{"MNT1", "r1", "r2"})) << body;
        EXPECT_EQ(all.raw.find("Secret"), std::string::npos) << body;
    }

    // Named: each once, in name order, an operator counting as not found.
    Answer named = Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"r2\"},{\"UserName\":\"r1\"},"
                                        "{\"UserName\":\"r2\"},{\"UserName\":\"ops\"},{\"UserName\":\"nobody\"}]}");
    ExpectEnvelope(named, 0, "查询成功", "named");
    ASSERT_EQ(named.json["data"].size(), 2u);
    EXPECT_EQ(named.json["data"][0]["UserName"].asString(), "r1");
    EXPECT_EQ(named.json["data"][0]["Password"].asString(), "R1-Pw");
    EXPECT_EQ(named.json["data"][1]["UserName"].asString(), "r2");

    for (const std::string name : {"admin", "ops", "nobody"}) {
        Answer a = Ask("/xqn_user/get", "{\"data\":[{\"UserName\":\"" + name + "\"}]}");
        ExpectEnvelope(a, -1, "账号不存在", name);
        EXPECT_EQ(a.raw.find("Secret"), std::string::npos) << name;
    }
}

TEST_F(BlackboxInspector, OnlineStationsAndRoversWithTheirCountsAndPositions)
{
    for (const char* mount : {"MNT1", "MNT2", "MNT3"}) ASSERT_TRUE(vorlane.AddBaseAccount(mount, "Base-Pw"));
    for (const char* user : {"r1", "r2", "r3"}) ASSERT_TRUE(vorlane.AddRoverAccount(user, "Rover-Pw"));
    ASSERT_NO_FATAL_FAILURE(StartInspector());

    TestClient bases[3];
    const char* mounts[] = {"MNT1", "MNT2", "MNT3"};
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(LoginBase(&bases[i], Port(), mounts[i], "Base-Pw"));
    ASSERT_TRUE(bases[0].Send(GnssFrames::Rtcm1005(1, 39.9, 116.4, 50.0)));

    TestClient rovers[3];
    const char* onMount[] = {"MNT1", "MNT1", "MNT2"};
    const char* users[] = {"r1", "r2", "r3"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(LoginRover(&rovers[i], Port(), onMount[i], users[i], "Rover-Pw"));
        ASSERT_TRUE(rovers[i].Send(GnssFrames::Gga(39.91, 116.41, 40.0) + "\r\n"));
    }

    Answer a;
    ASSERT_TRUE(WaitAnswer("/xqn_station_info", "{\"any\":1}",
                           [](const Answer& x) {
                               const Json::Value* b = FindBy(x.json["data"], "MountPoint", "MNT1");
                               return b && (*b)["Format"].asString() == "RTCM3";
                           },
                           &a))
        << Printable(a.raw);
    ExpectEnvelope(a, 0, "在线基站数量:3", "station info");
    const Json::Value& b1 = *FindBy(a.json["data"], "MountPoint", "MNT1");
    EXPECT_EQ(b1["Status"].asInt(), 1);
    EXPECT_NEAR(b1["Coord_B"].asDouble(), 39.9, 1e-6);
    EXPECT_NEAR(b1["Coord_L"].asDouble(), 116.4, 1e-6);
    EXPECT_NEAR(b1["Coord_H"].asDouble(), 50.0, 0.01);
    EXPECT_EQ(b1["IP"].asString(), "127.0.0.1");
    EXPECT_GT(b1["Port"].asInt(), 0);
    EXPECT_GE(b1["OnlineSec"].asInt64(), 0);
    EXPECT_EQ(b1["OnlineTime"].asString().size(), 19u);
    EXPECT_EQ(b1["RoverNum"].asInt(), 2);
    EXPECT_EQ(Names(b1["RoverName"], "UserName"), (std::set<std::string>{"r1", "r2"}));
    const Json::Value& b3 = *FindBy(a.json["data"], "MountPoint", "MNT3");
    EXPECT_EQ(b3["RoverNum"].asInt(), 0);
    EXPECT_TRUE(b3["RoverName"].isNull());
    EXPECT_EQ(b3["Format"].asString(), "");

    Answer one = Ask("/xqn_station_info", "{\"data\":[{\"MountPoint\":\"MNT3\"},null,{}]}");
    ExpectEnvelope(one, 0, "在线基站数量:1", "station filter");
    EXPECT_EQ(Names(one.json["data"], "MountPoint"), std::set<std::string>{"MNT3"});

    Answer stat = Ask("/xqn_station_stat", "{\"any\":1}");
    ExpectEnvelope(stat, 0, "在线基站数量:3", "station stat");
    EXPECT_EQ(Names(stat.json["data"], "MountPoint"), (std::set<std::string>{"MNT1", "MNT2", "MNT3"}));
    Answer roverStat = Ask("/xqn_rover_stat", "{\"any\":1}");
    ExpectEnvelope(roverStat, 0, "在线流动站数量:3", "rover stat");
    EXPECT_EQ(Names(roverStat.json["data"], "UserName"), (std::set<std::string>{"r1", "r2", "r3"}));

    ASSERT_TRUE(WaitAnswer("/xqn_rover_info", "{\"any\":1}",
                           [](const Answer& x) {
                               if (x.json["data"].size() != 3) return false;
                               for (const Json::Value& r : x.json["data"]) {
                                   if (r["Status"].asInt() != 1) return false;
                               }
                               return true;
                           },
                           &a))
        << Printable(a.raw);
    ExpectEnvelope(a, 0, "在线流动站信息,数量:3", "rover info");
    const Json::Value& r1 = *FindBy(a.json["data"], "UserName", "r1");
    EXPECT_EQ(r1["MountPoint"].asString(), "MNT1");
    EXPECT_EQ(r1["UsePoint"].asString(), "MNT1");
    EXPECT_EQ(r1["SatNum"].asInt(), 10);
    EXPECT_NEAR(r1["Coord_B"].asDouble(), 39.91, 1e-6);
    EXPECT_NEAR(r1["Coord_L"].asDouble(), 116.41, 1e-6);
    EXPECT_NEAR(r1["Coord_H"].asDouble(), 40.0, 0.01);
    EXPECT_EQ(r1["IP"].asString(), "127.0.0.1");
    EXPECT_GT(r1["Port"].asInt(), 0);
    EXPECT_EQ(r1["OnlineTime"].asString().size(), 19u);
    EXPECT_TRUE(r1["Distance"].isDouble() && r1["RoverSpeed"].isNumeric() && r1["DiffDelay"].isNumeric());

    // A mount and a name: the union, each rover once.
    Answer filtered = Ask("/xqn_rover_info", "{\"data\":[{\"MountPoint\":\"MNT2\"},{\"UserName\":\"r3\"},"
                                             "{\"UserName\":\"r1\"}]}");
    ExpectEnvelope(filtered, 0, "在线流动站信息,数量:2", "rover filter");
    EXPECT_EQ(filtered.json["data"].size(), 2u);
    EXPECT_EQ(Names(filtered.json["data"], "UserName"), (std::set<std::string>{"r1", "r3"}));

    // A base that leaves is gone from the lists with its rovers.
    bases[1].Close();
    ASSERT_TRUE(WaitAnswer("/xqn_station_stat", "{\"any\":1}",
                           [](const Answer& x) { return x.json["data"].size() == 2; }, &a));
    ExpectEnvelope(a, 0, "在线基站数量:2", "after a base left");
}

}  // namespace
