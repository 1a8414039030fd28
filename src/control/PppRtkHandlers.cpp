#include "control/PppRtkHandlers.h"

#include "caster/centre/Vorlane.h"
#include "control/AckCodes.h"
#include "control/CtrlReply.h"
#include "control/FrameDecode.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"
#include "control/PppRaTable.h"
#include "control/RVZProtoMsg.h"
#include "control/WindowedFrameScan.h"
#include "decoding/DecodeExecutor.h"
#include "net/NHServer.h"
#include "runtime/Log.h"
#include "runtime/Utf8Text.h"

#include "VIVOProtoDecoding/PPPRAInfoMsg.pb.h"
#include "VIVOProtoDecoding/UpdClientInfoMsg.pb.h"

#include <cstring>
#include <exception>

namespace {

const int PPPRTK_WORKERS = 1;

bool Encode(uint32_t type, const google::protobuf::Message& body, std::vector<unsigned char>* reply)
{
    unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
    memset(buffer, 0, sizeof(buffer));
    size_t length = 0;
    if (EncodeFrame(type, PPPRTK_REPLY_ID, &body, buffer, sizeof(buffer), &length) != 0) return false;
    if (reply) reply->assign(buffer, buffer + length);
    return true;
}

// The station named back in 1045 and 1046: its id and name only.
bool EncodeStationReply(uint32_t type, const PPPRAInfoMsg::PPPRAStationInfo& station,
                        std::vector<unsigned char>* reply)
{
    PPPRAInfoMsg::PPPRAStationInfoResponse response;
    response.set_ack_status(ACK_PPPRTK);
    PPPRAInfoMsg::PPPRAStationInfo* item = response.add_client_info();
    item->set_station_id(station.station_id());
    item->set_station_name(CtrlReply_EchoText(station.station_name()));
    return Encode(type, response, reply);
}

void CopyText(char* field, size_t size, const std::string& text) { Utf8_CutCopy(field, size, text.c_str()); }

}  // namespace

DecodeExecutor* PppRtk_CreateExecutor(Ntrip::Vorlane*)
{
    return DecodeExecutor_Create(PPPRTK_WORKERS, PppRtkFrameScan, Ntrip::PppRtkDecodeExecute);
}

PppRaTable* PppRtk_CreateTable() { return PppRaTable::Create(); }

bool RequestProcess_PPPRAStationInfo(PppRaTable* table, const PPPRAInfoMsg::PPPRAStationRequest& request,
                                     std::vector<unsigned char>* reply)
{
    if (!table || request.client_info_size() != 1) return false;
    const PPPRAInfoMsg::PPPRAStationInfo& station = request.client_info(0);
    PppRaRecord record;
    memset(&record, 0, sizeof(record));
    record.stationId = station.station_id();
    record.stationPort = station.station_port();
    CopyText(record.stationIp, sizeof(record.stationIp), station.station_ip());
    CopyText(record.externalIp, sizeof(record.externalIp), station.station_ex_ip());
    CopyText(record.sourceList, sizeof(record.sourceList), station.source_list());
    record.b = station.client_blh().b();
    record.l = station.client_blh().l();
    record.h = station.client_blh().h();
    record.x = station.station_m_xyz().x();
    record.y = station.station_m_xyz().y();
    record.z = station.station_m_xyz().z();
    record.n = station.station_neu().n();
    record.e = station.station_neu().e();
    record.u = station.station_neu().u();
    PppRaTable::Lock();
    bool stored = table->Upsert(&record);
    PppRaTable::Unlock();
    // A report the table could not take is not acknowledged.
    if (!stored) return false;
    return EncodeStationReply(MSG_PPPRA_STATION_UPSERT_RESPONSE, station, reply);
}

