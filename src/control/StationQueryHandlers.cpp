// The base and rover lists, all at once (3, 5) or page by page (4, 6). The
// records are copied out under the registry locks; the items are built and
// the frames queued after the locks are released.
#include "control/CtrlHandlers.h"

#include "caster/centre/CasterScope.h"
#include "control/CtrlReply.h"
#include "control/MessageTypes.h"
#include "control/SplitReply.h"
#include "control/StationItems.h"
#include "control/StationSnapshot.h"
#include "control/UnitBody.h"

#include "VIVOProtoDecoding/StationInfoMsg.pb.h"

#include <ctime>

namespace {

int64_t Now() { return static_cast<int64_t>(time(nullptr)); }

SplitReply::Sink SendTo(NHServer* server, uint64_t channelID, int type, int32_t id)
{
    return [=](const google::protobuf::Message& body, uint8_t more) {
        CtrlReply_SendMore(server, channelID, type, id, more, body);
    };
}

void SendBases(NHServer* server, uint64_t channelID, int type, int32_t id, const std::vector<BaseSnapshot>& bases,
               int64_t now, StationInfoMsg::BaseStationInfoResponse* response)
{
    SplitReply reply(response, "base_station_info", SendTo(server, channelID, type, id));
    StationInfoMsg::BaseStationInfo item;
    for (const BaseSnapshot& base : bases) {
        item.Clear();
        StationItem_FromBase(base, now, &item);
        reply.Add(item);
    }
    reply.Finish();
}

void SendRovers(NHServer* server, uint64_t channelID, int type, int32_t id, const std::vector<RoverSnapshot>& rovers,
                int64_t now, bool withMotion, StationInfoMsg::RoverStationInfoResponse* response)
{
    SplitReply reply(response, "rover_station_info", SendTo(server, channelID, type, id));
    StationInfoMsg::RoverStationInfo item;
    for (const RoverSnapshot& rover : rovers) {
        item.Clear();
        StationItem_FromRover(rover, now, withMotion, &item);
        reply.Add(item);
    }
    reply.Finish();
}

void RequestProcess_PageOfBaseStation(NHServer* server, uint64_t channelID, int32_t id,
                                      const StationInfoMsg::PageOfBaseStationInfoRequest& request, bool filter)
{
    int64_t now = Now();
    int total = 0;
    std::vector<BaseSnapshot> bases;
    StationPage page = {request.start_index(), request.page_count()};
    StationSnapshot_BasePage(CasterScope_OfCenter(), page, filter ? request.base_name() : std::string(), &total,
                             &bases);
    StationInfoMsg::BaseStationInfoResponse response;
    response.set_total_count(total);
    SendBases(server, channelID, MSG_PAGE_OF_BASES_RESPONSE, id, bases, now, &response);
}

void RequestProcess_PageOfRoverStation(NHServer* server, uint64_t channelID, int32_t id,
                                       const StationInfoMsg::PageOfRoverStationInfoRequest& request, int mode)
{
    int64_t now = Now();
    int total = 0;
    std::vector<RoverSnapshot> rovers;
    StationPage page = {request.start_index(), request.page_count()};
    StationSnapshot_RoverPage(CasterScope_OfCenter(), page, (mode & 1) ? request.base_name() : std::string(),
                              (mode & 2) ? request.rover_name() : std::string(), &total, &rovers);
    StationInfoMsg::RoverStationInfoResponse response;
    response.set_total_count(total);
    SendRovers(server, channelID, MSG_PAGE_OF_ROVERS_RESPONSE, id, rovers, now, true, &response);
}

}  // namespace

void RequestProcess_BaseStationList(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    if (!UnitBody<StationInfoMsg::BaseStationInfoRequest>(unit)) return;
    int64_t now = Now();
    std::vector<BaseSnapshot> bases;
    StationSnapshot_OnlineBases(CasterScope_OfCenter(), &bases);
    StationInfoMsg::BaseStationInfoResponse response;
    SendBases(server, channelID, MSG_ALL_BASES_RESPONSE, unit->id, bases, now, &response);
}

void RequestProcess_BaseStationPage(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const auto* request = UnitBody<StationInfoMsg::PageOfBaseStationInfoRequest>(unit);
    if (!request) return;
    RequestProcess_PageOfBaseStation(server, channelID, unit->id, *request, !request->base_name().empty());
}

void RequestProcess_RoverStationList(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    if (!UnitBody<StationInfoMsg::RoverStationInfoRequest>(unit)) return;
    int64_t now = Now();
    std::vector<RoverSnapshot> rovers;
    StationSnapshot_Rovers(CasterScope_OfCenter(), &rovers);
    StationInfoMsg::RoverStationInfoResponse response;
    SendRovers(server, channelID, MSG_ALL_ROVERS_RESPONSE, unit->id, rovers, now, false, &response);
}

void RequestProcess_RoverStationPage(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const auto* request = UnitBody<StationInfoMsg::PageOfRoverStationInfoRequest>(unit);
    if (!request) return;
    int mode = (request->rover_name().empty() ? 0 : 2) + (request->base_name().empty() ? 0 : 1);
    RequestProcess_PageOfRoverStation(server, channelID, unit->id, *request, mode);
}
