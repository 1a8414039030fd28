// A connection logs in once. A peer that sends a second request right behind
// its login, in the same segment, gets one answer; when it goes, it leaves no
// base or rover behind in the inspector's or the control centre's lists, and
// the base it asked for the second time streams to the next rover as to any.
// A peer that keeps getting its login refused (a guessed password, an
// unknown or expired account, a base's wrong password) is closed at the
// eighth refusal.
#include "blackbox/CtrlOpsFixture.h"
#include "blackbox/GnssFrames.h"
#include "blackbox/ToolPeers.h"

#include <json/json.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace NtripTexts;
using RawPeers::LoginBase;
using RawPeers::LoginRover;

// A new rover's subscription follows its reply: the stream starts this long after.
const int kSettleMs = 200;
const int kRefusalLimit = 8;

class BlackboxOneLogin : public CtrlOpsTest {
protected:
    // The caster with bases AAA and BBB online and the rover account demo;
    // the inspector listening (it binds a moment after the caster).
    void StartWithTwoBases()
    {
        vorlane.SetNtrip("base_login_mode", 1);
        ASSERT_TRUE(vorlane.AddRoverAccount("demo", "Demo-Pw-17"));
        ASSERT_NO_FATAL_FAILURE(StartWithOperator());
        ASSERT_TRUE(WaitFor([&] { return PortAccepts(vorlane.HttpPort(), 200); }, 10000, 50))
            << "the inspector never listened";
        ASSERT_TRUE(LoginBase(&baseA, Port(), "AAA", "any"));
        ASSERT_TRUE(LoginBase(&baseB, Port(), "BBB", "any"));
    }

    // The "data" array of an inspector route, null when it did not answer.
    Json::Value Inspect(const std::string& route)
    {
        ToolPeers::CurlReply reply = ToolPeers::CurlPost(vorlane.Dir(), vorlane.HttpPort(), route, "{\"any\":1}");
        Json::Value json;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        if (!reply.ran ||
            !reader->parse(reply.body.data(), reply.body.data() + reply.body.size(), &json, &errors)) {
            return Json::Value();
        }
        return json["data"];
    }

    static std::set<std::string> Names(const Json::Value& data, const char* member)
    {
        std::set<std::string> names;
        for (const Json::Value& item : data) names.insert(item[member].asString());
        return names;
    }

    // The rovers bound to a base, as the inspector counts them; -1 when it
    // does not list the base.
    int RoverNum(const std::string& mount)
    {
        for (const Json::Value& item : Inspect("/xqn_station_info")) {
            if (item["MountPoint"].asString() == mount) return item["RoverNum"].asInt();
        }
        return -1;
    }

