// Every example frame and body of the management protocol, encoded byte for
// byte and decoded back: bodies through the generated classes, frames
// through EncodeFrame and DecodeFrame against frames assembled with zlib's
// CRC.
#include "control/FrameDecode.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/FrameFixtures.h"

#include "VIVOProtoDecoding/CommonMsg.pb.h"
#include "VIVOProtoDecoding/LoginMsg.pb.h"
#include "VIVOProtoDecoding/PPPRAInfoMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"
#include "VIVOProtoDecoding/StationInfoMsg.pb.h"
#include "VIVOProtoDecoding/UpdClientInfoMsg.pb.h"
#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using google::protobuf::Message;
using google::protobuf::util::MessageDifferencer;
typedef std::function<std::unique_ptr<Message>()> Builder;

const int64_t BODY_ONLY = -1;

struct ByteVector {
    const char* name;
    Builder build;
    const char* body;
    int64_t type;             // BODY_ONLY: no frame carries this message alone
    int32_t id;
    const char* frame = "";  // the whole frame, where it is given
};

template <class M>
Builder Make(std::function<void(M*)> fill)
{
    return [fill] {
        std::unique_ptr<M> m(new M);
        fill(m.get());
        return std::unique_ptr<Message>(std::move(m));
    };
}

void LoginReply(LoginMsg::LoginResponse* m, int ack, LoginMsg::LOGIN_USER_ROLE role)
{
    m->set_ack_status(ack);
    m->set_login_name("abc");
    m->set_user_role(role);
}

// The PPP-RA replies to station 3, "abc".
void StationReply(PPPRAInfoMsg::PPPRAStationInfoResponse* m)
{
    m->set_ack_status(1);
    PPPRAInfoMsg::PPPRAStationInfo* s = m->add_client_info();
    s->set_station_id(3);
    s->set_station_name("abc");
}

