// The "PPP-RTK" base: it logs in on the caster port like any base, then
// sends management frames instead of RTCM. Station reports, removals and
// client updates are answered on its own connection, always with frame id 1,
// and none of its bytes reach a rover.
#include "blackbox/PppRtkFixture.h"

namespace {

using namespace PppRtkTexts;

class BlackboxPppRtkBase : public PppRtkBaseTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartWithPppRtkBase()); }
};

TEST_F(BlackboxPppRtkBase, ReportsAreAnsweredOnTheBasesOwnConnectionWithId1)
{
    // A rover on the mount: the frames are not corrections and reach no one.
    TestClient rover;
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "PPP-RTK", "watcher", "x"));

    Send(44, 500, StationRequest(7, "station seven"));
    CtrlWire::Received r;
    ASSERT_TRUE(NextFrame(&r));
    EXPECT_EQ(r.type, 1045u);
    EXPECT_EQ(r.id, 1) << "not the request's id";
    int64_t ack = 0;
    CtrlWire::PbFields item = Item(r, &ack);
    EXPECT_EQ(ack, 1);
    EXPECT_EQ(item.Int(1), 7);
    EXPECT_EQ(item.Text(2), "station seven");

    // The same station again replaces it: one removal finds it, the next none.
    Send(44, 501, StationRequest(7, "station seven", "10.0.0.2"));
    ASSERT_TRUE(NextFrame(&r));
    EXPECT_EQ(r.type, 1045u);
    EXPECT_EQ(r.id, 1);

    // An unknown client is still answered, with its id and name.
    Send(43, 502, ClientRequest(8, "client eight"));
    ASSERT_TRUE(NextFrame(&r));
    EXPECT_EQ(r.type, 1044u);
    EXPECT_EQ(r.id, 1);
    item = Item(r, &ack);
    EXPECT_EQ(ack, 1);
    EXPECT_EQ(item.Int(1), 8);
    EXPECT_EQ(item.Text(2), "client eight");

    Send(45, 503, StationRequest(7, "station seven"));
    ASSERT_TRUE(NextFrame(&r));
    EXPECT_EQ(r.type, 1046u);
    EXPECT_EQ(r.id, 1);
    item = Item(r, &ack);
    EXPECT_EQ(item.Int(1), 7);

    // Removed already, and never known: no answer; the update behind them is
    // the next frame that comes.
    Send(45, 504, StationRequest(7, "station seven"));
    Send(45, 505, StationRequest(99, "unknown"));
    Send(43, 506, ClientRequest(9, "client nine"));
    ASSERT_TRUE(NextFrame(&r));
    EXPECT_EQ(r.type, 1044u);
    EXPECT_EQ(Item(r, &ack).Int(1), 9);

    EXPECT_TRUE(RawPeers::StaysQuiet(&rover, 300)) << "the base's frames reached a rover";
}

}  // namespace
