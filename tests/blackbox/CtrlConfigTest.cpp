// The service and warning configuration through the control port: read,
// written to "VorlaneConfig.json" first and applied only then, a failed
// write that changes nothing, the alarm posts that an applied warning
// configuration starts, pauses and resumes, and the request that stops the
// caster loop.
#include "blackbox/CtrlFixture.h"
#include "support/FakeAuthCentre.h"
#include "support/Files.h"

#include <json/json.h>
#include <sys/stat.h>

namespace {

using namespace CtrlTexts;
using CtrlWire::Pb;
using CtrlWire::PbFields;
using CtrlWire::Received;

class BlackboxCtrlConfig : public CtrlTest {
protected:
    // The reply of one request: its body fields.
    PbFields Ask(CtrlCenterClient* c, uint32_t type, uint32_t replyType, const Pb& body, int32_t id = 5)
    {
        c->Request(type, id, body);
        Received r;
        EXPECT_TRUE(c->NextReply(&r, kReplyMs)) << "no reply to type " << type;
        EXPECT_EQ(r.type, replyType);
        EXPECT_EQ(r.id, id);
        return CtrlWire::ParsePb(r.body);
    }

    Json::Value ConfigFile()
    {
        Json::Value root;
        std::string text = ReadFile(vorlane.File("VorlaneConfig.json"));
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        reader->parse(text.data(), text.data() + text.size(), &root, &errors);
        return root;
    }
};

// ConfigServiceInfo field numbers.
enum { PROTOCOL = 1, PORT, OFFLINE_TIME, BASE_MODE, ROVER_MODE, SOFTWARE_NAME, NEAREST, MULTI_USER, USER_COUNT, GGA_LOG };

TEST_F(BlackboxCtrlConfig, ServiceSettingsAreWrittenThenAppliedAndAFailedWriteChangesNothing)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();

    PbFields read = Ask(c.get(), 16, 1016, Pb());
    EXPECT_EQ(read.Int(ACK), 20);
    PbFields info = CtrlWire::ParsePb(read.Text(3));
    EXPECT_EQ(info.Int(PORT), Port());
    EXPECT_EQ(info.Int(PROTOCOL), 1);

    // protocol 0 becomes 1, mode 5 becomes 0, a switch of 2 is off.
    Pb wanted;
    wanted.Int(PROTOCOL, 0).Int(PORT, 7777).Int(OFFLINE_TIME, 33).Int(BASE_MODE, 5).Int(ROVER_MODE, 1);
    wanted.Int(SOFTWARE_NAME, 2).Int(NEAREST, 1).Int(MULTI_USER, 1).Int(USER_COUNT, 4).Int(GGA_LOG, 1);
    PbFields written = Ask(c.get(), 17, 1017, Pb().Message(1, wanted));
    EXPECT_EQ(written.Int(ACK), 20);
    info = CtrlWire::ParsePb(written.Text(3));
    EXPECT_EQ(info.Int(PROTOCOL), 1);
    EXPECT_EQ(info.Int(PORT), 7777);
    EXPECT_EQ(info.Int(OFFLINE_TIME), 33);
    EXPECT_EQ(info.Int(BASE_MODE), 0);
    EXPECT_EQ(info.Int(ROVER_MODE), 1);
    EXPECT_EQ(info.Int(SOFTWARE_NAME), 0);
    EXPECT_EQ(info.Int(USER_COUNT), 4);

    Json::Value file = ConfigFile();
    EXPECT_EQ(file["ntrip_server"]["port"].asInt(), 7777);
    EXPECT_EQ(file["ntrip_server"]["base_offline_time"].asInt(), 33);
    EXPECT_EQ(file["ntrip_server"]["rover_login_mode"].asInt(), 1);
    EXPECT_EQ(file["ctrl_center_server"]["port"].asInt(), vorlane.ControlPort());

    // Live: the listener stays where it is, and rover_login_mode 1 lets a
    // rover in without any account.
    EXPECT_TRUE(PortAccepts(Port(), 1000));
    TestClient base, rover;
    ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1"));
    EXPECT_TRUE(RawPeers::LoginRover(&rover, Port(), "MNT1", "nobody", "none"));