const ByteVector kVectors[] = {
    {"heartbeat",
     Make<ServiceOpMsg::ServiceStatusMsg>([](ServiceOpMsg::ServiceStatusMsg* m) {
         m->set_status(1);
         m->set_heart_beat(1);
     }),
     "08 01 10 01", 2011, -1,
     "AA 41 13 42 1D 00 00 00 04 00 00 00 FF FF FF FF DB 07 00 00 00 00 00 00 00 D1 D4 38 69"
     " 08 01 10 01 1F 60 B3 F9"},
    {"request for all bases, empty body",
     Make<StationInfoMsg::BaseStationInfoRequest>([](StationInfoMsg::BaseStationInfoRequest*) {}), "", 3, 0},
    {"configuration reply with every field at its default",
     Make<ServiceOpMsg::ConfigServiceResponse>([](ServiceOpMsg::ConfigServiceResponse*) {}), "", 1017, 12},
    {"login request",
     Make<LoginMsg::LoginRequest>([](LoginMsg::LoginRequest* m) {
         m->set_login_name("abc");
         m->set_port(8097);
     }),
     "0A 03 61 62 63 20 A1 3F", 1, 5},
    {"login accepted",
     Make<LoginMsg::LoginResponse>([](LoginMsg::LoginResponse* m) { LoginReply(m, 20, LoginMsg::USER_ROLE_SUPER); }),
     "08 14 12 03 61 62 63 18 01", 1001, 5},
    {"login refused",
     Make<LoginMsg::LoginResponse>([](LoginMsg::LoginResponse* m) { LoginReply(m, 21, LoginMsg::USER_ROLE_SUPER); }),
     "08 15 12 03 61 62 63 18 01", 1001, 5},
    {"logout reply, common role left out",
     Make<LoginMsg::LoginResponse>([](LoginMsg::LoginResponse* m) { LoginReply(m, 30, LoginMsg::USER_ROLE_COMMON); }),
     "08 1E 12 03 61 62 63", 1001, 6},
    {"JSON reply",
     Make<CommonMsg::MessageBody>([](CommonMsg::MessageBody* m) {
         m->set_msg("{}");
         m->set_ack_status(20);
     }),
     "0A 02 7B 7D 10 14", 1000, 9},
    {"JSON reply without text",
     Make<CommonMsg::MessageBody>([](CommonMsg::MessageBody* m) { m->set_ack_status(20); }), "10 14", 1000, 9},
    {"client-info reply",
     Make<UpdClientInfoMsg::ClientInfoResponse>([](UpdClientInfoMsg::ClientInfoResponse* m) {
         m->set_ack_status(1);
         UpdClientInfoMsg::ClientInfo* c = m->add_client_info();
         c->set_client_id(7);
         c->set_client_name("abc");
     }),
     "08 01 12 07 08 07 12 03 61 62 63", 1044, 1},
    {"client over TCP, online",
     Make<UpdClientInfoMsg::ClientInfo>([](UpdClientInfoMsg::ClientInfo* m) {
         m->set_client_login_protocol(UpdClientInfoMsg::UPD_CLIENT_LOGIN_PROTOCOL_TCP);
         m->set_is_online(true);
     }),
     "70 01 78 01", BODY_ONLY, 0},
    {"client over NTRIP, offline: no bytes",
     Make<UpdClientInfoMsg::ClientInfo>([](UpdClientInfoMsg::ClientInfo* m) {
         m->set_client_login_protocol(UpdClientInfoMsg::UPD_CLIENT_LOGIN_PROTOCOL_NTRIP);
         m->set_is_online(false);
     }),
     "", BODY_ONLY, 0},
    {"client position with b 1.5",
     Make<UpdClientInfoMsg::ClientInfo>([](UpdClientInfoMsg::ClientInfo* m) { m->mutable_client_blh()->set_b(1.5); }),
     "4A 09 09 00 00 00 00 00 00 F8 3F", BODY_ONLY, 0},
    {"client position present, all zero",
     Make<UpdClientInfoMsg::ClientInfo>([](UpdClientInfoMsg::ClientInfo* m) { m->mutable_client_blh(); }), "4A 00",
     BODY_ONLY, 0},
    {"login protocol outside the enum",
     Make<UpdClientInfoMsg::ClientInfo>([](UpdClientInfoMsg::ClientInfo* m) {
         m->set_client_login_protocol(static_cast<UpdClientInfoMsg::UPD_CLIENT_LOGIN_PROTOCOL>(7));
     }),
     "70 07", BODY_ONLY, 0},
    {"station upsert reply", Make<PPPRAInfoMsg::PPPRAStationInfoResponse>(StationReply),
     "08 01 12 07 08 03 12 03 61 62 63", 1045, 1},
    {"station removal reply", Make<PPPRAInfoMsg::PPPRAStationInfoResponse>(StationReply),
     "08 01 12 07 08 03 12 03 61 62 63", 1046, 1},
    {"station with packed satellite lists",
     Make<PPPRAInfoMsg::PPPRAStationInfo>([](PPPRAInfoMsg::PPPRAStationInfo* m) {
         m->set_station_id(3);
         m->add_prn_used_sat(5);
         m->add_prn_used_sat(12);
         m->add_prn_fixed_sat(5);
     }),
     "08 03 7A 02 05 0C 82 01 01 05", BODY_ONLY, 0},
    {"negative satellite takes ten bytes in the packed run",
     Make<PPPRAInfoMsg::PPPRAStationInfo>([](PPPRAInfoMsg::PPPRAStationInfo* m) { m->add_prn_used_sat(-1); }),
     "7A 0A FF FF FF FF FF FF FF FF FF 01", BODY_ONLY, 0},
    {"pdop behind a two-byte tag",
     Make<PPPRAInfoMsg::PPPRAStationInfo>([](PPPRAInfoMsg::PPPRAStationInfo* m) { m->set_pdop(1.0); }),
     "A9 01 00 00 00 00 00 00 F0 3F", BODY_ONLY, 0},
    {"source list behind a two-byte tag",
     Make<PPPRAInfoMsg::PPPRAStationInfo>([](PPPRAInfoMsg::PPPRAStationInfo* m) { m->set_source_list("x"); }),
     "DA 01 01 78", BODY_ONLY, 0},
    {"base online notification: only the mount point",
     Make<StationInfoMsg::BaseStationInfoResponse>([](StationInfoMsg::BaseStationInfoResponse* m) {
         m->set_ack_status(20);
         m->add_base_station_info()->set_access_point("RTCM");
     }),
     "08 14 12 06 12 04 52 54 43 4D", 2002, -1},
    {"rover online notification: only user name and mount point",
     Make<StationInfoMsg::RoverStationInfoResponse>([](StationInfoMsg::RoverStationInfoResponse* m) {
         m->set_ack_status(20);
         StationInfoMsg::RoverStationInfo* r = m->add_rover_station_info();
         r->set_rover_station_name("u1");
         r->set_access_point("M");
     }),
     "08 14 12 07 12 02 75 31 1A 01 4D", 2004, -1},
    {"rover whose base is offline: zero base position still present",
     Make<StationInfoMsg::RoverStationInfo>(
         [](StationInfoMsg::RoverStationInfo* m) { m->mutable_base_station_blh(); }),
     "42 00", BODY_ONLY, 0},
    {"int32 -1 as a ten-byte varint",
     Make<UserOpMsg::UserOpResponse>([](UserOpMsg::UserOpResponse* m) { m->set_ack_status(-1); }),
     "08 FF FF FF FF FF FF FF FF FF 01", BODY_ONLY, 0},
    {"ordinary user: common role and activation 0 left out",
     Make<UserOpMsg::UserInfo>([](UserOpMsg::UserInfo* m) {
         m->set_user_name("a");
         m->set_user_role(UserOpMsg::USER_ROLE_COMMON);
         m->set_user_type(UserOpMsg::USER_TYPE_UNKNOWN);
     }),
     "1A 01 61", BODY_ONLY, 0},
    {"default service configuration: no bytes",
     Make<ServiceOpMsg::ConfigServiceInfo>([](ServiceOpMsg::ConfigServiceInfo* m) {
         m->set_protocol_type(ServiceOpMsg::PROTOCOL_TYPE_UNKNOW);
         m->set_base_login_mode(ServiceOpMsg::STATION_LOGIN_MODE_VERITY);
     }),
     "", BODY_ONLY, 0},
};

