// What a peer sends in the same segment as its request. Behind a login it is
// the first of the road the login opens: a base's first frames (its 1005
// gives the station its position at once), a rover's first GGA (a NEAREST
// rover is bound by it without sending another). Behind a request that the
// caster answers with a close (the source table), nothing is a request any
// more: the table and the close, and no login ever comes of it.
#include "blackbox/NearestFixture.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

using NtripTexts::kIcyOk;
using NtripTexts::kTableEnd;
using RawPeers::LoginRover;
using TaggedStreams::AsSent;
using TaggedStreams::Stretch;

const double kLon = 114.0;
const double kLatA = 30.0;   // "MNTA", id 1
const double kLatB = 30.18;  // "MNTB", id 2, 20 km north
const int kIntervalMs = 20;

class BlackboxLoginRoad : public NearestTest {};

// Sends the bytes as one segment and reads until the caster closes.
std::string SendAndReadToClose(int port, const std::string& bytes, bool* closed)
{
    TestClient peer;
    if (!peer.Connect(port) || !peer.Send(bytes)) return "";
    return peer.ReadUntilEof(RawPeers::kReplyMs, closed);
}

}  // namespace

TEST_F(BlackboxLoginRoad, ABaseFirstFrameSentWithItsLoginGivesTheStationItsPosition)
{
    vorlane.SetNtrip("base_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    TestClient base;
    ASSERT_TRUE(base.Connect(Port()));
    const std::string frame = GnssFrames::Rtcm1005(7, 31.25, 121.5, 12.0);
    ASSERT_TRUE(base.Send(NtripTexts::SourceRequest("any", "WITHPOS") + frame));
    EXPECT_EQ(kIcyOk, base.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs));
    EXPECT_TRUE(WaitCount("(WITHPOS:", 1)) << "the position in the login's segment was never taken";
    EXPECT_EQ(1, vorlane.CountInLog(":31.2500000,121.5000000,"));
}

// The rover's only GGA comes with its request: it is bound to the nearer base
// and receives that base's chunks, whole and in order.
TEST_F(BlackboxLoginRoad, ANearestRoverIsBoundByTheGgaSentWithItsLogin)
{
    ASSERT_TRUE(vorlane.AddRoverAccount("mover", "Mover-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartBases({{"MNTA", kLatA, kLon}, {"MNTB", kLatB, kLon}}, kIntervalMs));
    TestClient rover;
    ASSERT_TRUE(rover.Connect(Port()));
    const double nearB = AsSent(kLatB - 0.01);
    ASSERT_TRUE(rover.Send(NtripTexts::GetRequest("NEAREST", "mover", "Mover-Pw-1") +
                           GnssFrames::Gga(nearB, kLon, 20.0) + "\r\n"));
    ASSERT_EQ(kIcyOk, rover.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs));
    std::string all;
    std::vector<Stretch> runs = ReadStretches(&rover, &all, [](const std::vector<Stretch>& rs) {
        return !rs.empty() && rs.back().last - rs.back().first >= 20;
    });
    ASSERT_FALSE(runs.empty()) << "no stream without a second GGA";
    EXPECT_EQ(1u, runs.size()) << TaggedStreams::Describe(runs);
    EXPECT_EQ(2, runs.front().base) << TaggedStreams::Describe(runs);
}

// "GET /" answered with the table and a close: the login behind it in the
// same segment (a base's with its stream bytes, a rover's) never happens.
TEST_F(BlackboxLoginRoad, ATableRequestFollowedByALoginGetsTheTableAndTheCloseOnly)
{
    vorlane.SetNtrip("base_login_mode", 1);
    vorlane.SetNtrip("rover_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    TestClient base;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNTA", "any"));
    struct Case {
        const char* name;
        std::string behind;
    } cases[] = {
        {"SOURCE", NtripTexts::SourceRequest("any", "BEHIND") + GnssFrames::RtcmFiller(1074, 200, 3)},
        {"rover GET", NtripTexts::GetRequest("MNTA", "anyone", "any")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool closed = false;
        std::string got = SendAndReadToClose(Port(), NtripTexts::SourceTableRequest() + c.behind, &closed);
        EXPECT_TRUE(closed);
        ASSERT_GE(got.size(), kTableEnd.size());
        EXPECT_EQ(kTableEnd, got.substr(got.size() - kTableEnd.size())) << Printable(got);
        EXPECT_EQ(std::string::npos, got.find("ICY 200 OK")) << Printable(got);
    }
    // A login would be logged a moment after it, by the log's own thread.
    EXPECT_FALSE(WaitCount("login ok:", 2, 1000)) << "a login behind the table";
    EXPECT_EQ(0, vorlane.CountInLog("Base login ok:BEHIND"));
    EXPECT_EQ(0, vorlane.CountInLog("Rover login ok:anyone"));
}

// The same packet again and again while another base streams to a rover:
// the login behind the table never brings its base online (whose reads
// would otherwise run the table's close under their own feet), and the
// streaming rover misses nothing.
TEST_F(BlackboxLoginRoad, RepeatedTableAndLoginPacketsLeaveTheStreamWhole)
{
    vorlane.SetNtrip("base_login_mode", 1);
    vorlane.SetNtrip("rover_login_mode", 1);
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    TestClient base, rover;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNTA", "any"));
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNTA", "reader", "any"));
    ASSERT_TRUE(WaitCount("Rover login ok:reader", 1));
    RawPeers::CounterStream stream(&base, 1024, 5);
    stream.Start();

    const std::string packet = NtripTexts::SourceTableRequest() + NtripTexts::SourceRequest("any", "BEHIND") +
                               GnssFrames::CounterBytes(0, 3000);
    std::string received;
    for (int i = 0; i < 300; ++i) {
        bool closed = false;
        std::string got = SendAndReadToClose(Port(), packet, &closed);
        ASSERT_TRUE(closed) << "round " << i;
        ASSERT_EQ(std::string::npos, got.find("ICY 200 OK")) << "round " << i;
        received += rover.ReadAvailable(0);
    }
    stream.Stop();
    EXPECT_EQ(0, vorlane.CountInLog("Base login ok:BEHIND"));
    const uint64_t sent = stream.Sent();
    WaitFor(
        [&] {
            received += rover.ReadAvailable(50);
            return received.size() >= sent;
        },
        RawPeers::kReplyMs, 0);
    EXPECT_EQ(sent, received.size());
    EXPECT_TRUE(received == GnssFrames::CounterBytes(0, received.size())) << "the rover's stream is not the base's";
    EXPECT_TRUE(vorlane.Running());
}
