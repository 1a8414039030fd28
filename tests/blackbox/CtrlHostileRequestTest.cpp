// What a logged-in control centre meets when its requests are wrong or
// extreme: dates and periods out of every range, texts that are not UTF-8,
// ports no caster can listen on, JSON nested past any reader's limit, names
// of kilobytes, and a white list of thousands of mounts. Each request gets
// its answer (a refusal where it cannot be served), and a base goes on
// streaming to its rover throughout.
#include "blackbox/CtrlOpsFixture.h"
#include "support/Files.h"

#include <json/json.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace CtrlOps;
using CtrlTexts::kReplyMs;
using CtrlWire::Pb;
using CtrlWire::PbFields;
using CtrlWire::Received;

// UserInfo fields beside those of CtrlOpsFixture.h.
enum { USER_ACTIVATION = 13, USER_PERIOD = 14 };

// A name of n bytes: one ASCII letter, then three-byte characters, so that a
// cut at most byte counts falls inside a character.
std::string WideName(size_t n)
{
    std::string name = "x";
    while (name.size() + 3 <= n) name += "\xE4\xB8\xAD";  // U+4E2D
    return name;
}

// An echoed text: shorter than what was sent, a prefix of it, and UTF-8.
void ExpectCutEcho(const std::string& echoed, const std::string& sent)
{
    EXPECT_FALSE(echoed.empty());
    EXPECT_LT(echoed.size(), sent.size());
    EXPECT_EQ(sent.compare(0, echoed.size(), echoed), 0) << "not a prefix of the name sent";
    EXPECT_TRUE(IsUtf8(echoed)) << "cut inside a character";
}

class BlackboxCtrlHostileRequest : public CtrlOpsTest {
protected:
    // A caster with a base streaming to a rover, and a logged-in centre.
    void StartStreaming()
    {
        ASSERT_TRUE(vorlane.AddBaseAccount("HB1", "Base-Pw-1"));
        ASSERT_TRUE(vorlane.AddRoverAccount("hr1", "Rover-Pw-1"));
        ASSERT_NO_FATAL_FAILURE(StartWithBase(&base_, "HB1", "Base-Pw-1"));
        ASSERT_TRUE(RawPeers::LoginRover(&rover_, Port(), "HB1", "hr1", "Rover-Pw-1"));
        centre_ = Centre();
        ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
    }

    // The base's next chunk reaches the rover, and the control connection
    // still answers.
    void ExpectStillStreaming()
    {
        std::string chunk = GnssFrames::CounterBytes(sent_, 500);
        sent_ += chunk.size();
        ASSERT_TRUE(base_.Send(chunk));
        EXPECT_EQ(rover_.ReadExactly(chunk.size(), kReplyMs), chunk) << "the stream stopped";
        Received r = Ask(centre_.get(), 21, 77, Pb());
        EXPECT_EQ(r.type, 1020u) << "the control connection stopped answering";
    }

    // The ack of a user add (11) or modify (13) of one item; -1 unanswered.
    int UserOp(uint32_t type, int32_t id, const Pb& item)
    {
        Received r = Ask(centre_.get(), type, id, UserRequest({item}));
        if (r.type != 1000 + type || r.id != id) return -1;
        return static_cast<int>(CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK));
    }

    // Every user of a type as type 12 lists it, each item's raw bytes.
    std::vector<std::string> ListedUsers(int type)
    {
        std::vector<std::string> users;
        centre_->Request(12, 300, UserRequest({Pb().Int(USER_TYPE, type)}));
        Received r;
        while (centre_->NextReply(&r, users.empty() ? kReplyMs : 300)) {
            EXPECT_EQ(r.type, 1012u);
            for (const std::string& u : CtrlWire::ParsePb(r.body).All(USER_ITEMS_REPLY)) users.push_back(u);
        }
        return users;
    }

    // The id of the rover account of that name, as the list gives it; 0 when
    // it is not listed.
    uint32_t ListedRoverId(const std::string& name)
    {
        for (const std::string& u : ListedUsers(3)) {
            PbFields f = CtrlWire::ParsePb(u);
            if (f.Text(USER_NAME) == name) return static_cast<uint32_t>(f.Int(USER_ID));
        }
        return 0;
    }

    uint64_t sent_ = 0;
    TestClient base_, rover_;
    std::unique_ptr<CtrlCenterClient> centre_;
};

