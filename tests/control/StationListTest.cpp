// The base and rover lists over copied records: what an item says, how a long
// list is split into frames.
#include "caster/BindingFixture.h"
#include "caster/registry/RegistrySnapshot.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/SplitReply.h"
#include "control/StationItems.h"

#include "VIVOProtoDecoding/StationInfoMsg.pb.h"

#include <string>
#include <vector>

namespace {

struct Frame {
    StationInfoMsg::BaseStationInfoResponse body;
    uint8_t more;
};

std::vector<Frame> Split(const std::vector<std::string>& names, int32_t total)
{
    std::vector<Frame> frames;
    StationInfoMsg::BaseStationInfoResponse response;
    response.set_total_count(total);
    SplitReply reply(&response, "base_station_info", [&](const google::protobuf::Message& body, uint8_t more) {
        Frame f;
        f.body.CopyFrom(body);
        f.more = more;
        frames.push_back(f);
    });
    StationInfoMsg::BaseStationInfo item;
    for (const std::string& name : names) {
        item.set_access_point(name);
        item.set_ip("192.168.100.200");
        reply.Add(item);
    }
    reply.Finish();
    return frames;
}

TEST(SplitReplyTest, NoItemsGiveOneLastFrame)
{
    std::vector<Frame> frames = Split({}, 0);
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(0, frames[0].more);
    EXPECT_EQ(0, frames[0].body.base_station_info_size());
}

TEST(SplitReplyTest, LongListsGoOutInFramesThatFitAndKeepTheOrder)
{
    for (size_t count : {1u, 20u, 60u, 500u}) {
        std::vector<std::string> names;
        for (size_t i = 0; i < count; ++i) names.push_back("MOUNT_" + std::string(i % 90, 'x') + std::to_string(i));
        std::vector<Frame> frames = Split(names, 77);
        ASSERT_FALSE(frames.empty());
        std::vector<std::string> listed;
        for (size_t f = 0; f < frames.size(); ++f) {
            EXPECT_EQ(f + 1 < frames.size() ? 1 : 0, frames[f].more) << "frame " << f << " of " << count;
            EXPECT_EQ(77, frames[f].body.total_count()) << "other fields stay in every frame";
            EXPECT_GT(frames[f].body.base_station_info_size(), 0) << "frame " << f;
            unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
            size_t length = 0;
            EXPECT_EQ(0, EncodeFrame(1004, 9, &frames[f].body, buffer, sizeof buffer, &length))
                << "frame " << f << " of " << count << " is " << frames[f].body.ByteSizeLong() << " bytes";
            for (const auto& item : frames[f].body.base_station_info()) listed.push_back(item.access_point());
        }
        EXPECT_EQ(names, listed);
        if (count >= 60) {
            EXPECT_GT(frames.size(), 1u) << count;
        }
    }
}

// The items built from records copied out of the fixture's registries.
class StationItemTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        tables = RegistryTables{conns.get(), bases.get(), rovers.get()};
    }
    RegistryTables tables;
};

TEST_F(StationItemTest, BaseItemTakesRatesOnlyWhileFresh)
{
    AddConn(1, 1000);
    BaseRecord* base = AddBase("B1", 1, 30.5, 114.25);
    base->loginTime = 900;
    base->roverCount = 3;
    snprintf(base->format, sizeof base->format, "RTCM3");
    ConnInfo* conn = conns->Find(1);
    conn->inputRate = 512;
    conn->bytesReceived = 123456;
    std::vector<BaseSnapshot> all;
    RegistrySnapshot_OnlineBases(tables, &all);
    ASSERT_EQ(1u, all.size());

    StationInfoMsg::BaseStationInfo item;
    StationItem_FromBase(all[0], 1005, &item);
    EXPECT_EQ(512u, item.recv_speed());
    EXPECT_EQ(123456u, item.cumulative_data());
    EXPECT_EQ(105u, item.cumulative_time());
    EXPECT_EQ(1u, item.online_status());
    EXPECT_EQ(3u, item.rover_station_num());
    EXPECT_EQ("RTCM3", item.diff_format());
    EXPECT_EQ(30.5, item.base_station_blh().b());
    EXPECT_EQ("", item.user_name());
    item.Clear();
    StationItem_FromBase(all[0], 1006, &item);
    EXPECT_EQ(0u, item.recv_speed()) << "6 s without data";
    EXPECT_EQ(123456u, item.cumulative_data());
}

TEST_F(StationItemTest, NearestRoverIsListedUnderItsBoundBase)
{
    BaseRecord* b1 = AddBase("B1", 1, 30.5, 114.25);
    snprintf(b1->format, sizeof b1->format, "RTCM3");
    b1->height = 20.0;
    RoverRecord* rover = AddRover("u", "NEAREST", 21, ROVER_BIND_NEAREST);
    snprintf(rover->boundBaseName, sizeof rover->boundBaseName, "B1");
    rover->diffAge = 1.5;
    rover->distance = 2000;
    AddRover("v", "B9", 22, ROVER_BIND_NAMED);  // its base is not online
    AddConn(21, 1000);
    conns->Find(21)->outputRate = 100;

    std::vector<RoverSnapshot> all;
    RegistrySnapshot_Rovers(tables, &all);
    ASSERT_EQ(2u, all.size());
    const RoverSnapshot& u = all[0].rover.channelID == 21 ? all[0] : all[1];
    const RoverSnapshot& v = all[0].rover.channelID == 21 ? all[1] : all[0];
    StationInfoMsg::RoverStationInfo item;
    StationItem_FromRover(u, 1005, false, &item);
    EXPECT_EQ("NEAREST", item.access_point());
    EXPECT_EQ("B1", item.station_name());
    EXPECT_EQ("RTCM3", item.diff_format());
    EXPECT_EQ(30.5, item.base_station_blh().b());
    EXPECT_EQ(20.0, item.base_station_blh().h());
    EXPECT_EQ(100u, item.send_speed());
    EXPECT_EQ(-1, item.gps_status());
    EXPECT_EQ(0.0, item.distance()) << "motion only in pages";
    item.Clear();
    StationItem_FromRover(u, 1006, true, &item);
    EXPECT_EQ(0u, item.send_speed()) << "more than 5 s since the last write";
    EXPECT_EQ(2000.0, item.distance());
    EXPECT_EQ(1.5, item.diff_time());
    item.Clear();
    StationItem_FromRover(v, 1005, false, &item);
    EXPECT_EQ("B9", item.station_name());
    EXPECT_EQ("", item.diff_format());
    EXPECT_EQ(0.0, item.base_station_blh().b());
}

}  // namespace