class ByteVectorTest : public ::testing::TestWithParam<ByteVector> {};

TEST_P(ByteVectorTest, EncodesByteForByteAndDecodesBack)
{
    const ByteVector& v = GetParam();
    std::unique_ptr<Message> built = v.build();
    Bytes body = FromHex(v.body);
    EXPECT_EQ(ToHex(Serialized(*built)), ToHex(body));
    EXPECT_EQ(built->ByteSizeLong(), body.size());

    std::unique_ptr<Message> parsed(built->New());
    ASSERT_TRUE(parsed->ParseFromArray(body.data(), static_cast<int>(body.size())));
    EXPECT_TRUE(MessageDifferencer::Equals(*parsed, *built)) << parsed->ShortDebugString();
    EXPECT_EQ(ToHex(Serialized(*parsed)), ToHex(body));

    if (v.type == BODY_ONLY) return;
    const uint32_t type = static_cast<uint32_t>(v.type);
    Bytes expected = ReferenceFrame(type, v.id, body);
    if (*v.frame) {
        EXPECT_EQ(ToHex(expected), ToHex(FromHex(v.frame)));
    }

    unsigned char buffer[FRAME_SEND_BUFFER_SIZE] = {};
    size_t length = 0;
    ASSERT_EQ(EncodeFrame(type, v.id, built.get(), buffer, sizeof(buffer), &length), 0);
    Bytes frame(buffer, buffer + length);
    EXPECT_EQ(ToHex(frame), ToHex(expected));
    // A frame's CRC over its header, and over everything with it, is 0.
    EXPECT_EQ(ReferenceCrc(frame.data(), 29), 0u);
    EXPECT_EQ(ReferenceCrc(frame.data(), frame.size()), 0u);
    if (body.empty()) {
        EXPECT_EQ(ToHex(Bytes(frame.end() - 4, frame.end())), "00 00 00 00");
    }

    RVZ::RVZProtoMsg* unit = nullptr;
    size_t frameLength = 0;
    ASSERT_EQ(DecodeFrame(frame.data(), frame.size(), &unit, &frameLength), STATUS_OK);
    std::unique_ptr<RVZ::RVZProtoMsg> owned(unit);
    EXPECT_EQ(frameLength, frame.size());
    EXPECT_EQ(unit->type, type);
    EXPECT_EQ(unit->id, v.id);
    ASSERT_NE(unit->body, nullptr);
    EXPECT_EQ(unit->body->GetDescriptor(), built->GetDescriptor());
    EXPECT_TRUE(MessageDifferencer::Equals(*unit->body, *built));
}

std::string VectorName(const ::testing::TestParamInfo<ByteVector>& info)
{
    std::string name;
    for (const char* p = info.param.name; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(ManagementProtocol, ByteVectorTest, ::testing::ValuesIn(kVectors), VectorName);

}  // namespace
