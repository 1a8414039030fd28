// What the generated classes read from the wire and write back, where the
// system relies on it: packed and unpacked lists, open enums, skipped
// fields, UTF-8 checks, presence of sub-messages.
#include "support/HexBytes.h"

#include "VIVOProtoDecoding/CommonMsg.pb.h"
#include "VIVOProtoDecoding/LoginMsg.pb.h"
#include "VIVOProtoDecoding/PPPRAInfoMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"
#include "VIVOProtoDecoding/StationInfoMsg.pb.h"
#include "VIVOProtoDecoding/UpdClientInfoMsg.pb.h"
#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using google::protobuf::Message;

struct ReadCase {
    const char* name;
    std::function<Message*()> make;
    const char* input;
    bool parses;
    const char* written;  // what the parsed message serializes to, after dropping unknown fields
};

template <class M>
Message* New()
{
    return new M;
}

TEST(SchemaWireTest, Reading)
{
    const ReadCase cases[] = {
        {"unpacked list read, written packed", New<PPPRAInfoMsg::PPPRAStationInfo>, "78 05 78 0C", true,
         "7A 02 05 0C"},
        {"unpacked list with a two-byte tag", New<PPPRAInfoMsg::PPPRAStationInfo>, "80 01 05", true, "82 01 01 05"},
        {"enum number outside its values", New<UpdClientInfoMsg::ClientInfo>, "70 07", true, "70 07"},
        {"user type outside 0 to 3", New<UserOpMsg::PageOfUserInfoRequest>, "18 09", true, "18 09"},
        {"known number, other wire type: skipped", New<StationInfoMsg::BaseStationInfo>, "0A 01 41 12 01 58", true,
         "12 01 58"},
        {"unknown field skipped", New<ServiceOpMsg::ServiceStatusMsg>, "08 01 F8 01 02 10 01", true, "08 01 10 01"},
        {"the last copy of a scalar wins", New<LoginMsg::LoginResponse>, "08 14 08 15", true, "08 15"},
        {"a sub-message sent twice is merged", New<UpdClientInfoMsg::ClientInfo>,
         "4A 09 09 00 00 00 00 00 00 F8 3F 4A 09 11 00 00 00 00 00 00 F0 3F", true,
         "4A 12 09 00 00 00 00 00 00 F8 3F 11 00 00 00 00 00 00 F0 3F"},
        {"zero-length body", New<CommonMsg::MessageBody>, "", true, ""},
        {"string that is not UTF-8", New<CommonMsg::MessageBody>, "0A 01 FF", false, ""},
        {"login name that is not UTF-8", New<LoginMsg::LoginRequest>, "0A 02 C3 28", false, ""},
        {"client name that is not UTF-8", New<UpdClientInfoMsg::ClientInfo>, "12 01 FF", false, ""},
        {"station ip that is not UTF-8", New<PPPRAInfoMsg::PPPRAStationInfo>, "22 01 80", false, ""},
        {"truncated string", New<CommonMsg::MessageBody>, "0A 05 61", false, ""},
        {"zero tag", New<CommonMsg::MessageBody>, "10 14 00", false, ""},
        {"end-group tag", New<CommonMsg::MessageBody>, "0C", false, ""},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Message> m(c.make());
        Bytes in = FromHex(c.input);
        ASSERT_EQ(m->ParseFromArray(in.data(), static_cast<int>(in.size())), c.parses);
        if (!c.parses) continue;
        m->DiscardUnknownFields();
        EXPECT_EQ(ToHex(BytesOf(m->SerializeAsString())), ToHex(FromHex(c.written)));
    }
}

