// The message-type table: body classes and replies of every type, the id
// rule, the header words each unit keeps, and the units themselves.
#include "control/FrameDecode.h"
#include "control/MessageTypeTable.h"
#include "control/ProtobufLog.h"
#include "control/FrameFixtures.h"

#include "support/LogCapture.h"

#include "VIVOProtoDecoding/PPPRAInfoMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"
#include "VIVOProtoDecoding/StationInfoMsg.pb.h"
#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace {

// The unit of a frame assembled as a peer writes it, and DecodeFrame's status.
std::unique_ptr<RVZ::RVZProtoMsg> DecodeUnit(const Bytes& frame, int* status = nullptr)
{
    RVZ::RVZProtoMsg* unit = nullptr;
    size_t length = 0;
    int result = DecodeFrame(frame.data(), frame.size(), &unit, &length);
    if (status) *status = result;
    return std::unique_ptr<RVZ::RVZProtoMsg>(unit);
}

RVZ::RVZProtoMsg* Decode(uint32_t type, int32_t id, const char* bodyHex)
{
    return DecodeUnit(ReferenceFrame(type, id, FromHex(bodyHex))).release();
}

struct TypeRow {
    uint32_t first;
    uint32_t last;
    const char* bodyClass;
    int32_t reply;
};

// Written out from the protocol's table, independently of the code's.
const TypeRow kExpected[] = {
    {0, 0, "CommonMsg.MessageBody", 1000},
    {1, 2, "LoginMsg.LoginRequest", 1001},
    {3, 3, "StationInfoMsg.BaseStationInfoRequest", 1003},
    {4, 4, "StationInfoMsg.PageOfBaseStationInfoRequest", 1004},
    {5, 5, "StationInfoMsg.RoverStationInfoRequest", 1005},
    {6, 6, "StationInfoMsg.PageOfRoverStationInfoRequest", 1006},
    {7, 7, "StationInfoMsg.BaseStationInfoRequest", 1007},
    {8, 8, "StationInfoMsg.BaseStationInfoRequest", 1008},
    {9, 9, "StationInfoMsg.RoverStationInfoRequest", 1009},
    {10, 10, "StationInfoMsg.BaseStationInfoRequest", 1010},
    {11, 11, "UserOpMsg.UserOpRequest", 1011},
    {12, 12, "UserOpMsg.UserOpRequest", 1012},
    {13, 13, "UserOpMsg.UserOpRequest", 1013},
    {14, 14, "UserOpMsg.UserOpRequest", 1014},
    {15, 15, "UserOpMsg.PageOfUserInfoRequest", 1015},
    {16, 16, "ServiceOpMsg.ConfigServiceRequest", 1016},
    {17, 17, "ServiceOpMsg.ConfigServiceRequest", 1017},
    {18, 18, "ServiceOpMsg.ConfigServiceRequest", -1},
    {21, 21, "ServiceOpMsg.ConfigServiceRequest", 1020},
    {22, 22, "UpdClientInfoMsg.pageofClientInfoRequest", -1},
    {23, 28, "UpdClientInfoMsg.ClientInfoRequest", -1},
    {29, 29, "UpdClientInfoMsg.GetUpdCalculateParaRequest", -1},
    {30, 30, "UpdClientInfoMsg.SaveUpdCalculateParaRequest", -1},
    {31, 31, "UpdClientInfoMsg.RestartUpdServerRequest", -1},
    {32, 32, "PPPRAInfoMsg.PPPRApageofStationInfoRequest", -1},
    {33, 33, "PPPRAInfoMsg.PPPRApageofUserInfoRequest", -1},
    {34, 41, "PPPRAInfoMsg.PPPRAStationRequest", -1},
    {42, 42, "StationInfoMsg.RoverStationInfoRequest", -1},
    {43, 43, "UpdClientInfoMsg.ClientInfoRequest", 1044},
    {44, 44, "PPPRAInfoMsg.PPPRAStationRequest", 1045},
    {45, 45, "PPPRAInfoMsg.PPPRAStationRequest", 1046},
    {46, 46, "ServiceOpMsg.WarnConfigRequest", 1021},
    {47, 47, "ServiceOpMsg.WarnConfigRequest", 1022},
    {1000, 1000, "CommonMsg.MessageBody", -1},
    {1001, 1001, "LoginMsg.LoginResponse", -1},
    {1003, 1004, "StationInfoMsg.BaseStationInfoResponse", -1},
    {1005, 1006, "StationInfoMsg.RoverStationInfoResponse", -1},
    {1007, 1008, "StationInfoMsg.BaseStationInfoResponse", -1},
    {1009, 1009, "StationInfoMsg.RoverStationInfoResponse", -1},
    {1010, 1010, "StationInfoMsg.BaseStationInfoResponse", -1},
    {1011, 1014, "UserOpMsg.UserOpResponse", -1},
    {1015, 1015, "UserOpMsg.PageOfUserInfoResponse", -1},
    {1016, 1017, "ServiceOpMsg.ConfigServiceResponse", -1},
    {1020, 1020, "ServiceOpMsg.ConfigServiceResponse", -1},
    {1021, 1022, "ServiceOpMsg.WarnConfigResponse", -1},
    {1023, 1029, "UpdClientInfoMsg.ClientInfoResponse", -1},
    {1030, 1030, "UpdClientInfoMsg.GetUpdCalculateParaResponse", -1},
    {1031, 1031, "UpdClientInfoMsg.SaveUpdCalculateParaResponse", -1},
    {1032, 1032, "UpdClientInfoMsg.RestartUpdServerResponse", -1},
    {1033, 1033, "PPPRAInfoMsg.PPPRAStationInfoResponse", -1},
    {1034, 1042, "PPPRAInfoMsg.PPPRAUserInfoResponse", -1},
    {1043, 1043, "StationInfoMsg.RoverStationInfoResponse", -1},
    {1044, 1044, "UpdClientInfoMsg.ClientInfoResponse", -1},
    {1045, 1046, "PPPRAInfoMsg.PPPRAStationInfoResponse", -1},
    {2000, 2000, "StationInfoMsg.BaseStationInfoResponse", -1},
    {2002, 2003, "StationInfoMsg.BaseStationInfoResponse", -1},
    {2004, 2005, "StationInfoMsg.RoverStationInfoResponse", -1},
    {2009, 2009, "UserOpMsg.UserOpResponse", -1},
    {2010, 2010, "UpdClientInfoMsg.UpdLogInfoNotify", -1},
    {2011, 2011, "ServiceOpMsg.ServiceStatusMsg", -1},
};

