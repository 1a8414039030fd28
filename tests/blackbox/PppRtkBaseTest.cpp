// The "PPP-RTK" base: it logs in on the caster port like any base, then
// sends management frames instead of RTCM. Station reports, removals and
// client updates are answered on its own connection, always with frame id 1,
// and none of its bytes reach a rover.
#include "blackbox/CasterFixture.h"
#include "support/CtrlCenterClient.h"

namespace {

const int kReplyMs = 3000;
const std::string kSync = "\xAA\x41\x13\x42";

// PPPRAStationRequest {client_info: PPPRAStationInfo {station_id, station_name, station_ip}}.
CtrlWire::Pb StationRequest(int32_t id, const std::string& name, const std::string& ip = "10.0.0.1")
{
    return CtrlWire::Pb().Message(2, CtrlWire::Pb().Int(1, id).Bytes(2, name).Bytes(4, ip));
}

// ClientInfoRequest {client_info: ClientInfo {client_id, client_name}}.
CtrlWire::Pb ClientRequest(int32_t id, const std::string& name)
{
    return CtrlWire::Pb().Message(2, CtrlWire::Pb().Int(1, id).Bytes(2, name));
}

class BlackboxPppRtkBase : public CasterTest {
protected:
    void SetUp() override
    {
        vorlane.SetNtrip("base_login_mode", 1);
        vorlane.SetNtrip("rover_login_mode", 1);
        ASSERT_NO_FATAL_FAILURE(StartCaster());
        std::string reply;
        ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "PPP-RTK", "any", &reply)) << Printable(reply);
    }

    void Send(uint32_t type, int32_t id, const CtrlWire::Pb& body)
    {
        ASSERT_TRUE(base.Send(CtrlWire::Frame(type, id, body.Str())));
    }

    // The next management frame on the base's connection; the caster's
    // keep-alive text may stand before it. False on time-out.
    bool NextFrame(CtrlWire::Received* out, int timeoutMs = kReplyMs)
    {
        if (base.ReadUntil(kSync, timeoutMs).empty()) return false;
        std::string head = kSync + base.ReadExactly(25, timeoutMs);
        if (head.size() < 29 || CtrlWire::GetU32(head, 25) != CtrlWire::Crc32(head, 0, 25)) return false;
        uint32_t n = CtrlWire::GetU32(head, 8);
        std::string raw = head + base.ReadExactly(n + 4, timeoutMs);
        if (raw.size() < 33 + n || CtrlWire::GetU32(raw, 29 + n) != CtrlWire::Crc32(raw, 0, 29 + n)) return false;
        out->type = CtrlWire::GetU32(raw, 16);
        out->id = static_cast<int32_t>(CtrlWire::GetU32(raw, 12));
        out->body = raw.substr(29, n);
        return true;
    }

    // The reply's ack and its one item.
    static CtrlWire::PbFields Item(const CtrlWire::Received& r, int64_t* ack)
    {
        CtrlWire::PbFields body = CtrlWire::ParsePb(r.body);
        *ack = body.Int(1);
        std::vector<std::string> items = body.All(2);
        EXPECT_EQ(items.size(), 1u);
        return CtrlWire::ParsePb(items.empty() ? "" : items[0]);
    }

    TestClient base;
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