// A rover account as an operator would type it, with the texts given.
Pb Account(const std::string& name, const std::string& expiry, int64_t activation = 0, int64_t period = 0)
{
    Pb item;
    item.Int(USER_TYPE, 3).Bytes(USER_NAME, name).Bytes(USER_PASSWORD, "Acct-Pw-1");
    if (!expiry.empty()) item.Bytes(USER_EXPIRY, expiry);
    if (activation) item.Int(USER_ACTIVATION, activation);
    if (period) item.Int(USER_PERIOD, period);
    return item;
}

TEST_F(BlackboxCtrlHostileRequest, AccountsWithDatesOrPeriodsOutOfRangeAreRefusedWith33)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    struct Case {
        const char* label;
        std::string expiry;
        int64_t period;
    } refused[] = {
        {"year of the lowest int", "-2147483648/1/1 0:0:0", 0},
        {"month of the lowest int", "2030/-2147483648/1 0:0:0", 0},
        {"year past any int", "99999999999/1/1 0:0:0", 0},
        {"hour 24", "2030/1/1 24:0:0", 0},
        {"not a date", "tomorrow", 0},
        {"negative period", "2030/1/1 0:0:0", -1},
        {"period of the lowest int", "2030/1/1 0:0:0", INT32_MIN},
        {"period past a hundred years", "2030/1/1 0:0:0", 36501},
    };
    int32_t id = 10;
    for (const Case& k : refused) {
        SCOPED_TRACE(k.label);
        EXPECT_EQ(UserOp(11, ++id, Account("dated", k.expiry, 1, k.period)), 33);
    }
    EXPECT_TRUE(vorlane.WaitForLog("SendAddUserResponse:user of type 3 refused"));
    EXPECT_TRUE(ListedUsers(3).size() == 1) << "only the account the caster started with";

    // The edges of the ranges are accounts like any other.
    EXPECT_EQ(UserOp(11, ++id, Account("dated", "2030/12/31 23:59:59", 1, 36500)), 20);
    EXPECT_EQ(UserOp(11, ++id, Account("undated", "", 1, 0)), 20);

    // Modify refuses them too, with its own failure code, and the row stays.
    uint32_t dated = ListedRoverId("dated");
    ASSERT_NE(dated, 0u);
    Pb changed = Account("dated", "2030/-2147483648/1 0:0:0");
    changed.Varint(USER_ID, dated);
    EXPECT_EQ(UserOp(13, ++id, changed), 53);
    Pb badPeriod = Account("dated", "2031/1/1 0:0:0", 1, -5);
    badPeriod.Varint(USER_ID, dated);
    EXPECT_EQ(UserOp(13, ++id, badPeriod), 53);
    for (const std::string& u : ListedUsers(3)) {
        PbFields f = CtrlWire::ParsePb(u);
        if (f.Text(USER_NAME) == "dated") {
            EXPECT_EQ(f.Text(USER_EXPIRY), "2030/12/31 23:59:59");
        }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

TEST_F(BlackboxCtrlHostileRequest, TextsThatAreNotUtf8AreRefusedWith33AndTheListsStayUtf8)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    struct Case {
        const char* label;
        Pb item;
    } refused[] = {
        {"name with a stray byte", Account("bad\xFFname", "2030/1/1 0:0:0")},
        {"password cut in a character", Pb().Int(USER_TYPE, 3).Bytes(USER_NAME, "okname").Bytes(USER_PASSWORD, "pw\xC3")},
        {"surrogate in the contact", Account("okname", "2030/1/1 0:0:0").Bytes(USER_CONTACT, "\xED\xA0\x80")},
        {"overlong slash in the expiry", Account("okname", "2030\xC0\xAF" "1/1 0:0:0")},
        // Past the 199 bytes a field keeps: still refused, not stored cut.
        {"bad byte past the kept part", Account(std::string(250, 'n') + "\xFF", "2030/1/1 0:0:0")},
    };
    int32_t id = 40;
    for (const Case& k : refused) {
        SCOPED_TRACE(k.label);
        EXPECT_EQ(UserOp(11, ++id, k.item), 33);
    }
    EXPECT_TRUE(vorlane.WaitForLog("SendAddUserResponse:user of type 3 refused: a text is not UTF-8"));

    EXPECT_EQ(UserOp(11, ++id, Account("okname", "2030/1/1 0:0:0")), 20);
    uint32_t ok = ListedRoverId("okname");
    ASSERT_NE(ok, 0u);
    Pb changed = Account("ok\x80name", "2030/1/1 0:0:0");
    changed.Varint(USER_ID, ok);
    EXPECT_EQ(UserOp(13, ++id, changed), 53);

    // Both lists: every text of every user is UTF-8, and the account
    // refused on modify kept its name.
    std::vector<std::string> users = ListedUsers(3);
    EXPECT_EQ(users.size(), 2u);
    bool kept = false;
    for (const std::string& u : users) {
        PbFields f = CtrlWire::ParsePb(u);
        for (const auto& field : f.bytes) {
            for (const std::string& text : field.second) EXPECT_TRUE(IsUtf8(text)) << "field " << field.first;
        }
        kept = kept || f.Text(USER_NAME) == "okname";
    }
    EXPECT_TRUE(kept);
    Received page = Ask(centre_.get(), 15, 88, Pb().Int(1, 0).Int(2, 50).Int(3, 3));
    ASSERT_EQ(page.type, 1015u);
    EXPECT_EQ(CtrlWire::ParsePb(page.body).Int(CtrlTexts::ACK), 20);
    for (const std::string& u : CtrlWire::ParsePb(page.body).All(USER_ITEMS_REPLY)) {
        for (const auto& field : CtrlWire::ParsePb(u).bytes) {
            for (const std::string& text : field.second) EXPECT_TRUE(IsUtf8(text));
        }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

// A protobuf text may hold NUL bytes; what the caster keeps never does. A
// name or password that goes on past a NUL is not the one before it: the
// logins are refused, the lookups find nothing, and nothing is stored,
// closed or black-listed under the part before the NUL.
TEST_F(BlackboxCtrlHostileRequest, TextsThatGoOnPastANulAreNotTheTextBeforeIt)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    const std::string nul("\0x", 2);
    const std::string op = CtrlTexts::kOperator, pw = CtrlTexts::kOperatorPassword;
    std::unique_ptr<CtrlCenterClient> late = Centre(false);
    struct Login {
        const char* label;
        std::string name, password;
    } logins[] = {{"name", op + nul, pw}, {"password", op, pw + nul}, {"both", op + nul, pw + nul}};
    int32_t id = 100;
    for (const Login& k : logins) {
        SCOPED_TRACE(k.label);
        EXPECT_EQ(late->Login(k.name, k.password, ++id), 21);
    }
    EXPECT_EQ(late->Login(op, pw, ++id), 20);

    auto ack = [](const Received& r) { return CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK); };
    auto total = [](const Received& r) { return CtrlWire::ParsePb(r.body).Int(TOTAL_COUNT); };
    struct Lookup {
        const char* label;
        uint32_t type;
        Pb body;
    } lookups[] = {
        {"users of a name", 12, UserRequest({Pb().Int(USER_TYPE, 3).Bytes(USER_NAME, "hr1" + nul)})},
        {"a page of users", 15, Pb().Int(1, 0).Int(2, 50).Int(3, 3).Bytes(4, "hr1" + nul)},
        {"a page of bases", 4, PageRequest(0, 50, "HB1" + nul)},
        {"a page of rovers", 6, PageRequest(0, 50, "", "hr1" + nul)},
    };
    for (const Lookup& k : lookups) {
        SCOPED_TRACE(k.label);
        Received r = Ask(centre_.get(), k.type, ++id, k.body);
        ASSERT_EQ(r.type, 1000 + k.type);
        if (k.type == 12 || k.type == 15) {
            EXPECT_EQ(ack(r), 41);
        } else {
            EXPECT_EQ(total(r), 0);
            EXPECT_TRUE(CtrlWire::ParsePb(r.body).All(CtrlTexts::STATION_ITEMS).empty());
        }
    }

    EXPECT_EQ(UserOp(11, ++id, Account("hr2" + nul, "2030/1/1 0:0:0")), 33);
    EXPECT_TRUE(vorlane.WaitForLog("SendAddUserResponse:user of type 3 refused: a text holds a NUL byte"));
    EXPECT_EQ(ListedRoverId("hr2"), 0u);

    // The base and its rover are not the stations named: kicked, removed and
    // black-listed with a NUL behind their names, they go on streaming.
    EXPECT_EQ(Ask(centre_.get(), 9, ++id, RoverRequest("hr1" + nul, "HB1")).type, 1009u);
    EXPECT_EQ(Ask(centre_.get(), 7, ++id, BaseRequest("HB1" + nul)).type, 1007u);
    EXPECT_EQ(Ask(centre_.get(), 8, ++id, BaseRequest("HB1" + nul)).type, 0u) << "a station that is not held is not answered";
    EXPECT_EQ(Ask(centre_.get(), 10, ++id, BaseRequest("HB1" + nul)).type, 1010u);
    EXPECT_EQ(AskJson(centre_.get(), "{\"MsgId\": 1001, \"MsgData\": {\"blacklist\": [\"HB1\\u0000x\"]}}"), "");
    EXPECT_TRUE(vorlane.WaitForLog("RequestProcess_Update_BWList:element 0 of blacklist holds a NUL byte, skipped."));
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "HB1"), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

