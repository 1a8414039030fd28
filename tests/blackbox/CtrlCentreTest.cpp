// A control centre's life on the control port: the heartbeat every peer
// gets, the operator login that opens every other request, and the
// notifications of bases and rovers that logged-in centres receive.
#include "blackbox/CtrlFixture.h"

namespace {

using namespace CtrlTexts;
using CtrlWire::Pb;
using CtrlWire::Received;

class BlackboxCtrlCentre : public CtrlTest {
protected:
    // A base account and a rover account shared by up to 100 rovers, then
    // the caster and the control port with its operator.
    void StartWithChurnAccounts()
    {
        ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
        ASSERT_TRUE(vorlane.AddRoverAccount("rov1", "Rov-Pw-1"));
        vorlane.SetNtrip("one_account_multi_user", 1);
        vorlane.SetNtrip("user_count", 100);
        ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    }

    // A base logs in on MNT1, five rovers log in and leave, the base leaves,
    // over and over until stop: notifications for logged-in centres all
    // the while.
    void ChurnBasesAndRovers(const std::atomic<bool>& stop)
    {
        while (!stop.load()) {
            TestClient base;
            if (!RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1")) continue;
            for (int i = 0; i < 5 && !stop.load(); ++i) {
                TestClient rover;
                RawPeers::LoginRover(&rover, Port(), "MNT1", "rov1", "Rov-Pw-1");
            }
        }
    }
};

TEST_F(BlackboxCtrlCentre, HeartbeatArrivesByteForByteAlsoWithoutLogin)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto anonymous = Centre(false);
    Received r;
    ASSERT_TRUE(anonymous->Next(&r, 3500)) << "no heartbeat within 3.5 s";
    // ServiceStatusMsg {status 1, heart_beat 1} as type 2011, id -1.
    EXPECT_EQ(r.raw, CtrlWire::Frame(2011, -1, std::string("\x08\x01\x10\x01", 4))) << Printable(r.raw);
    // And again three seconds on.
    ASSERT_TRUE(anonymous->Next(&r, 3500));
    EXPECT_EQ(r.type, 2011u);
}

TEST_F(BlackboxCtrlCentre, OnlyLoginLogoutAndVersionAreServedBeforeLogin)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre(false);
    Received r;

    // Base list and users of a type: dropped, as unknown types are.
    c->Request(3, 31, Pb());
    c->Request(12, 32, Pb().Message(1, Pb().Varint(2, 3)));
    EXPECT_TRUE(NothingButHeartbeats(c.get(), 800, &r)) << "answered type " << r.type;
    EXPECT_TRUE(vorlane.WaitForLog("before login, dropped"));

    c->Request(21, 33, Pb());
    ASSERT_TRUE(c->NextNonHeartbeat(&r, kReplyMs));
    EXPECT_EQ(r.type, 1020u);
    EXPECT_EQ(r.id, 33);
    CtrlWire::PbFields version = CtrlWire::ParsePb(r.body);
    EXPECT_EQ(version.Int(1), 20);
    EXPECT_EQ(version.Text(2), "V1.2.2");

    EXPECT_EQ(c->Login(kOperator, "wrong"), 21);
    EXPECT_EQ(c->Login("nobody", kOperatorPassword), 21);
    c->Request(12, 34, Pb().Message(1, Pb().Varint(2, 3)));
    EXPECT_TRUE(NothingButHeartbeats(c.get(), 500, &r)) << "refused login served type " << r.type;

    EXPECT_EQ(c->Login(kOperator, kOperatorPassword), 20);
    c->Request(12, 35, Pb().Message(1, Pb().Varint(2, 3)));
    ASSERT_TRUE(c->NextNonHeartbeat(&r, kReplyMs));
    EXPECT_EQ(r.type, 1012u);
    EXPECT_EQ(r.id, 35);
    EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(ACK), 41) << "no rover users yet";

    // Logout ends the login.
    c->Request(2, 36, Pb().Bytes(1, kOperator));
    ASSERT_TRUE(c->NextNonHeartbeat(&r, kReplyMs));
    EXPECT_EQ(r.type, 1001u);
    EXPECT_EQ(CtrlWire::ParsePb(r.body).Int(ACK), 30);
    c->Request(12, 37, Pb().Message(1, Pb().Varint(2, 3)));
    EXPECT_TRUE(NothingButHeartbeats(c.get(), 500, &r)) << "served after logout: type " << r.type;
}

// The next notification (not a heartbeat) of the client: its type and the
// first item's fields.
struct Notice {
    uint32_t type = 0;
    int32_t id = 0;
    CtrlWire::PbFields item;
};

bool NextNotice(CtrlCenterClient* c, Notice* n)
{
    Received r;
    if (!c->NextNonHeartbeat(&r, kReplyMs)) return false;
    n->type = r.type;
    n->id = r.id;
    std::vector<std::string> items = CtrlWire::ParsePb(r.body).All(STATION_ITEMS);
    n->item = CtrlWire::ParsePb(items.empty() ? "" : items[0]);
    return CtrlWire::ParsePb(r.body).Int(ACK) == 20;
}

