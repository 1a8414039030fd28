// The PPP-RA table and the answers to the "PPP-RTK" base: 44 adds or
// replaces a station, 43 updates only a known one and is always answered,
// 45 answers only a removal that happened, every reply with frame id 1.
#include "control/FrameDecode.h"
#include "control/PppRaTable.h"
#include "control/PppRtkHandlers.h"
#include "control/RVZProtoMsg.h"

#include "VIVOProtoDecoding/PPPRAInfoMsg.pb.h"
#include "VIVOProtoDecoding/UpdClientInfoMsg.pb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

PppRaRecord RecordOf(int32_t id, int32_t port)
{
    PppRaRecord r;
    memset(&r, 0, sizeof r);
    r.stationId = id;
    r.stationPort = port;
    return r;
}

TEST(PppRaTableTest, UpsertReplacesUpdateNeedsARecordRemoveHandsItOver)
{
    std::unique_ptr<PppRaTable> table(PppRaTable::Create());
    PppRaTable::Lock();
    PppRaRecord first = RecordOf(7, 100);
    first.idCount = 3;  // never stored
    first.ids[0] = 9;
    EXPECT_TRUE(table->Upsert(&first));
    PppRaRecord second = RecordOf(7, 200);
    EXPECT_TRUE(table->Upsert(&second));
    EXPECT_EQ(1, table->Count());
    ASSERT_NE(nullptr, table->Find(7));
    EXPECT_EQ(200, table->Find(7)->stationPort);
    EXPECT_EQ(0, table->Find(7)->idCount);

    PppRaRecord other = RecordOf(8, 300);
    EXPECT_FALSE(table->Update(&other));
    EXPECT_EQ(nullptr, table->Find(8));
    PppRaRecord changed = RecordOf(7, 400);
    EXPECT_TRUE(table->Update(&changed));
    EXPECT_EQ(400, table->Find(7)->stationPort);

    EXPECT_EQ(nullptr, table->Remove(8));
    std::unique_ptr<PppRaRecord> removed = table->Remove(7);
    ASSERT_NE(nullptr, removed);
    EXPECT_EQ(400, removed->stationPort);
    EXPECT_EQ(nullptr, table->Find(7));
    EXPECT_FALSE(table->Upsert(nullptr));
    EXPECT_FALSE(table->Update(nullptr));
    PppRaTable::Unlock();
}

TEST(PppRaTableTest, GrowsAndKeepsEveryStation)
{
    std::unique_ptr<PppRaTable> table(PppRaTable::Create());
    PppRaTable::Lock();
    for (int32_t id = -50; id < 1000; ++id) {
        PppRaRecord r = RecordOf(id, id * 2);
        ASSERT_TRUE(table->Upsert(&r));
    }
    EXPECT_EQ(1050, table->Count());
    for (int32_t id = -50; id < 1000; ++id) {
        ASSERT_NE(nullptr, table->Find(id)) << id;
        EXPECT_EQ(id * 2, table->Find(id)->stationPort);
    }
    PppRaTable::Unlock();
}

TEST(PppRaTableTest, NewStationsPastTheCapAreRefusedKnownOnesStillChange)
{
    std::unique_ptr<PppRaTable> table(PppRaTable::Create());
    PppRaTable::Lock();
    for (int32_t id = 0; id < PPPRA_MAX_STATIONS; ++id) {
        PppRaRecord r = RecordOf(id, 1);
        ASSERT_TRUE(table->Upsert(&r)) << id;
    }
    PppRaRecord past = RecordOf(PPPRA_MAX_STATIONS, 1);
    EXPECT_FALSE(table->Upsert(&past));
    EXPECT_EQ(nullptr, table->Find(PPPRA_MAX_STATIONS));
    EXPECT_EQ(PPPRA_MAX_STATIONS, table->Count());

    PppRaRecord known = RecordOf(17, 99);
    EXPECT_TRUE(table->Upsert(&known));
    EXPECT_EQ(99, table->Find(17)->stationPort);
    PppRaRecord update = RecordOf(18, 77);
    EXPECT_TRUE(table->Update(&update));
    EXPECT_EQ(77, table->Find(18)->stationPort);

    // A removal makes room for one more.
    EXPECT_NE(nullptr, table->Remove(5));
    EXPECT_TRUE(table->Upsert(&past));
    EXPECT_FALSE(table->Upsert(&(past = RecordOf(PPPRA_MAX_STATIONS + 1, 1))));
    PppRaTable::Unlock();
}