TEST_F(BlackboxCtrlHostileRequest, ExtremeNumbersInEveryQueryAreAnswered)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    const int64_t lo = INT32_MIN;
    const int64_t hi = INT32_MAX;
    struct Case {
        const char* label;
        uint32_t type;
        Pb body;
    } cases[] = {
        {"base page from the lowest int", 4, PageRequest(static_cast<int>(lo), static_cast<int>(hi))},
        {"base page past the end", 4, PageRequest(static_cast<int>(hi), static_cast<int>(hi), "HB")},
        {"rover page of negatives", 6, PageRequest(-1, -1, "HB1", "hr1")},
        {"rover page from the highest int", 6, PageRequest(static_cast<int>(hi), static_cast<int>(hi))},
        {"user page of every extreme", 15, Pb().Int(1, lo).Int(2, hi).Int(3, 99).Bytes(4, std::string(3000, '%'))},
        {"user page of a negative type", 15, Pb().Int(1, hi).Int(2, lo).Int(3, -5)},
        {"users of the lowest type", 12, UserRequest({Pb().Int(USER_TYPE, lo).Bytes(USER_NAME, std::string(3000, 'n'))})},
        {"rover kick of the highest id", 9, RoverRequest("nobody", "HB1", UINT32_MAX)},
        {"settings read", 16, Pb()},
    };
    int32_t id = 1000;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        Received r = Ask(centre_.get(), k.type, ++id, k.body);
        EXPECT_EQ(r.type, 1000 + k.type);
        EXPECT_EQ(r.id, id);
        // Split lists end with more 0.
        while (r.more == 1 && centre_->NextReply(&r, kReplyMs)) {
        }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
    EXPECT_FALSE(rover_.PeerClosed());
}

