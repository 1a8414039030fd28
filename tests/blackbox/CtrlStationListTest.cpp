// The station black and white lists through JSON requests of type 0: the
// list query, moving names between the lists, the online base closed when it
// is black-listed, names that carry SQL quotes, and a list too long for one
// 2048-byte frame.
#include "blackbox/CtrlFixture.h"

#include <json/json.h>

namespace {

using namespace CtrlTexts;

class BlackboxCtrlStationLists : public CtrlTest {};

Json::Value ParsedAnswer(const std::string& text)
{
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    return root;
}

std::vector<std::string> Names(const Json::Value& list)
{
    std::vector<std::string> out;
    if (!list.isArray()) return out;
    for (const Json::Value& v : list) out.push_back(v.asString());
    return out;
}

TEST_F(BlackboxCtrlStationLists, QueryUpdateAndInsertMoveNamesBetweenTheLists)
{
    ASSERT_TRUE(vorlane.AddWhiteList("MNT1"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();

    std::string answer = AskJson(c.get(), R"({"MsgId": 1000})");
    Json::Value lists = ParsedAnswer(answer);
    EXPECT_EQ(lists["MsgId"].asInt(), 1000) << answer;
    EXPECT_TRUE(lists["MsgData"]["blacklist"].isNull()) << "an empty list is null: " << answer;
    EXPECT_EQ(Names(lists["MsgData"]["whitelist"]), std::vector<std::string>{"MNT1"});
    // Styled, members in name order.
    EXPECT_LT(answer.find("\"MsgData\""), answer.find("\"MsgId\""));

    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 1001, "MsgData": {"blacklist": ["MNT1"]}})"), "");
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "MNT1"), 1);
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "MNT1"), 0);
    // Again: update tests membership, nothing more changes.
    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 1001, "MsgData": {"blacklist": ["MNT1"]}})"), "");
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "MNT1"), 1);
    // Insert does not test: a second row.
    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 1002, "MsgData": {"blacklist": ["MNT1"]}})"), "");
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "MNT1"), 2);

    // In both arrays of one request: "whitelist" comes last and wins.
    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 1001, "MsgData": {"whitelist": ["B2"], "blacklist": ["B2"]}})"), "");
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "B2"), 1);
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "B2"), 0);

    lists = ParsedAnswer(AskJson(c.get(), R"({"MsgId": 1000, "MsgData": null})"));
    EXPECT_EQ(Names(lists["MsgData"]["whitelist"]), std::vector<std::string>{"B2"});
    // An unknown MsgId is answered with the empty text.
    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 7})"), "");
}

TEST_F(BlackboxCtrlStationLists, BlackListingAnOnlineBaseClosesIt)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    auto c = Centre();

    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 1001, "MsgData": {"blacklist": ["MNT1"]}})"), "");
    EXPECT_TRUE(base.WaitClosed(kReplyMs)) << "the black-listed base stays connected";
    EXPECT_TRUE(vorlane.WaitForLog("Base logout:MNT1"));

    TestClient again;
    std::string reply;
    EXPECT_FALSE(RawPeers::LoginBase(&again, Port(), "MNT1", "Base-Pw-1", &reply)) << Printable(reply);
}

TEST_F(BlackboxCtrlStationLists, NamesWithQuotesLeaveTheDatabaseIntact)
{
    ASSERT_TRUE(vorlane.AddWhiteList("KEEP"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    const char* request = R"({"MsgId": 1002, "MsgData": {"blacklist": ["A'); DELETE FROM station_whitelist; --",
        "x\" OR \"1\"=\"1", "KEEP' OR '1'='1"], "whitelist": ["plain\"quote"]}})";
    EXPECT_EQ(AskJson(c.get(), request), "");
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "KEEP"), 1);
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "x\" OR \"1\"=\"1"), 1);
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "plain\"quote"), 1);
    Json::Value lists = ParsedAnswer(AskJson(c.get(), R"({"MsgId": 1000})"));
    std::vector<std::string> white = Names(lists["MsgData"]["whitelist"]);
    EXPECT_NE(std::find(white.begin(), white.end(), "KEEP"), white.end());
}

TEST_F(BlackboxCtrlStationLists, AListLongerThanOneSmallFrameStillArrivesWhole)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    std::string names;
    for (int i = 0; i < 150; ++i) names += std::string(i ? "," : "") + "\"STATION_" + std::to_string(i) + "\"";
    EXPECT_EQ(AskJson(c.get(), R"({"MsgId": 1002, "MsgData": {"whitelist": [)" + names + "]}}"), "");
    std::string answer = AskJson(c.get(), R"({"MsgId": 1000})");
    ASSERT_GT(answer.size(), 2048u);
    EXPECT_EQ(Names(ParsedAnswer(answer)["MsgData"]["whitelist"]).size(), 150u);
}

}  // namespace