TEST(MessageTypeTableTest, EveryTypeHasItsBodyClassAndReply)
{
    std::map<uint32_t, const TypeRow*> expected;
    for (const TypeRow& row : kExpected)
        for (uint32_t t = row.first; t <= row.last; ++t) expected[t] = &row;

    for (uint32_t type = 0; type < 3000; ++type) {
        SCOPED_TRACE(type);
        auto it = expected.find(type);
        const MessageTypeEntry* entry = MessageType_Find(type);
        if (it == expected.end()) {
            EXPECT_EQ(entry, nullptr);
            continue;
        }
        ASSERT_NE(entry, nullptr);
        std::unique_ptr<google::protobuf::Message> body(entry->newBody());
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(body->GetDescriptor()->full_name(), it->second->bodyClass);
        EXPECT_EQ(entry->replyType, it->second->reply);

        // Every type decodes from a frame with an empty body under its id.
        int32_t id = type >= 2000 && type <= 2005 ? -1 : 0;
        std::unique_ptr<RVZ::RVZProtoMsg> unit = DecodeUnit(ReferenceFrame(type, id, Bytes()));
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(unit->GetType(), static_cast<int>(type));
        EXPECT_EQ(unit->body->GetDescriptor()->full_name(), it->second->bodyClass);
    }
    EXPECT_EQ(MessageType_Find(UINT32_MAX), nullptr);
}

struct IdCase {
    uint32_t type;
    int32_t id;
    bool accepted;
};