TEST_F(BlackboxCtrlHostileRequest, DeletingAnEmptyListIsAnswered62)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    Received r = Ask(centre_.get(), 14, 61, UserRequest({}));
    ASSERT_EQ(r.type, 1014u);
    EXPECT_EQ(r.id, 61);
    EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK), 62);
    // The kicks and the block of an empty list still go unanswered.
    for (uint32_t type : {7u, 8u, 10u}) {
        centre_->Request(type, 62, BaseRequest());
        EXPECT_TRUE(NothingButHeartbeats(centre_.get(), 200, &r)) << "type " << type << " answered " << r.type;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

// ConfigServiceInfo field numbers.
enum { PORT = 2, OFFLINE_TIME = 3, USER_COUNT = 9 };

TEST_F(BlackboxCtrlHostileRequest, ServiceSettingsNoCasterCanRunWithAreRefusedAndNothingIsWritten)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    const std::string path = vorlane.File("VorlaneConfig.json");
    const std::string before = ReadFile(path);
    ASSERT_FALSE(before.empty());
    struct Case {
        const char* label;
        Pb info;
    } refused[] = {
        {"port 0", Pb().Int(PORT, 0).Int(OFFLINE_TIME, 30)},
        {"port -1", Pb().Int(PORT, -1).Int(OFFLINE_TIME, 30)},
        {"port 70000", Pb().Int(PORT, 70000).Int(OFFLINE_TIME, 30)},
        {"negative time-out", Pb().Int(PORT, 6090).Int(OFFLINE_TIME, -30)},
        {"negative user count", Pb().Int(PORT, 6090).Int(OFFLINE_TIME, 30).Int(USER_COUNT, -1)},
        {"no settings at all", Pb()},
    };
    int32_t id = 70;
    for (const Case& k : refused) {
        SCOPED_TRACE(k.label);
        Pb request;
        if (!k.info.Str().empty()) request.Message(1, k.info);
        Received r = Ask(centre_.get(), 17, ++id, request);
        ASSERT_EQ(r.type, 1017u);
        EXPECT_EQ(r.id, id);
        EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK), 40);
        EXPECT_EQ(ReadFile(path), before) << "the file changed";
    }
    EXPECT_TRUE(vorlane.WaitForLog("RequestProcess_ServiceConfig:port 70000"));
    // The live settings stay as the caster started.
    PbFields live = CtrlWire::ParsePb(CtrlWire::ParsePb(Ask(centre_.get(), 16, 80, Pb()).body).Text(3));
    EXPECT_EQ(live.Int(PORT), Port());

    // The edges are settings like any other.
    Received r = Ask(centre_.get(), 17, 81, Pb().Message(1, Pb().Int(PORT, 65535).Int(OFFLINE_TIME, 0)));
    EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK), 20);
    EXPECT_NE(ReadFile(path), before);
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

