// What the control port meets from a broken or hostile peer: garbage, a
// flipped bit, a header that claims a huge body, JSON of every wrong shape.
// None of it is answered, and both ports go on serving.
#include "blackbox/CtrlFixture.h"

namespace {

using namespace CtrlTexts;
using CtrlWire::Pb;
using CtrlWire::Received;

class BlackboxCtrlHostile : public CtrlTest {
protected:
    // The same connection still answers a version request, and the caster
    // port a source table.
    void ExpectBothPortsServe(CtrlCenterClient* c, int32_t id)
    {
        c->Request(21, id, Pb());
        Received r;
        ASSERT_TRUE(c->NextNonHeartbeat(&r, kReplyMs)) << "no version reply after the bad input";
        EXPECT_EQ(r.type, 1020u);
        EXPECT_EQ(r.id, id);
        EXPECT_NE(RawPeers::FetchSourceTable(Port()).find("ENDSOURCETABLE"), std::string::npos);
    }
};

TEST_F(BlackboxCtrlHostile, BrokenFramesAreDroppedAndTheConnectionGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    std::string good = CtrlWire::Frame(21, 3, "");
    std::string flipped = good;
    flipped[29 - 5] ^= 0x01;  // in the header, under its CRC
    std::string flippedBody = CtrlWire::Frame(12, 4, Pb().Message(1, Pb().Varint(2, 3)).Str());
    flippedBody[30] ^= 0x40;
    struct Case {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"garbage", std::string(3000, '\x5A') + "\xAA\x41\x13" + std::string(100, '\0')},
        {"flipped header bit", flipped},
        {"flipped body bit", flippedBody},
        {"huge body length", CtrlWire::Frame(21, 5, "", 0, 0, 0x7FFFFFF0LL)},
        {"body not of its class", CtrlWire::Frame(1, 6, std::string("\xFF\xFF\xFF", 3))},
        {"unknown type", CtrlWire::Frame(30, 7, "")},
        {"a notification sent back", CtrlWire::Frame(2011, -1, std::string("\x08\x01", 2))},
    };
    int32_t id = 100;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        ASSERT_TRUE(c->Send(k.bytes));
        Received r;
        EXPECT_TRUE(NothingButHeartbeats(c.get(), 300, &r)) << "answered with type " << r.type;
        ASSERT_NO_FATAL_FAILURE(ExpectBothPortsServe(c.get(), ++id));
    }
}

TEST_F(BlackboxCtrlHostile, JsonOfEveryWrongShapeIsRefusedWithItsLogLine)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    const char* notJson[] = {"", "{", "not json at all", "{\"MsgId\": }"};
    const char* wrongShape[] = {
        "5",
        "[1000]",
        "\"MsgId\"",
        "{\"MsgId\": \"1000\"}",
        "{\"MsgId\": 1000.5}",
        "{\"MsgId\": 1001, \"MsgData\": 5}",
        "{\"MsgId\": 1001, \"MsgData\": [\"A\"]}",
        "{\"MsgId\": 1001, \"MsgData\": \"text\"}",
        "{\"MsgId\": 99999999999}",
    };
    // The right shape with odd contents: answered, and nothing breaks.
    const char* oddContents[] = {
        "{\"MsgId\": 1001, \"MsgData\": {\"blacklist\": 5}}",
        "{\"MsgId\": 1001, \"MsgData\": {\"blacklist\": [[\"A\"], {\"B\": 1}, null, 7, true]}}",
        "{\"MsgId\": 1002, \"MsgData\": {\"whitelist\": {\"x\": [\"A\"]}, \"other\": [1, 2]}}",
        "{\"MsgId\": 1001, \"MsgData\": {}}",
    };
    Received r;
    for (const char* json : notJson) {
        c->Request(0, 1, JsonRequest(json));
        EXPECT_TRUE(NothingButHeartbeats(c.get(), 200, &r)) << json;
    }
    EXPECT_TRUE(vorlane.WaitForLog("RequestProcess_CommonMsgResponse:Parse json error."));
    for (const char* json : wrongShape) {
        c->Request(0, 2, JsonRequest(json));
        EXPECT_TRUE(NothingButHeartbeats(c.get(), 200, &r)) << json;
    }
    EXPECT_TRUE(vorlane.WaitForLog("RequestProcess_CommonMsgResponse:Received json format is wrong."));
    EXPECT_GE(vorlane.CountInLogAtLeast("Received json format is wrong.", 9), 9);
    for (const char* json : oddContents) EXPECT_EQ(AskJson(c.get(), json), "") << json;
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "7"), 1) << "a number names the station of its text";
    ASSERT_NO_FATAL_FAILURE(ExpectBothPortsServe(c.get(), 50));
}

}  // namespace
