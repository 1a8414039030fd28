// The base and rover lists over copied records: which records a list or a
// page takes, what an item says, how a long list is split into frames.
#include "caster/BindingFixture.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/SplitReply.h"
#include "control/StationItems.h"
#include "control/StationSnapshot.h"

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

class StationSnapshotTest : public BindingTest {
protected:
    // Bases B00 .. B11 in login order, each with a connection record.
    void AddBases(int n)
    {
        for (int i = 0; i < n; ++i) {
            char name[16];
            snprintf(name, sizeof name, "B%02d", i);
            AddConn(100 + i, 0);
            AddBase(name, 100 + i, 30.0 + i, 114.0);
        }
    }
    static std::vector<std::string> Names(const std::vector<BaseSnapshot>& bases)
    {
        std::vector<std::string> out;
        for (const BaseSnapshot& b : bases) out.push_back(b.base.mountPoint);
        return out;
    }
};

TEST_F(StationSnapshotTest, PagesCountFromStartInLoginOrder)
{
    AddBases(12);
    struct Case {
        int32_t start;
        int32_t count;
        std::vector<std::string> names;
    } cases[] = {
        {5, 10, {"B05", "B06", "B07", "B08", "B09", "B10", "B11"}},
        {0, 0, {}},
        {0, 2, {"B00", "B01"}},
        {11, 1, {"B11"}},
        {12, 5, {}},
        {3, 2147483647, {"B03", "B04", "B05", "B06", "B07", "B08", "B09", "B10", "B11"}},
    };
    for (const Case& c : cases) {
        int total = -1;
        std::vector<BaseSnapshot> page;
        StationSnapshot_BasePage(scope, StationPage{c.start, c.count}, "", &total, &page);
        EXPECT_EQ(12, total) << c.start << "+" << c.count;
        EXPECT_EQ(c.names, Names(page)) << c.start << "+" << c.count;
    }
}

TEST_F(StationSnapshotTest, NameFilterListsOnlineBasesAndCountsEveryState)
{
    AddConn(1, 0);
    AddBase("RTCM_A", 1, 30, 114);
    AddBase("XRTCMX", 2, 30, 114)->state = BASE_STATE_BLACKLISTED;
    AddBase("rtcm_low", 3, 30, 114);
    AddBase("RTCM_B", 4, 30, 114);
    int total = 0;
    std::vector<BaseSnapshot> page;
    StationSnapshot_BasePage(scope, StationPage{0, 10}, "RTCM", &total, &page);
    EXPECT_EQ(3, total);
    EXPECT_EQ((std::vector<std::string>{"RTCM_A", "RTCM_B"}), Names(page));
    EXPECT_TRUE(page[0].hasConn);
    EXPECT_FALSE(page[1].hasConn);

    std::vector<BaseSnapshot> all;
    StationSnapshot_OnlineBases(scope, &all);
    EXPECT_EQ(3u, all.size()) << "the black-listed one is not online";
}

TEST_F(StationSnapshotTest, BaseItemTakesRatesOnlyWhileFresh)
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
    StationSnapshot_OnlineBases(scope, &all);
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

TEST_F(StationSnapshotTest, NearestRoverIsListedUnderItsBoundBase)
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
    StationSnapshot_Rovers(scope, &all);
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

TEST_F(StationSnapshotTest, RoverPageCountsByServingBaseButListsByRequestedMount)
{
    AddBase("B1", 1, 30, 114);
    AddRover("a", "B1", 21, ROVER_BIND_NAMED);
    RoverRecord* n = AddRover("b", "NEAREST", 22, ROVER_BIND_NEAREST);
    snprintf(n->boundBaseName, sizeof n->boundBaseName, "B1");
    AddRover("a", "B2", 23, ROVER_BIND_NAMED);
    AddRover("c", "B1", 24, ROVER_BIND_NAMED);
    struct Case {
        std::string base;
        std::string user;
        int total;
        std::vector<uint64_t> channels;
    } cases[] = {
        {"", "", 4, {21, 22, 23, 24}},
        {"B1", "", 3, {21, 24}},
        {"", "a", 2, {21, 23}},
        {"B1", "a", 1, {21}},
        {"B1", "z", 0, {}},
    };
    for (const Case& c : cases) {
        int total = -1;
        std::vector<RoverSnapshot> page;
        StationSnapshot_RoverPage(scope, StationPage{0, 10}, c.base, c.user, &total, &page);
        std::vector<uint64_t> channels;
        for (const RoverSnapshot& r : page) channels.push_back(r.rover.channelID);
        EXPECT_EQ(c.total, total) << c.base << "/" << c.user;
        EXPECT_EQ(c.channels, channels) << c.base << "/" << c.user;
    }
    int total = 0;
    std::vector<RoverSnapshot> page;
    StationSnapshot_RoverPage(scope, StationPage{1, 2}, "", "", &total, &page);
    ASSERT_EQ(2u, page.size());
    EXPECT_EQ(22u, page[0].rover.channelID);
    EXPECT_STREQ("B1", page[0].servingBase) << "bound by binding mode in a page";
}

}  // namespace