TEST_F(BlackboxCtrlCentre, LoggedInCentresHearBasesAndRoversComeAndGo)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("rov1", "Rov-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto first = Centre();
    auto second = Centre();
    auto anonymous = Centre(false);
    std::vector<CtrlCenterClient*> centres = {first.get(), second.get()};

    TestClient base;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1"));
    for (CtrlCenterClient* c : centres) {
        Notice n;
        ASSERT_TRUE(NextNotice(c, &n));
        EXPECT_EQ(n.type, 2002u);
        EXPECT_EQ(n.id, -1);
        EXPECT_EQ(n.item.Text(BASE_ACCESS_POINT), "MNT1");
    }

    TestClient rover;
    ASSERT_TRUE(RawPeers::LoginRover(&rover, Port(), "MNT1", "rov1", "Rov-Pw-1"));
    for (CtrlCenterClient* c : centres) {
        Notice n;
        ASSERT_TRUE(NextNotice(c, &n));
        EXPECT_EQ(n.type, 2004u);
        EXPECT_EQ(n.item.Text(ROVER_NAME), "rov1");
        EXPECT_EQ(n.item.Text(ROVER_ACCESS_POINT), "MNT1");
    }
    rover.Close();
    for (CtrlCenterClient* c : centres) {
        Notice n;
        ASSERT_TRUE(NextNotice(c, &n));
        EXPECT_EQ(n.type, 2005u);
        EXPECT_EQ(n.item.Text(ROVER_NAME), "rov1");
    }
    base.Close();
    for (CtrlCenterClient* c : centres) {
        Notice n;
        ASSERT_TRUE(NextNotice(c, &n));
        EXPECT_EQ(n.type, 2003u);
        EXPECT_EQ(n.item.Text(BASE_ACCESS_POINT), "MNT1");
    }

    // The centre that never logged in heard only heartbeats.
    Received r;
    EXPECT_TRUE(NothingButHeartbeats(anonymous.get(), 300, &r)) << "type " << r.type;
    EXPECT_FALSE(anonymous->BadFrameSeen());
}

TEST_F(BlackboxCtrlCentre, CentresComingAndGoingUnderTrafficLeaveTheServiceWhole)
{
    ASSERT_NO_FATAL_FAILURE(StartWithChurnAccounts());

    std::atomic<bool> stop{false};
    // Bases and rovers come and go on the caster port the whole time, so
    // notifications race the centres' opens, logins and closes.
    std::thread traffic([&] { ChurnBasesAndRovers(stop); });
    std::vector<std::thread> churners;
    for (int t = 0; t < 4; ++t) {
        churners.emplace_back([&] {
            for (int i = 0; i < 15; ++i) {
                CtrlCenterClient c;
                if (!c.Connect(vorlane.ControlPort())) continue;
                if (i % 3 != 0) c.Login(kOperator, kOperatorPassword);
                // Some leave at once, some after reading a little.
                if (i % 2) c.Raw().ReadAvailable(50);
            }
        });
    }
    for (std::thread& t : churners) t.join();
    stop.store(true);
    traffic.join();

    auto fresh = Centre();
    Received r;
    ASSERT_TRUE(fresh->WaitFor(2011, &r, 3500)) << "no heartbeat after the churn";
    TestClient base;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1"));
    ASSERT_TRUE(fresh->WaitFor(2002, &r, kReplyMs)) << "no notification after the churn";
    EXPECT_EQ(RawPeers::FetchSourceTable(Port()).find("MNT1") != std::string::npos, true);
}

// Notifications go to logged-in centres only, and a centre's login answer
// is the first frame it gets after its login request, however busy the
// caster port is with bases and rovers coming and going.
TEST_F(BlackboxCtrlCentre, TheLoginAnswerComesBeforeAnyNotification)
{
    ASSERT_NO_FATAL_FAILURE(StartWithChurnAccounts());

    std::atomic<bool> stop{false};
    std::vector<std::thread> traffic;
    for (int t = 0; t < 2; ++t) traffic.emplace_back([&] { ChurnBasesAndRovers(stop); });
    std::atomic<int> logins{0}, answeredFirst{0};
    std::vector<std::thread> centres;
    for (int t = 0; t < 4; ++t) {
        centres.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                CtrlCenterClient c;
                if (!c.Connect(vorlane.ControlPort())) continue;
                ++logins;
                // -1 when the first frame after the request is not its answer.
                if (c.Login(kOperator, kOperatorPassword) == 20) ++answeredFirst;
                c.Raw().ReadAvailable(20);  // a notification or two may follow
            }
        });
    }
    for (std::thread& t : centres) t.join();
    stop.store(true);
    for (std::thread& t : traffic) t.join();
    EXPECT_GT(logins.load(), 0);
    EXPECT_EQ(answeredFirst.load(), logins.load());
}

}  // namespace
