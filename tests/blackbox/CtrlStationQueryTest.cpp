// A control centre reads the caster's bases and rovers, all at once and page
// by page, and closes, removes and black-lists them: the stories of an
// operator watching and steering the caster.
#include "blackbox/CtrlOpsFixture.h"
#include "blackbox/GnssFrames.h"
#include "support/WaitFor.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>

namespace {

using namespace CtrlOps;
using CtrlTexts::BASE_ACCESS_POINT;
using CtrlTexts::ROVER_ACCESS_POINT;
using CtrlTexts::ROVER_NAME;
using CtrlTexts::kReplyMs;

class BlackboxCtrlStationQueries : public CtrlOpsTest {
protected:
    // Bases that log in one after another (any password), kept connected.
    void LoginBases(const std::vector<std::string>& mounts)
    {
        for (const std::string& mount : mounts) {
            bases.emplace_back(new TestClient);
            std::string reply;
            ASSERT_TRUE(RawPeers::LoginBase(bases.back().get(), Port(), mount, "any", &reply))
                << mount << ": " << Printable(reply);
        }
    }
    std::vector<std::unique_ptr<TestClient>> bases;
};

std::vector<std::string> Mounts(const std::string& prefix, int n, size_t width = 0)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        char number[16];
        snprintf(number, sizeof number, "%02d", i);
        std::string name = prefix + number;
        if (name.size() < width) name = std::string(width - name.size(), 'M') + name;
        out.push_back(name);
    }
    return out;
}

TEST_F(BlackboxCtrlStationQueries, ListsAndPagesOfTheOnlineBases)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();

    // No base online: one empty frame each, with the request's id.
    auto frames = List(c.get(), 3, 1003, 41, BaseRequest());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(Items(frames).empty());
    frames = List(c.get(), 4, 1004, 42, PageRequest(0, 10));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(Items(frames).empty());
    EXPECT_EQ(CtrlWire::ParsePb(frames[0].body).Int(TOTAL_COUNT), 0);

    std::vector<std::string> mounts = Mounts("B", 12);
    ASSERT_NO_FATAL_FAILURE(LoginBases(mounts));
    frames = List(c.get(), 3, 1003, 43, BaseRequest());
    std::vector<std::string> listed = Texts(Items(frames), BASE_ACCESS_POINT);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, mounts);

    // The sixth to the twelfth in login order.
    frames = List(c.get(), 4, 1004, 44, PageRequest(5, 10));
    EXPECT_EQ(CtrlWire::ParsePb(frames.back().body).Int(TOTAL_COUNT), 12);
    EXPECT_EQ(Texts(Items(frames), BASE_ACCESS_POINT), std::vector<std::string>(mounts.begin() + 5, mounts.end()));
    frames = List(c.get(), 4, 1004, 45, PageRequest(0, 0));
    EXPECT_TRUE(Items(frames).empty());
    EXPECT_EQ(CtrlWire::ParsePb(frames.back().body).Int(TOTAL_COUNT), 12);
    // A name filter: the mounts that contain the text.
    frames = List(c.get(), 4, 1004, 46, PageRequest(0, 100, "B1"));
    EXPECT_EQ(Texts(Items(frames), BASE_ACCESS_POINT), (std::vector<std::string>{"B10", "B11"}));
    EXPECT_EQ(CtrlWire::ParsePb(frames.back().body).Int(TOTAL_COUNT), 2);
}