// A unit as the frame decoder gives it.
std::unique_ptr<RVZ::RVZProtoMsg> Unit(uint32_t type, int32_t id, google::protobuf::Message* body)
{
    std::unique_ptr<RVZ::RVZProtoMsg> unit(new RVZ::RVZProtoMsg);
    unit->type = type;
    unit->id = id;
    unit->body = body;
    return unit;
}

PPPRAInfoMsg::PPPRAStationRequest* StationRequest(int32_t id, const std::string& name, const std::string& ip)
{
    auto* request = new PPPRAInfoMsg::PPPRAStationRequest;
    PPPRAInfoMsg::PPPRAStationInfo* s = request->add_client_info();
    s->set_station_id(id);
    s->set_station_name(name);
    s->set_station_ip(ip);
    s->set_station_port(2101);
    s->set_source_list("RTCM32");
    s->mutable_client_blh()->set_b(30.5);
    s->mutable_station_m_xyz()->set_z(-12.5);
    s->mutable_station_neu()->set_u(0.25);
    return request;
}

UpdClientInfoMsg::ClientInfoRequest* ClientRequest(int32_t id, const std::string& name)
{
    auto* request = new UpdClientInfoMsg::ClientInfoRequest;
    UpdClientInfoMsg::ClientInfo* c = request->add_client_info();
    c->set_client_id(id);
    c->set_client_name(name);
    c->set_client_port(5000);
    c->set_client_ip("10.0.0.8");
    c->mutable_client_vblh()->set_l(114.25);
    return request;
}

// The reply frame decoded by the system's own decoder.
std::unique_ptr<RVZ::RVZProtoMsg> Decoded(const std::vector<unsigned char>& frame)
{
    RVZ::RVZProtoMsg* unit = nullptr;
    size_t length = 0;
    EXPECT_EQ(0, DecodeFrame(frame.data(), frame.size(), &unit, &length));
    EXPECT_EQ(frame.size(), length);
    return std::unique_ptr<RVZ::RVZProtoMsg>(unit);
}

class PppRtkHandleTest : public ::testing::Test {
protected:
    std::unique_ptr<PppRaTable> table{PppRaTable::Create()};
    std::vector<unsigned char> reply;
};

TEST_F(PppRtkHandleTest, StationTwiceKeepsOneRecordWithTheSecondValues)
{
    auto first = Unit(44, 77, StationRequest(7, "S7", "192.168.1.1"));
    ASSERT_TRUE(PppRtk_Handle(table.get(), first.get(), &reply));
    auto again = Unit(44, 78, StationRequest(7, "S7", "0123456789012345678901234567890123"));
    ASSERT_TRUE(PppRtk_Handle(table.get(), again.get(), &reply));

    PppRaTable::Lock();
    EXPECT_EQ(1, table->Count());
    PppRaRecord* stored = table->Find(7);
    ASSERT_NE(nullptr, stored);
    EXPECT_STREQ("01234567890123456789012345678", stored->stationIp) << "cut to 29 characters";
    EXPECT_EQ(2101, stored->stationPort);
    EXPECT_STREQ("RTCM32", stored->sourceList);
    EXPECT_EQ(30.5, stored->b);
    EXPECT_EQ(-12.5, stored->z);
    EXPECT_EQ(0.25, stored->u);
    PppRaTable::Unlock();

    auto unit = Decoded(reply);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(1045u, unit->type);
    EXPECT_EQ(1, unit->id) << "not the request's id";
    auto* body = dynamic_cast<PPPRAInfoMsg::PPPRAStationInfoResponse*>(unit->body);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ(1, body->ack_status());
    ASSERT_EQ(1, body->client_info_size());
    EXPECT_EQ(7, body->client_info(0).station_id());
    EXPECT_EQ("S7", body->client_info(0).station_name());
    EXPECT_EQ("", body->client_info(0).station_ip()) << "only id and name are named back";
}

TEST_F(PppRtkHandleTest, ANewStationPastTheCapIsNeitherStoredNorAnswered)
{
    PppRaTable::Lock();
    for (int32_t id = 1; id <= PPPRA_MAX_STATIONS; ++id) {
        PppRaRecord r;
        memset(&r, 0, sizeof r);
        r.stationId = id;
        ASSERT_TRUE(table->Upsert(&r));
    }
    PppRaTable::Unlock();
    auto fresh = Unit(44, 5, StationRequest(PPPRA_MAX_STATIONS + 1, "late", "10.0.0.1"));
    reply.clear();
    EXPECT_FALSE(PppRtk_Handle(table.get(), fresh.get(), &reply));
    EXPECT_TRUE(reply.empty());
    auto known = Unit(44, 6, StationRequest(3, "S3", "10.0.0.3"));
    ASSERT_TRUE(PppRtk_Handle(table.get(), known.get(), &reply));
    EXPECT_EQ(1045u, Decoded(reply)->type);
    PppRaTable::Lock();
    EXPECT_EQ(PPPRA_MAX_STATIONS, table->Count());
    EXPECT_STREQ("10.0.0.3", table->Find(3)->stationIp);
    PppRaTable::Unlock();
}

