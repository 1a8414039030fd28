// The control-centre stories: one vorlane per case with an operator account,
// and control centres that connect to its control port and speak the
// management protocol with frames they build themselves.
#pragma once

#include "blackbox/CasterFixture.h"
#include "support/CtrlCenterClient.h"

#include <chrono>
#include <memory>
#include <thread>

namespace CtrlTexts {

const char* const kOperator = "op-anna";
const char* const kOperatorPassword = "Op-Pw-7";
const int kReplyMs = 3000;

// Body field numbers of the messages the stories read.
enum {
    ACK = 1,                 // ack_status of every reply body
    COMMON_MSG = 1,          // CommonMsg::MessageBody.msg
    COMMON_ACK = 2,          // CommonMsg::MessageBody.ack_status
    STATION_ITEMS = 2,       // base_station_info / rover_station_info
    BASE_ACCESS_POINT = 2,   // BaseStationInfo.access_point
    ROVER_NAME = 2,          // RoverStationInfo.rover_station_name
    ROVER_ACCESS_POINT = 3,  // RoverStationInfo.access_point
};

// Type 0 with the JSON text in CommonMsg::MessageBody.msg.
inline CtrlWire::Pb JsonRequest(const std::string& json) { return CtrlWire::Pb().Bytes(1, json); }

}  // namespace CtrlTexts

class CtrlTest : public CasterTest {
protected:
    void StartWithOperator()
    {
        ASSERT_TRUE(vorlane.AddOperatorAccount(CtrlTexts::kOperator, CtrlTexts::kOperatorPassword));
        ASSERT_NO_FATAL_FAILURE(StartCaster());
        // The control loop starts on its own thread beside the caster's.
        ASSERT_TRUE(WaitFor([&] { return PortAccepts(vorlane.ControlPort(), 100); }, 10000, 50))
            << "the control port never accepted";
    }

    void StartServing() override { StartWithOperator(); }

    // A control centre connected and, when asked, logged in (ack 20).
    std::unique_ptr<CtrlCenterClient> Centre(bool login = true)
    {
        auto c = std::make_unique<CtrlCenterClient>();
        EXPECT_TRUE(c->Connect(vorlane.ControlPort()));
        if (login) {
            EXPECT_EQ(c->Login(CtrlTexts::kOperator, CtrlTexts::kOperatorPassword), 20);
        }
        return c;
    }

    // The JSON answer of a type-0 request (its msg), "" when none came.
    std::string AskJson(CtrlCenterClient* c, const std::string& json, int32_t id = 9)
    {
        c->Request(0, id, CtrlTexts::JsonRequest(json));
        CtrlWire::Received r;
        if (!c->NextReply(&r, CtrlTexts::kReplyMs) || r.type != 1000 || r.id != id) return "<no answer>";
        CtrlWire::PbFields f = CtrlWire::ParsePb(r.body);
        EXPECT_EQ(f.Int(CtrlTexts::COMMON_ACK), 20);
        return f.Text(CtrlTexts::COMMON_MSG);
    }

    // True when nothing but heartbeats arrives for ms.
    static bool NothingButHeartbeats(CtrlCenterClient* c, int ms, CtrlWire::Received* got)
    {
        return !c->NextNonHeartbeat(got, ms);
    }
};