TEST_F(BlackboxCtrlHostileRequest, JsonNestedPastTheReadersLimitIsAParseError)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    Received r;
    for (const std::string& open : {std::string("["), std::string("{\"a\":")}) {
        std::string json;
        for (int i = 0; i < 3000; ++i) json += open;
        centre_->Request(0, 90, CtrlTexts::JsonRequest(json));
        EXPECT_TRUE(NothingButHeartbeats(centre_.get(), 300, &r)) << "answered with type " << r.type;
    }
    // Inside MsgData, where the lists are changed, the same.
    std::string deep = "{\"MsgId\": 1001, \"MsgData\": {\"blacklist\": ";
    for (int i = 0; i < 3000; ++i) deep += "[";
    centre_->Request(0, 91, CtrlTexts::JsonRequest(deep));
    EXPECT_TRUE(NothingButHeartbeats(centre_.get(), 300, &r));
    EXPECT_TRUE(vorlane.WaitForLog("RequestProcess_CommonMsgResponse:Parse json error."));
    EXPECT_EQ(vorlane.CountInLog("failed ("), 0) << "a library error reached the dispatcher";
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

TEST_F(BlackboxCtrlHostileRequest, AWhiteListOfThousandsOfMountsIsAnsweredWhole)
{
    const int kMounts = 3000;
    for (int i = 0; i < kMounts; ++i) ASSERT_TRUE(vorlane.AddWhiteList("WHITE_MOUNT_" + std::to_string(i)));
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    centre_->Request(0, 95, CtrlTexts::JsonRequest(R"({"MsgId": 1000})"));
    Received r;
    ASSERT_TRUE(centre_->NextReply(&r, kReplyMs)) << "no answer";
    EXPECT_EQ(r.type, 1000u);
    EXPECT_EQ(r.id, 95);
    EXPECT_EQ(r.more, 0);
    EXPECT_GT(r.body.size(), 20000u) << "a list that fits one decode window proves nothing";
    PbFields body = CtrlWire::ParsePb(r.body);
    EXPECT_EQ(body.Int(CtrlTexts::COMMON_ACK), 20);
    Json::Value answer;
    std::string text = body.Text(CtrlTexts::COMMON_MSG);
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &answer, &errors)) << errors;
    const Json::Value& white = answer["MsgData"]["whitelist"];
    ASSERT_TRUE(white.isArray());
    // Every mount listed, the base that logged in beside them.
    std::set<std::string> names;
    for (const Json::Value& n : white) names.insert(n.asString());
    for (int i = 0; i < kMounts; ++i) EXPECT_EQ(names.count("WHITE_MOUNT_" + std::to_string(i)), 1u) << i;
    EXPECT_EQ(names.count("HB1"), 1u);
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