TEST(MessageTypeTableTest, IdRule)
{
    const IdCase cases[] = {
        {3, 0, true},       {3, -1, false},     {0, INT32_MAX, true}, {1001, -1, false}, {1045, 1, true},
        {2000, -1, true},   {2000, 0, false},   {2002, 7, false},     {2002, -1, true},  {2003, -2, false},
        {2004, -1, true},   {2005, 5, false},   {2009, -5, true},     {2010, 3, true},   {2011, 7, true},
        {2011, -1, true},   {44, INT32_MIN, false},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " id " + std::to_string(c.id));
        int status = -1;
        std::unique_ptr<RVZ::RVZProtoMsg> unit = DecodeUnit(ReferenceFrame(c.type, c.id, Bytes()), &status);
        EXPECT_EQ(status, c.accepted ? STATUS_OK : STATUS_FORMAT_ERROR);
        if (unit) {
            EXPECT_EQ(unit->id, c.id);
        }
    }
}

struct WordsCase {
    uint32_t type;
    uint8_t more;
    uint32_t extra;
};

TEST(MessageTypeTableTest, UnitsKeepTheHeaderWordsOfSplitReplies)
{
    // Every frame carries more 1 and extra 5; the unit keeps what its type keeps.
    const WordsCase cases[] = {
        {1003, 1, 5}, {1004, 1, 5}, {1005, 1, 5}, {1006, 1, 5}, {1015, 1, 5}, {1043, 1, 5},
        {1007, 0, 0}, {1009, 0, 0}, {1001, 0, 0}, {1012, 0, 0}, {1023, 1, 0}, {1030, 1, 0},
        {1033, 1, 0}, {1034, 1, 0}, {1044, 1, 0}, {1046, 1, 0}, {3, 0, 0},    {2011, 0, 0},
    };
    for (const WordsCase& c : cases) {
        SCOPED_TRACE(c.type);
        int32_t id = c.type == 2011 ? -1 : 0;
        std::unique_ptr<RVZ::RVZProtoMsg> unit = DecodeUnit(ReferenceFrame(c.type, id, Bytes(), 1, 5));
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(unit->more, c.more);
        EXPECT_EQ(unit->extra, c.extra);
    }
}

TEST(MessageTypeTableTest, BodiesThatAreNotUtf8GiveNoUnit)
{
    LogCapture log;
    ProtobufLog_ToDailyLog();
    EXPECT_EQ(Decode(0, 1, "0A 02 7B FF"), nullptr);                     // JSON text
    EXPECT_EQ(Decode(1, 1, "0A 02 C3 28"), nullptr);                     // login name
    EXPECT_EQ(Decode(43, 1, "12 05 08 01 12 01 FF"), nullptr);           // client_name
    EXPECT_EQ(Decode(44, 1, "12 05 08 01 22 01 FF"), nullptr);           // station_ip
    std::unique_ptr<RVZ::RVZProtoMsg> ok(Decode(44, 1, "12 05 08 01 22 01 78"));
    ASSERT_NE(ok, nullptr);
    auto* request = static_cast<PPPRAInfoMsg::PPPRAStationRequest*>(ok->body);
    ASSERT_EQ(request->client_info_size(), 1);
    EXPECT_EQ(request->client_info(0).station_ip(), "x");
    // The runtime names the field in the daily log, not on a console.
    EXPECT_TRUE(log.Has("[warn] protobuf ")) << log.Text();
    EXPECT_TRUE(log.Has("PPPRAInfoMsg.PPPRAStationInfo.station_ip")) << log.Text();
}