TEST_F(BlackboxCtrlStationQueries, LongListsComeInFramesMarkedUntilTheLast)
{
    vorlane.SetNtrip("base_login_mode", 1);
    vorlane.SetNtrip("rover_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    std::vector<std::string> mounts = Mounts("LONG", 40, 90);
    ASSERT_NO_FATAL_FAILURE(LoginBases(mounts));
    std::vector<std::unique_ptr<TestClient>> rovers;
    for (int i = 0; i < 40; ++i) {
        rovers.emplace_back(new TestClient);
        ASSERT_TRUE(RawPeers::LoginRover(rovers.back().get(), Port(), mounts[i % 3], "rover-" + std::to_string(i), "x"));
    }
    auto c = Centre();

    struct Case {
        uint32_t type;
        CtrlWire::Pb body;
        int field;
        size_t items;
    } cases[] = {
        {3, BaseRequest(), BASE_ACCESS_POINT, 40},
        {4, PageRequest(0, 1000), BASE_ACCESS_POINT, 40},
        {5, RoverRequest(), ROVER_NAME, 40},
        {6, PageRequest(0, 1000), ROVER_NAME, 40},
    };
    int32_t id = 70;
    for (const Case& k : cases) {
        auto frames = List(c.get(), k.type, 1000 + k.type, ++id, k.body);
        EXPECT_GE(frames.size(), 2u) << "type " << k.type;
        for (size_t f = 0; f + 1 < frames.size(); ++f) EXPECT_EQ(frames[f].more, 1) << "type " << k.type;
        std::vector<std::string> names = Texts(Items(frames), k.field);
        EXPECT_EQ(names.size(), k.items) << "type " << k.type;
        std::set<std::string> distinct(names.begin(), names.end());
        EXPECT_EQ(distinct.size(), k.items) << "type " << k.type << ": an item twice";
    }
}

TEST_F(BlackboxCtrlStationQueries, RoverOnNearestIsListedUnderItsBoundBase)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_TRUE(vorlane.AddRoverAccount("walker", "Walk-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    ASSERT_NO_FATAL_FAILURE(LoginBases({"B1"}));
    ASSERT_TRUE(bases[0]->Send(GnssFrames::Rtcm1005(1, 30.5, 114.25, 20.0)));
    ASSERT_TRUE(vorlane.WaitForLog("Add base ", 5000));
    TestClient rover;
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "NEAREST", "walker", "Walk-Pw-1"));
    ASSERT_TRUE(rover.Send(GnssFrames::Gga(30.51, 114.26, 15.0)));
    // Its first position binds it on a decode worker, some time later: bound
    // once its base's frames reach it. The base sends until one does (a
    // frame sent before the binding goes to no one).
    uint32_t seed = 0;
    ASSERT_TRUE(WaitFor([&] {
        return bases[0]->Send(GnssFrames::RtcmFiller(1074, 20, ++seed)) && !rover.ReadAvailable(50).empty();
    }, 20000, 0)) << "the rover never received the stream of its nearest base";
    auto c = Centre();

    auto items = Items(List(c.get(), 5, 1005, 100, RoverRequest()));
    ASSERT_EQ(items.size(), 1u);
    CtrlWire::PbFields item = items[0];
    EXPECT_EQ(item.Text(ROVER_NAME), "walker");
    EXPECT_EQ(item.Text(ROVER_ACCESS_POINT), "NEAREST");
    EXPECT_EQ(item.Text(ROVER_STATION_NAME), "B1");
    EXPECT_EQ(item.Text(ROVER_FORMAT), "RTCM3");
    EXPECT_NEAR(CtrlWire::ParsePb(item.Text(ROVER_BASE_BLH)).Double(BLH_B), 30.5, 1e-6);

    auto bases = Items(List(c.get(), 3, 1003, 200, BaseRequest()));
    ASSERT_EQ(bases.size(), 1u);
    EXPECT_EQ(bases[0].Text(BASE_FORMAT), "RTCM3");
    EXPECT_NEAR(CtrlWire::ParsePb(bases[0].Text(BASE_BLH)).Double(BLH_B), 30.5, 1e-6);
}