TEST_F(BlackboxCtrlHostileRequest, NamesOfKilobytesAreEchoedCutAtACharacter)
{
    ASSERT_NO_FATAL_FAILURE(StartStreaming());
    const std::string name = WideName(5000);

    // A refused login.
    auto other = Centre(false);
    other->Request(1, 20, Pb().Bytes(1, name).Bytes(2, "wrong"));
    Received r;
    ASSERT_TRUE(other->NextReply(&r, kReplyMs)) << "no answer to the refused login";
    EXPECT_EQ(r.type, 1001u);
    PbFields login = CtrlWire::ParsePb(r.body);
    EXPECT_EQ(login.Int(CtrlTexts::ACK), 21);
    ExpectCutEcho(login.Text(2), name);

    // Kicking and blocking a base of that name.
    for (uint32_t type : {7u, 10u}) {
        SCOPED_TRACE(type);
        r = Ask(centre_.get(), type, 21, BaseRequest(name, 4));
        ASSERT_EQ(r.type, 1000 + type);
        PbFields body = CtrlWire::ParsePb(r.body);
        EXPECT_EQ(body.Int(CtrlTexts::ACK), 20);
        std::vector<std::string> items = body.All(CtrlTexts::STATION_ITEMS);
        ASSERT_EQ(items.size(), 1u);
        ExpectCutEcho(CtrlWire::ParsePb(items[0]).Text(CtrlTexts::BASE_ACCESS_POINT), name);
    }
    // The rover kick echoes two such texts in one item.
    r = Ask(centre_.get(), 9, 22, RoverRequest(name, name, 5));
    ASSERT_EQ(r.type, 1009u);
    std::vector<std::string> items = CtrlWire::ParsePb(r.body).All(CtrlTexts::STATION_ITEMS);
    ASSERT_EQ(items.size(), 1u);
    ExpectCutEcho(CtrlWire::ParsePb(items[0]).Text(CtrlTexts::ROVER_NAME), name);
    ExpectCutEcho(CtrlWire::ParsePb(items[0]).Text(CtrlTexts::ROVER_ACCESS_POINT), name);
    ASSERT_NO_FATAL_FAILURE(ExpectStillStreaming());
}