    // The file cannot be replaced: 40, and the live settings stay.
    std::string path = vorlane.File("VorlaneConfig.json");
    ASSERT_EQ(remove(path.c_str()), 0);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    Pb other;
    other.Int(PORT, 7777).Int(OFFLINE_TIME, 99).Int(USER_COUNT, 9);
    EXPECT_EQ(Ask(c.get(), 17, 1017, Pb().Message(1, other)).Int(ACK), 40);
    info = CtrlWire::ParsePb(Ask(c.get(), 16, 1016, Pb()).Text(3));
    EXPECT_EQ(info.Int(OFFLINE_TIME), 33);
    EXPECT_EQ(info.Int(USER_COUNT), 4);
    EXPECT_EQ(info.Int(ROVER_MODE), 1);
    rmdir(path.c_str());
}

// WarningConfigInfo from its fields.
Pb Warning(const std::string& url, int enableWarn)
{
    return Pb().Message(1, Pb().Bytes(1, url).Int(2, 60).Int(3, 30).Int(4, 100).Int(5, enableWarn));
}

TEST_F(BlackboxCtrlConfig, AppliedWarningSettingsStartPauseAndResumeTheAlarmPosts)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    FakeAuthCentre endpoint{FakeAuthCentre::Answer()};
    std::string url = "http://127.0.0.1:" + std::to_string(endpoint.Port()) + "/alarm";
    auto c = Centre();

    EXPECT_EQ(Ask(c.get(), 46, 1021, Pb()).Int(ACK), 30) << "nothing applied yet";

    PbFields applied = Ask(c.get(), 47, 1022, Warning(url, 1));
    EXPECT_EQ(applied.Int(ACK), 20);
    PbFields echoed = CtrlWire::ParsePb(applied.Text(3));
    EXPECT_EQ(echoed.Text(1), url);
    EXPECT_EQ(echoed.Int(5), 1);
    PbFields read = Ask(c.get(), 46, 1021, Pb());
    EXPECT_EQ(read.Int(ACK), 20);
    EXPECT_EQ(CtrlWire::ParsePb(read.Text(3)).Int(2), 60);
    EXPECT_EQ(ConfigFile()["warning"]["url"].asString(), url);

    auto baseComesAndGoes = [&] {
        TestClient base;
        ASSERT_TRUE(RawPeers::LoginBase(&base, Port(), "MNT1", "Base-Pw-1"));
        Received r;
        ASSERT_TRUE(c->WaitFor(2002, &r, kReplyMs));
        base.Close();
        ASSERT_TRUE(c->WaitFor(2003, &r, kReplyMs));
    };
    baseComesAndGoes();
    ASSERT_TRUE(endpoint.WaitRequests(1, 5000)) << "no alarm posted";
    std::string body = FakeAuthCentre::BodyOf(endpoint.Requests()[0]);
    EXPECT_NE(body.find("\"base_offline\""), std::string::npos) << body;
    EXPECT_NE(body.find("\"MNT1\""), std::string::npos) << body;
    EXPECT_NE(endpoint.Requests()[0].find("application/json"), std::string::npos);

    // Disabled: paused, nothing posted.
    EXPECT_EQ(Ask(c.get(), 47, 1022, Warning(url, 0)).Int(ACK), 20);
    EXPECT_TRUE(vorlane.WaitForLog("Pause post thread."));
    baseComesAndGoes();
    EXPECT_FALSE(endpoint.WaitRequests(2, 1000)) << "posted while disabled";

    // Enabled again: the same worker resumes.
    EXPECT_EQ(Ask(c.get(), 47, 1022, Warning(url, 1)).Int(ACK), 20);
    EXPECT_TRUE(vorlane.WaitForLog("Resume post thread."));
    baseComesAndGoes();
    EXPECT_TRUE(endpoint.WaitRequests(2, 5000)) << "no alarm after resuming";
    EXPECT_EQ(vorlane.CountInLogAtLeast("Start PostMsgThreadFuc.", 1), 1);
}

TEST_F(BlackboxCtrlConfig, StopRequestEndsTheCasterLoop)
{
    ASSERT_NO_FATAL_FAILURE(StartWithOperator());
    auto c = Centre();
    c->Request(18, 6, Pb());
    bool stopped = false;
    for (int i = 0; i < 50 && !stopped; ++i) {
        stopped = !PortAccepts(Port(), 100);
        if (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(stopped) << "the caster port still accepts";
    EXPECT_TRUE(vorlane.WaitForLog("Stop Vorlane"));
    stopAtEnd_ = false;
}

}  // namespace
