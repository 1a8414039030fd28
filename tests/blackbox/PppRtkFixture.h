// A "PPP-RTK" base as its stories play it: it logs in on the caster port like
// any base, then sends management frames and reads the answers on its own
// connection (frames it builds itself, support/CtrlCenterClient.h).
#pragma once

#include "blackbox/CasterFixture.h"
#include "support/CtrlCenterClient.h"

#include <string>
#include <vector>

namespace PppRtkTexts {

const int kReplyMs = 3000;
const std::string kSync = "\xAA\x41\x13\x42";

// PPPRAStationRequest {client_info: PPPRAStationInfo {station_id, station_name, station_ip}}.
inline CtrlWire::Pb StationRequest(int32_t id, const std::string& name, const std::string& ip = "10.0.0.1")
{
    return CtrlWire::Pb().Message(2, CtrlWire::Pb().Int(1, id).Bytes(2, name).Bytes(4, ip));
}

// ClientInfoRequest {client_info: ClientInfo {client_id, client_name}}.
inline CtrlWire::Pb ClientRequest(int32_t id, const std::string& name)
{
    return CtrlWire::Pb().Message(2, CtrlWire::Pb().Int(1, id).Bytes(2, name));
}

}  // namespace PppRtkTexts

class PppRtkBaseTest : public CasterTest {
protected:
    // Starts the caster (open logins) and logs the base in under "PPP-RTK".
    void StartWithPppRtkBase()
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
    bool NextFrame(CtrlWire::Received* out, int timeoutMs = PppRtkTexts::kReplyMs)
    {
        if (base.ReadUntil(PppRtkTexts::kSync, timeoutMs).empty()) return false;
        std::string head = PppRtkTexts::kSync + base.ReadExactly(25, timeoutMs);
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

    // Sends a client update (always answered, 1044) and collects the
    // frames that come before its answer: everything sent before it has
    // been handled then. False when its answer never came.
    bool Sync(int32_t clientId, std::vector<CtrlWire::Received>* before)
    {
        Send(43, 900, PppRtkTexts::ClientRequest(clientId, "sync"));
        CtrlWire::Received r;
        while (NextFrame(&r)) {
            if (r.type == 1044) {
                int64_t ack = 0;
                if (Item(r, &ack).Int(1) == clientId) return true;
            }
            if (before) before->push_back(r);
        }
        return false;
    }

    TestClient base;
};