    // Polls until the inspector and the control centre list exactly these
    // rovers and bases (true), or 15 s pass (a loaded machine runs the
    // close, the log-outs and both answers late).
    bool WaitListed(const std::set<std::string>& rovers, const std::set<std::string>& bases, std::string* seen)
    {
        auto centre = Centre();
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        for (int32_t id = 100;; ++id) {
            std::set<std::string> inspectorRovers = Names(Inspect("/xqn_rover_stat"), "UserName");
            std::set<std::string> inspectorBases = Names(Inspect("/xqn_station_stat"), "MountPoint");
            auto ctrlRoverItems = Items(List(centre.get(), 5, 1005, id, CtrlOps::RoverRequest()));
            auto ctrlBaseItems = Items(List(centre.get(), 3, 1003, id, CtrlOps::BaseRequest()));
            std::vector<std::string> roverNames = Texts(ctrlRoverItems, CtrlTexts::ROVER_NAME);
            std::vector<std::string> baseNames = Texts(ctrlBaseItems, CtrlTexts::BASE_ACCESS_POINT);
            std::set<std::string> ctrlRovers(roverNames.begin(), roverNames.end());
            std::set<std::string> ctrlBases(baseNames.begin(), baseNames.end());
            bool same = inspectorRovers == rovers && ctrlRovers == rovers && roverNames.size() == rovers.size() &&
                        inspectorBases == bases && ctrlBases == bases && baseNames.size() == bases.size();
            if (same) return true;
            if (std::chrono::steady_clock::now() >= end) {
                *seen = "inspector rovers " + std::to_string(inspectorRovers.size()) + ", bases " +
                        std::to_string(inspectorBases.size()) + "; control centre rovers " +
                        std::to_string(roverNames.size()) + ", bases " + std::to_string(baseNames.size());
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // A fresh rover of demo on BBB receives BBB's bytes whole, and is the
    // one rover BBB counts.
    void ExpectBbbStreamsToAFreshRover(const std::string& label)
    {
        TestClient rover;
        std::string reply;
        ASSERT_TRUE(LoginRover(&rover, Port(), "BBB", "demo", "Demo-Pw-17", &reply)) << label << ": " << Printable(reply);
        std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
        const std::string bytes = GnssFrames::RtcmFiller(1074, 500, 31) + GnssFrames::RtcmFiller(1084, 300, 32);
        ASSERT_TRUE(baseB.Send(bytes)) << label;
        std::string got = rover.ReadExactly(bytes.size(), RawPeers::kReplyMs);
        EXPECT_EQ(got, bytes) << label << ": " << FirstDifference(got, bytes);
        EXPECT_EQ(RoverNum("BBB"), 1) << label;
        rover.Close();
        std::string seen;
        EXPECT_TRUE(WaitListed({}, {"AAA", "BBB"}, &seen)) << label << ": " << seen;
    }

    TestClient baseA;
    TestClient baseB;
};

// Two requests in one segment: the first logs in and is answered once; the
// second is no request any more but the first bytes of the road the login
// opened (the base's stream, the rover's positions), so nothing logs in a
// second time. While the connection lasts BBB counts no rover; once it is
// closed no rover or base of it is left in any list, and BBB streams to a
// fresh rover, which is all it serves.
TEST_F(BlackboxOneLogin, ARequestBehindALoginIsNoSecondLoginAndItsCloseLeavesNothing)
{
    ASSERT_NO_FATAL_FAILURE(StartWithTwoBases());
    struct Case {
        const char* name;
        std::string requests;
        std::string answer;
        std::set<std::string> rovers;  // listed while it is connected
        std::set<std::string> bases;
    } cases[] = {
        {"GET then SOURCE", GetRequest("AAA", "demo", "Demo-Pw-17") + SourceRequest("any", "CCC"), kIcyOk, {"demo"},
         {"AAA", "BBB"}},
        {"GET then GET", GetRequest("AAA", "demo", "Demo-Pw-17") + GetRequest("BBB", "demo", "Demo-Pw-17"), kIcyOk,
         {"demo"}, {"AAA", "BBB"}},
        {"SOURCE then GET", SourceRequest("any", "CCC") + GetRequest("BBB", "demo", "Demo-Pw-17"), kIcyOk, {},
         {"AAA", "BBB", "CCC"}},
        {"SOURCE then SOURCE", SourceRequest("any", "CCC") + SourceRequest("any", "DDD"), kIcyOk, {},
         {"AAA", "BBB", "CCC"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClient peer;
        ASSERT_TRUE(peer.Connect(Port()));
        ASSERT_TRUE(peer.Send(c.requests));
        std::string got = peer.ReadExactly(c.answer.size(), RawPeers::kReplyMs);
        EXPECT_EQ(got, c.answer) << Printable(got);
        // No second answer; a base may get its keep-alive, a rover nothing.
        std::string extra = peer.ReadAvailable(200);
        EXPECT_TRUE(extra.empty() || extra == kKeepAlive) << Printable(extra);
        EXPECT_FALSE(peer.PeerClosed());

        std::string seen;
        EXPECT_TRUE(WaitListed(c.rovers, c.bases, &seen)) << "while connected: " << seen;
        EXPECT_EQ(RoverNum("BBB"), 0) << "a rover that never logged in on BBB";

        peer.Close();
        EXPECT_TRUE(WaitListed({}, {"AAA", "BBB"}, &seen)) << "after the close: " << seen;
        EXPECT_EQ(RoverNum("AAA"), 0);
        EXPECT_EQ(RoverNum("BBB"), 0);
        ASSERT_NO_FATAL_FAILURE(ExpectBbbStreamsToAFreshRover(c.name));
    }
    EXPECT_EQ(vorlane.CountInLogAtLeast("Rover login ok:demo, mountpoint:BBB", 4), 4) << "the fresh rovers alone";
}

// Each refused login counts: the connection hears seven refusals and stays
// open for the next try; the eighth refusal reaches the peer and the
// connection is closed. The right login on a new connection still works.
TEST_F(BlackboxOneLogin, TheEighthRefusedLoginClosesTheConnection)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));
    ASSERT_TRUE(vorlane.AddRoverAccount("old", "Old-Pw-55", VorlaneInstance::ExpiryText(-86400)));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    TestClient base;
    ASSERT_TRUE(LoginBase(&base, Port(), "MNT1", "Base-Pw-1"));

    struct Case {
        const char* name;
        std::string request;
        std::string refusal;
    } cases[] = {
        {"rover, wrong password", GetRequest("MNT1", "alice", "guess"), Refusal401(kRealmBadPassword)},
        {"rover, unknown user", GetRequest("MNT1", "mallory", "guess"), Refusal401(kRealmBadUser)},
        {"rover, expired account", GetRequest("MNT1", "old", "Old-Pw-55"), Refusal401("MNT1")},
        {"base, wrong password", SourceRequest("guess", "MNT2"), kBadPassword},
        {"base, reserved mount point", SourceRequest("Base-Pw-1", "NEAREST"), kMountTaken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestClient peer;
        ASSERT_TRUE(peer.Connect(Port()));
        for (int attempt = 1; attempt <= kRefusalLimit; ++attempt) {
            ASSERT_TRUE(peer.Send(c.request)) << "attempt " << attempt;
            std::string got = peer.ReadExactly(c.refusal.size(), RawPeers::kReplyMs);
            ASSERT_EQ(got, c.refusal) << "attempt " << attempt << ": " << Printable(got);
            if (attempt < kRefusalLimit) {
                ASSERT_FALSE(peer.PeerClosed()) << "closed after attempt " << attempt;
            }
        }
        EXPECT_TRUE(peer.WaitClosed(RawPeers::kReplyMs)) << "kept open after the eighth refusal";
    }

    TestClient rover;
    std::string reply;
    EXPECT_TRUE(LoginRover(&rover, Port(), "MNT1", "alice", "Alice-Pw-731", &reply)) << Printable(reply);
}

// The refusals of one connection add up, whatever they were: four requests
// not understood and four wrong passwords close it too.
TEST_F(BlackboxOneLogin, RefusalsAndRequestsNotUnderstoodShareOneLimit)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());
    TestClient base;
    ASSERT_TRUE(LoginBase(&base, Port(), "MNT1", "Base-Pw-1"));

    TestClient peer;
    ASSERT_TRUE(peer.Connect(Port()));
    const std::string refusal = Refusal401(kRealmBadPassword);
    for (int round = 0; round < kRefusalLimit / 2; ++round) {
        ASSERT_TRUE(peer.Send("GET nothing\r\n\r\n"));
        ASSERT_TRUE(peer.Send(GetRequest("MNT1", "alice", "guess")));
        std::string got = peer.ReadExactly(refusal.size(), RawPeers::kReplyMs);
        ASSERT_EQ(got, refusal) << "round " << round << ": " << Printable(got);
    }
    EXPECT_TRUE(peer.WaitClosed(RawPeers::kReplyMs)) << "kept open after eight refusals";
}

}  // namespace