TEST(SchemaWireTest, ValuesReadBack)
{
    UpdClientInfoMsg::ClientInfo client;
    ASSERT_TRUE(client.ParseFromString(std::string("\x70\x07", 2)));
    EXPECT_EQ(static_cast<int>(client.client_login_protocol()), 7);
    EXPECT_FALSE(client.has_client_blh());
    EXPECT_EQ(client.client_blh().b(), 0.0);

    StationInfoMsg::RoverStationInfo rover;
    ASSERT_TRUE(rover.ParseFromString(std::string("\x42\x00", 2)));
    EXPECT_TRUE(rover.has_base_station_blh());
    EXPECT_FALSE(rover.has_rover_station_blh());

    UserOpMsg::UserOpResponse reply;
    ASSERT_TRUE(reply.ParseFromString(std::string("\x08\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01", 11)));
    EXPECT_EQ(reply.ack_status(), -1);

    ServiceOpMsg::ConfigServiceResponse config;
    ASSERT_TRUE(config.ParseFromString(std::string("\x08\x14", 2)));
    EXPECT_FALSE(config.has_config_info());
    EXPECT_EQ(config.config_info().port(), 0);

    ServiceOpMsg::WarnConfigRequest warn;
    ASSERT_TRUE(warn.ParseFromString(""));
    EXPECT_EQ(warn.warn_config().url(), "");
}

TEST(SchemaWireTest, TextThatIsNotUtf8IsStillWritten)
{
    CommonMsg::MessageBody body;
    body.set_msg("\xFF");
    EXPECT_EQ(ToHex(BytesOf(body.SerializeAsString())), "0A 01 FF");
}

TEST(SchemaWireTest, ClearingAListKeepsTheOtherFields)
{
    StationInfoMsg::BaseStationInfoResponse reply;
    reply.set_ack_status(20);
    reply.set_total_count(3);
    reply.add_base_station_info()->set_access_point("A");
    reply.add_base_station_info()->set_access_point("B");
    reply.clear_base_station_info();
    EXPECT_EQ(reply.base_station_info_size(), 0);
    EXPECT_EQ(ToHex(BytesOf(reply.SerializeAsString())), "08 14 18 03");
}

struct FieldCase {
    const char* message;
    const char* field;
    int number;
};

// Field names kept as peers spell them.
TEST(SchemaWireTest, SpellingsAndNumbers)
{
    const FieldCase cases[] = {
        {"PPPRAInfoMsg.PPPRAStationInfo", "slove_state", 10},
        {"PPPRAInfoMsg.PPPRAStationInfo", "fix_precentage", 23},
        {"PPPRAInfoMsg.PPPRAStationInfo", "ssr_dlay", 17},
        {"PPPRAInfoMsg.PPPRAStationInfo", "upd_dlay", 18},
        {"PPPRAInfoMsg.PPPRAStationInfo", "source_list", 27},
        {"ServiceOpMsg.WarningConfigInfo", "warnInterval", 2},
        {"ServiceOpMsg.WarningConfigInfo", "enableWarn", 5},
        {"StationInfoMsg.RoverStationInfo", "station_name", 22},
        {"UserOpMsg.UserInfo", "activation_period", 14},
        {"UpdClientInfoMsg.pageofClientInfoRequest", "page_count", 2},
        {"PPPRAInfoMsg.PPPRApageofUserInfoRequest", "start_index", 1},
        {"LoginMsg.LoginRequest", "port", 4},
    };
    const auto* pool = google::protobuf::DescriptorPool::generated_pool();
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(std::string(c.message) + "." + c.field);
        const auto* message = pool->FindMessageTypeByName(c.message);
        ASSERT_NE(message, nullptr);
        const auto* field = message->FindFieldByName(c.field);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->number(), c.number);
    }
    EXPECT_NE(pool->FindEnumValueByName("ServiceOpMsg.PROTOCOL_TYPE_UNKNOW"), nullptr);
    EXPECT_NE(pool->FindEnumValueByName("ServiceOpMsg.STATION_LOGIN_MODE_VERITY"), nullptr);
    EXPECT_NE(pool->FindEnumValueByName("PPPRAInfoMsg.UPD_CLIENT_LOGIN_PROTOCOL_TCP"), nullptr);
    EXPECT_NE(pool->FindEnumValueByName("LoginMsg.USER_ROLE_SUPER"), nullptr);
}

}  // namespace