TEST_F(BlackboxCtrlHostileRequest, NotificationsNameStationsInUtf8WhateverTheyLoggedInWith)
{
    // Logins that check no account: any bytes name a base or a rover.
    vorlane.SetNtrip("base_login_mode", 1);
    vorlane.SetNtrip("rover_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    const std::string mount = "HB\xFF" "9";
    const std::string user = "r\xC3x";
    TestClient base, rover;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), mount, "any"));
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), mount, user, "any"));
    rover.Close();
    base.Close();
    struct Expected {
        uint32_t type;
        int field;
        const char* text;
    } expected[] = {
        {2002, CtrlTexts::BASE_ACCESS_POINT, "HB?9"},
        {2004, CtrlTexts::ROVER_NAME, "r?x"},
        {2005, CtrlTexts::ROVER_NAME, "r?x"},
        {2003, CtrlTexts::BASE_ACCESS_POINT, "HB?9"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.type);
        Received r;
        ASSERT_TRUE(c->WaitFor(e.type, &r, kReplyMs)) << "no notification";
        std::vector<std::string> items = CtrlWire::ParsePb(r.body).All(CtrlTexts::STATION_ITEMS);
        ASSERT_EQ(items.size(), 1u);
        PbFields item = CtrlWire::ParsePb(items[0]);
        EXPECT_EQ(item.Text(e.field), e.text);
        for (const auto& field : item.bytes) {
            for (const std::string& text : field.second) EXPECT_TRUE(IsUtf8(text)) << "field " << field.first;
        }
    }
}

// The "PPP-RTK" base's reports with names of kilobytes.
class BlackboxPppRtkHostileRequest : public CasterTest {
protected:
    // The body of the next management frame on the connection, "" on time-out.
    static std::string NextBody(TestClient* c, uint32_t* type)
    {
        const std::string sync = "\xAA\x41\x13\x42";
        if (c->ReadUntil(sync, kReplyMs).empty()) return "";
        std::string head = sync + c->ReadExactly(25, kReplyMs);
        if (head.size() < 29) return "";
        uint32_t n = CtrlWire::GetU32(head, 8);
        std::string rest = c->ReadExactly(n + 4, kReplyMs);
        if (rest.size() < n + 4) return "";
        std::string raw = head + rest;
        EXPECT_EQ(CtrlWire::GetU32(raw, 29 + n), CtrlWire::Crc32(raw, 0, 29 + n));
        *type = CtrlWire::GetU32(raw, 16);
        return raw.substr(29, n);
    }
};

TEST_F(BlackboxPppRtkHostileRequest, StationAndClientNamesOfKilobytesAreEchoedCut)
{
    vorlane.SetNtrip("base_login_mode", 1);
    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "PPP-RTK", "any"));
    const std::string name = WideName(5000);

    struct Case {
        uint32_t type;
        uint32_t reply;
        Pb body;
    } cases[] = {
        {44, 1045, Pb().Message(2, Pb().Int(1, 7).Bytes(2, name).Bytes(4, "10.0.0.1"))},
        {43, 1044, Pb().Message(2, Pb().Int(1, 7).Bytes(2, name))},
        {45, 1046, Pb().Message(2, Pb().Int(1, 7).Bytes(2, name))},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.type);
        ASSERT_TRUE(base.Send(CtrlWire::Frame(k.type, 30, k.body.Str())));
        uint32_t type = 0;
        std::string body = NextBody(&base, &type);
        ASSERT_FALSE(body.empty()) << "no answer";
        EXPECT_EQ(type, k.reply);
        std::vector<std::string> items = CtrlWire::ParsePb(body).All(2);
        ASSERT_EQ(items.size(), 1u);
        PbFields item = CtrlWire::ParsePb(items[0]);
        EXPECT_EQ(item.Int(1), 7);
        ExpectCutEcho(item.Text(2), name);
    }
}

}  // namespace