TEST_F(PppRtkHandleTest, ClientUpdateOfAnUnknownIdChangesNothingAndIsStillAnswered)
{
    auto unknown = Unit(43, 5, ClientRequest(8, "client eight"));
    ASSERT_TRUE(PppRtk_Handle(table.get(), unknown.get(), &reply));
    PppRaTable::Lock();
    EXPECT_EQ(0, table->Count());
    PppRaTable::Unlock();
    auto unit = Decoded(reply);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(1044u, unit->type);
    EXPECT_EQ(1, unit->id);
    auto* body = dynamic_cast<UpdClientInfoMsg::ClientInfoResponse*>(unit->body);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ(1, body->ack_status());
    ASSERT_EQ(1, body->client_info_size());
    EXPECT_EQ(8, body->client_info(0).client_id());
    EXPECT_EQ("client eight", body->client_info(0).client_name());

    // A known id takes the client's values; its external ip is cleared.
    auto station = Unit(44, 6, StationRequest(8, "S8", "192.168.1.8"));
    static_cast<PPPRAInfoMsg::PPPRAStationRequest*>(station->body)->mutable_client_info(0)->set_station_ex_ip("1.2.3.4");
    ASSERT_TRUE(PppRtk_Handle(table.get(), station.get(), &reply));
    ASSERT_TRUE(PppRtk_Handle(table.get(), unknown.get(), &reply));
    PppRaTable::Lock();
    PppRaRecord* stored = table->Find(8);
    ASSERT_NE(nullptr, stored);
    EXPECT_EQ(5000, stored->stationPort);
    EXPECT_STREQ("10.0.0.8", stored->stationIp);
    EXPECT_STREQ("", stored->externalIp);
    EXPECT_EQ(114.25, stored->y) << "the client's vblh becomes x, y, z";
    PppRaTable::Unlock();
}

TEST_F(PppRtkHandleTest, RemovalIsAnsweredOnlyWhenAStationWentAway)
{
    auto absent = Unit(45, 3, StationRequest(9, "S9", ""));
    EXPECT_FALSE(PppRtk_Handle(table.get(), absent.get(), &reply));
    auto add = Unit(44, 3, StationRequest(9, "S9", "10.1.1.1"));
    ASSERT_TRUE(PppRtk_Handle(table.get(), add.get(), &reply));
    ASSERT_TRUE(PppRtk_Handle(table.get(), absent.get(), &reply));
    auto unit = Decoded(reply);
    ASSERT_NE(nullptr, unit);
    EXPECT_EQ(1046u, unit->type);
    EXPECT_EQ(1, unit->id);
    PppRaTable::Lock();
    EXPECT_EQ(0, table->Count());
    PppRaTable::Unlock();
    EXPECT_FALSE(PppRtk_Handle(table.get(), absent.get(), &reply)) << "gone already";
}

TEST_F(PppRtkHandleTest, OtherTypesWrongBodiesAndListsNotOfOneAreDropped)
{
    auto empty = Unit(44, 1, new PPPRAInfoMsg::PPPRAStationRequest);
    auto two = Unit(44, 1, StationRequest(1, "a", ""));
    static_cast<PPPRAInfoMsg::PPPRAStationRequest*>(two->body)->add_client_info()->set_station_id(2);
    auto clients = Unit(43, 1, new UpdClientInfoMsg::ClientInfoRequest);
    auto wrongBody = Unit(43, 1, StationRequest(1, "a", ""));
    auto otherType = Unit(41, 1, StationRequest(1, "a", ""));
    auto noBody = Unit(44, 1, nullptr);
    for (RVZ::RVZProtoMsg* unit :
         {empty.get(), two.get(), clients.get(), wrongBody.get(), otherType.get(), noBody.get()}) {
        EXPECT_FALSE(PppRtk_Handle(table.get(), unit, &reply)) << unit->type;
    }
    EXPECT_FALSE(PppRtk_Handle(table.get(), nullptr, &reply));
    PppRaTable::Lock();
    EXPECT_EQ(0, table->Count());
    PppRaTable::Unlock();
}

}  // namespace