TEST(MessageTypeTableTest, AccountsWhoseTextsAreNotUtf8AreHandedOnMarked)
{
    // UserOpRequest {user_info {user_type 3, user_name "a\xFF"}}.
    for (uint32_t type : {11u, 13u}) {
        SCOPED_TRACE(type);
        std::unique_ptr<RVZ::RVZProtoMsg> unit(Decode(type, 4, "0A 06 10 03 1A 02 61 FF"));
        ASSERT_NE(unit, nullptr);
        EXPECT_TRUE(unit->textNotUtf8);
        auto* request = dynamic_cast<UserOpMsg::UserOpRequest*>(unit->body);
        ASSERT_NE(request, nullptr);
        ASSERT_EQ(request->user_info_size(), 1);
        EXPECT_EQ(request->user_info(0).user_type(), 3);
        EXPECT_EQ(request->user_info(0).user_name(), "a\xFF");
        std::unique_ptr<Tarnek::LogRoot> clone(unit->Clone());
        EXPECT_TRUE(static_cast<RVZ::RVZProtoMsg*>(clone.get())->textNotUtf8);

        std::unique_ptr<RVZ::RVZProtoMsg> clean(Decode(type, 4, "0A 06 10 03 1A 02 61 62"));
        ASSERT_NE(clean, nullptr);
        EXPECT_FALSE(clean->textNotUtf8);
        // Broken for another reason: no unit, as for any type.
        EXPECT_EQ(Decode(type, 4, "0A 09 10 03 1A 02 61 FF"), nullptr);
    }
    // Listing and deleting have nothing to refuse: such a body gives no unit.
    EXPECT_EQ(Decode(12, 4, "0A 06 10 03 1A 02 61 FF"), nullptr);
    EXPECT_EQ(Decode(14, 4, "0A 06 10 03 1A 02 61 FF"), nullptr);
}

TEST(MessageTypeTableTest, UnknownFieldsAreDropped)
{
    // Field 3 is not declared in the heartbeat; field 2 comes as a string.
    std::unique_ptr<RVZ::RVZProtoMsg> unit(Decode(2011, -1, "08 01 18 05 12 01 41"));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(ToHex(Serialized(*unit->body)), "08 01");
    std::unique_ptr<Tarnek::LogRoot> clone(unit->Clone());
    EXPECT_EQ(ToHex(Serialized(*static_cast<RVZ::RVZProtoMsg*>(clone.get())->body)), "08 01");
}

TEST(MessageTypeTableTest, UnitOfAnEmptyRequest)
{
    std::unique_ptr<RVZ::RVZProtoMsg> unit(Decode(3, 0, ""));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->GetKind(), 22000);
    EXPECT_EQ(unit->GetType(), 3);
    EXPECT_EQ(unit->id, 0);
    auto* body = dynamic_cast<StationInfoMsg::BaseStationInfoRequest*>(unit->body);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->ByteSizeLong(), 0u);
}

TEST(MessageTypeTableTest, CloneIsEqualAndIndependent)
{
    std::unique_ptr<RVZ::RVZProtoMsg> unit(Decode(1003, 4, "08 14 12 06 12 04 52 54 43 4D 18 09"));
    ASSERT_NE(unit, nullptr);
    unit->more = 1;
    unit->extra = 5;
    std::unique_ptr<RVZ::RVZProtoMsg> clone(static_cast<RVZ::RVZProtoMsg*>(unit->Clone()));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetKind(), 22000);
    EXPECT_EQ(clone->id, 4);
    EXPECT_EQ(clone->type, 1003u);
    EXPECT_EQ(clone->more, 1);
    EXPECT_EQ(clone->extra, 5u);
    ASSERT_NE(clone->body, nullptr);
    EXPECT_NE(clone->body, unit->body);
    EXPECT_EQ(clone->body->GetDescriptor(), unit->body->GetDescriptor());
    EXPECT_EQ(Serialized(*clone->body), Serialized(*unit->body));

    clone.reset();
    auto* body = static_cast<StationInfoMsg::BaseStationInfoResponse*>(unit->body);
    EXPECT_EQ(body->base_station_info(0).access_point(), "RTCM");
    EXPECT_EQ(body->total_count(), 9);

    RVZ::RVZProtoMsg bare;
    std::unique_ptr<RVZ::RVZProtoMsg> bareClone(static_cast<RVZ::RVZProtoMsg*>(bare.Clone()));
    EXPECT_EQ(bareClone->body, nullptr);
    EXPECT_EQ(bareClone->type, UINT32_MAX);
    EXPECT_EQ(bareClone->id, -1);
}

}  // namespace
