// Kicking a base (7) or a rover (9), removing a station (8) and putting a
// base on the black list (10). Each acts on the first item of the request;
// a request without one is not answered. A name that goes on past a NUL
// names no station: nothing is closed, removed or listed for it.
#include "control/CtrlHandlers.h"

#include "caster/centre/Vorlane.h"
#include "caster/session/ConnectionClose.h"
#include "caster/session/StationRemoval.h"
#include "control/AckCodes.h"
#include "control/CtrlReply.h"
#include "control/MessageTypes.h"
#include "control/UnitBody.h"
#include "runtime/FixedText.h"
#include "store/StationListDb.h"

#include "VIVOProtoDecoding/StationInfoMsg.pb.h"

namespace {

const StationInfoMsg::BaseStationInfo* FirstBase(const RVZ::RVZProtoMsg* unit)
{
    const auto* request = UnitBody<StationInfoMsg::BaseStationInfoRequest>(unit);
    if (!request || request->base_station_info_size() == 0) return nullptr;
    return &request->base_station_info(0);
}

// The reply naming the base acted on: ack 20 and one item with its id and
// name, the name cut so that the reply is sent whatever its length.
void ReplyBase(NHServer* server, uint64_t channelID, int type, int32_t id, uint32_t itemId, const std::string& name)
{
    StationInfoMsg::BaseStationInfoResponse response;
    response.set_ack_status(ACK_DONE);
    StationInfoMsg::BaseStationInfo* item = response.add_base_station_info();
    item->set_id(itemId);
    item->set_access_point(CtrlReply_EchoText(name));
    CtrlReply_Send(server, channelID, type, id, response);
}

}  // namespace

void RequestProcess_KickBaseStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const StationInfoMsg::BaseStationInfo* base = FirstBase(unit);
    if (!base) return;
    if (FixedText_IsWhole(base->access_point())) CloseBaseConnection(base->access_point().c_str());
    // Answered whether or not such a base was online.
    ReplyBase(server, channelID, MSG_CLOSE_BASE_RESPONSE, unit->id, base->id(), base->access_point());
}

void RequestProcess_RemoveBaseStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const StationInfoMsg::BaseStationInfo* base = FirstBase(unit);
    if (!base) return;
    // Only a station the registry held is answered.
    if (!FixedText_IsWhole(base->access_point()) || !RemoveBaseStation(base->access_point().c_str())) return;
    ReplyBase(server, channelID, MSG_REMOVE_BASE_RESPONSE, unit->id, base->id(), base->access_point());
}

void RequestProcess_KickRoverStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const auto* request = UnitBody<StationInfoMsg::RoverStationInfoRequest>(unit);
    if (!request || request->rover_station_info_size() == 0) return;
    const StationInfoMsg::RoverStationInfo& rover = request->rover_station_info(0);
    if (FixedText_IsWhole(rover.rover_station_name())) CloseRoverConnection(rover.rover_station_name().c_str());

    StationInfoMsg::RoverStationInfoResponse response;
    response.set_ack_status(ACK_DONE);
    StationInfoMsg::RoverStationInfo* item = response.add_rover_station_info();
    item->set_id(rover.id());
    item->set_access_point(CtrlReply_EchoText(rover.access_point()));
    item->set_rover_station_name(CtrlReply_EchoText(rover.rover_station_name()));
    CtrlReply_Send(server, channelID, MSG_CLOSE_ROVER_RESPONSE, unit->id, response);
}

void RequestProcess_BlockBaseStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const StationInfoMsg::BaseStationInfo* base = FirstBase(unit);
    if (!base) return;
    const char* name = base->access_point().c_str();
    // Into the store's own black list, on disk and in memory, so the base
    // cannot log in again from now on; a name listed already is not added twice.
    StationListDb* lists = GetStationListDb();
    if (FixedText_IsWhole(base->access_point())) {
        if (lists && !lists->IsBlack(name)) lists->AddBlack(name);
        CloseBaseConnection(name);
    }
    ReplyBase(server, channelID, MSG_BLACKLIST_BASE_RESPONSE, unit->id, 0, base->access_point());
}