bool RequestProcess_UpdClientInfo(PppRaTable* table, const UpdClientInfoMsg::ClientInfoRequest& request,
                                  std::vector<unsigned char>* reply)
{
    if (!table || request.client_info_size() != 1) return false;
    const UpdClientInfoMsg::ClientInfo& client = request.client_info(0);
    PppRaRecord record;
    memset(&record, 0, sizeof(record));
    record.stationId = client.client_id();
    record.stationPort = client.client_port();
    CopyText(record.stationIp, sizeof(record.stationIp), client.client_ip());
    CopyText(record.sourceList, sizeof(record.sourceList), client.source_list());
    record.b = client.client_blh().b();
    record.l = client.client_blh().l();
    record.h = client.client_blh().h();
    record.x = client.client_vblh().b();
    record.y = client.client_vblh().l();
    record.z = client.client_vblh().h();
    record.n = client.client_dneu().n();
    record.e = client.client_dneu().e();
    record.u = client.client_dneu().u();
    PppRaTable::Lock();
    table->Update(&record);  // a client without a station changes nothing
    PppRaTable::Unlock();

    UpdClientInfoMsg::ClientInfoResponse response;
    response.set_ack_status(ACK_PPPRTK);
    UpdClientInfoMsg::ClientInfo* item = response.add_client_info();
    item->set_client_id(client.client_id());
    item->set_client_name(CtrlReply_EchoText(client.client_name()));
    return Encode(MSG_CLIENT_INFO_UPDATE_RESPONSE, response, reply);
}

bool RequestProcess_PPPRAStationRemove(PppRaTable* table, const PPPRAInfoMsg::PPPRAStationRequest& request,
                                       std::vector<unsigned char>* reply)
{
    if (!table || request.client_info_size() != 1) return false;
    const PPPRAInfoMsg::PPPRAStationInfo& station = request.client_info(0);
    PppRaTable::Lock();
    bool removed = table->Remove(station.station_id()) != nullptr;
    PppRaTable::Unlock();
    if (!removed) return false;
    return EncodeStationReply(MSG_PPPRA_STATION_REMOVE_RESPONSE, station, reply);
}

bool PppRtk_Handle(PppRaTable* table, const RVZ::RVZProtoMsg* unit, std::vector<unsigned char>* reply)
{
    if (!unit || !unit->body) return false;
    switch (unit->type) {
    case MSG_CLIENT_INFO_UPDATE_REQUEST:
        if (auto* body = dynamic_cast<const UpdClientInfoMsg::ClientInfoRequest*>(unit->body)) {
            return RequestProcess_UpdClientInfo(table, *body, reply);
        }
        return false;
    case MSG_PPPRA_STATION_UPSERT_REQUEST:
        if (auto* body = dynamic_cast<const PPPRAInfoMsg::PPPRAStationRequest*>(unit->body)) {
            return RequestProcess_PPPRAStationInfo(table, *body, reply);
        }
        return false;
    case MSG_PPPRA_STATION_REMOVE_REQUEST:
        if (auto* body = dynamic_cast<const PPPRAInfoMsg::PPPRAStationRequest*>(unit->body)) {
            return RequestProcess_PPPRAStationRemove(table, *body, reply);
        }
        return false;
    default:
        return false;
    }
}

namespace Ntrip {

bool PppRtkDecodeExecute(Tarnek::LogRoot** unit, uint64_t channelID)
{
    Tarnek::LogRoot* root = unit ? *unit : nullptr;
    if (!root) return true;
    if (root->GetKind() == Tarnek::LOG_KIND_MANAGEMENT) {
        RVZ::RVZProtoMsg* message = static_cast<RVZ::RVZProtoMsg*>(root);
        // The worker serves every PPP-RTK base: a request that still makes a
        // library throw is dropped with a line, and the worker goes on.
        try {
            std::vector<unsigned char> reply;
            if (PppRtk_Handle(GetPppRaTable(), message, &reply)) {
                NHServer* server = GetNetServer();
                if (server) NHServer_PostSend(server, channelID, reply.data(), reply.size());
            }
        } catch (const std::exception& e) {
            Log_Error("%s:type %u from channelID:%llu failed (%s), dropped", "Ntrip::PppRtkDecodeExecute",
                      message->type, static_cast<unsigned long long>(channelID), e.what());
        } catch (...) {
            Log_Error("%s:type %u from channelID:%llu failed, dropped", "Ntrip::PppRtkDecodeExecute", message->type,
                      static_cast<unsigned long long>(channelID));
        }
    }
    delete root;
    *unit = nullptr;
    return true;
}

}  // namespace Ntrip