TEST_F(BlackboxCtrlStationQueries, KicksCloseTheStationAndAreAlwaysAnswered)
{
    vorlane.SetNtrip("base_login_mode", 1);
    vorlane.SetNtrip("rover_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    ASSERT_NO_FATAL_FAILURE(LoginBases({"KB1", "KB2"}));
    TestClient rover;
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "KB2", "kicked", "x"));
    auto c = Centre();

    CtrlWire::Received r = Ask(c.get(), 7, 51, BaseRequest("KB1", 9));
    EXPECT_EQ(r.type, 1007u);
    EXPECT_EQ(r.id, 51);
    CtrlWire::PbFields body = CtrlWire::ParsePb(r.body);
    EXPECT_EQ(body.Int(CtrlTexts::ACK), 20);
    ASSERT_EQ(body.All(CtrlTexts::STATION_ITEMS).size(), 1u);
    CtrlWire::PbFields item = CtrlWire::ParsePb(body.All(CtrlTexts::STATION_ITEMS)[0]);
    EXPECT_EQ(item.Int(ITEM_ID), 9);
    EXPECT_EQ(item.Text(BASE_ACCESS_POINT), "KB1");
    EXPECT_TRUE(bases[0]->WaitClosed(kReplyMs)) << "the kicked base stays connected";

    // Nothing of that name: still ack 20 with the request's id and name.
    r = Ask(c.get(), 7, 52, BaseRequest("NOSUCH", 3));
    EXPECT_EQ(r.type, 1007u);
    EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK), 20);

    r = Ask(c.get(), 9, 53, RoverRequest("kicked", "KB2", 4));
    EXPECT_EQ(r.type, 1009u);
    item = CtrlWire::ParsePb(CtrlWire::ParsePb(r.body).All(CtrlTexts::STATION_ITEMS).at(0));
    EXPECT_EQ(item.Text(ROVER_NAME), "kicked");
    EXPECT_EQ(item.Text(ROVER_ACCESS_POINT), "KB2");
    EXPECT_TRUE(rover.WaitClosed(kReplyMs)) << "the kicked rover stays connected";
    EXPECT_FALSE(bases[1]->WaitClosed(300)) << "its base is not touched";

    // A request without an item is not answered; the next one is.
    c->Request(7, 54, BaseRequest());
    c->Request(9, 55, RoverRequest());
    r = Ask(c.get(), 3, 56, BaseRequest());
    EXPECT_EQ(r.type, 1003u);
    EXPECT_EQ(r.id, 56);
}

TEST_F(BlackboxCtrlStationQueries, RemovedBaseIsClosedAndLeavesTheWhiteList)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    ASSERT_NO_FATAL_FAILURE(LoginBases({"RB1"}));
    auto c = Centre();
    ASSERT_EQ(vorlane.CountListed("station_whitelist", "RB1"), 1) << "base login lists it";

    CtrlWire::Received r = Ask(c.get(), 8, 61, BaseRequest("RB1", 2));
    EXPECT_EQ(r.type, 1008u);
    EXPECT_EQ(r.id, 61);
    EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(CtrlTexts::ACK), 20);
    EXPECT_TRUE(bases[0]->WaitClosed(kReplyMs));
    EXPECT_EQ(vorlane.CountListed("station_whitelist", "RB1"), 0);

    // A station that is not there gets no answer at all.
    c->Request(8, 62, BaseRequest("NOSUCH"));
    r = Ask(c.get(), 3, 63, BaseRequest());
    EXPECT_EQ(r.type, 1003u);
    EXPECT_EQ(r.id, 63);
}

TEST_F(BlackboxCtrlStationQueries, BlockedBaseIsClosedAndCannotLogInAgain)
{
    // Started from another folder: the black list is the one beside the
    // executable, and nothing appears where the process was started.
    TempDir elsewhere;
    vorlane.SetWorkingDir(elsewhere.Path());
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    ASSERT_NO_FATAL_FAILURE(LoginBases({"BAD1"}));
    auto c = Centre();

    CtrlWire::Received r = Ask(c.get(), 10, 71, BaseRequest("BAD1"));
    EXPECT_EQ(r.type, 1010u);
    EXPECT_EQ(r.id, 71);
    CtrlWire::PbFields body = CtrlWire::ParsePb(r.body);
    EXPECT_EQ(body.Int(CtrlTexts::ACK), 20);
    EXPECT_EQ(CtrlWire::ParsePb(body.All(CtrlTexts::STATION_ITEMS).at(0)).Text(BASE_ACCESS_POINT), "BAD1");
    EXPECT_TRUE(bases[0]->WaitClosed(kReplyMs));
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "BAD1"), 1);

    TestClient again;
    std::string reply;
    EXPECT_FALSE(RawPeers::LoginBase(&again, Port(), "BAD1", "any", &reply)) << Printable(reply);
    EXPECT_TRUE(again.WaitClosed(kReplyMs)) << "a black-listed base is closed without a reply";
    struct stat st;
    EXPECT_NE(stat((elsewhere.Path() + "/station.db").c_str(), &st), 0) << "a stray station.db where it started";
    // Blocking it again adds no second row.
    r = Ask(c.get(), 10, 72, BaseRequest("BAD1"));
    EXPECT_EQ(r.type, 1010u);
    EXPECT_EQ(vorlane.CountListed("station_blacklist", "BAD1"), 1);
}

}  // namespace
