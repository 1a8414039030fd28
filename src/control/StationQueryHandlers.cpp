// The base and rover lists, all at once (3, 5) or page by page (4, 6). The
// records are copied out under the registry locks; the items are built and
// the frames queued after the locks are released.
#include "control/CtrlHandlers.h"

#include "caster/centre/CasterScope.h"
#include "caster/registry/RegistrySnapshot.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"
#include "control/SplitReply.h"
#include "control/StationItems.h"
#include "control/UnitBody.h"
#include "runtime/FixedText.h"

#include "net/NHServer.h"

#include "VIVOProtoDecoding/StationInfoMsg.pb.h"

#include <cstring>
#include <ctime>

namespace {

int64_t Now() { return static_cast<int64_t>(time(nullptr)); }

// The caster's three registries: the lists copy connection figures and, for
// rovers, the serving base.
RegistryTables CasterTables()
{
    CasterScope scope = CasterScope_OfCenter();
    return RegistryTables{scope.conns, scope.bases, scope.rovers};
}

// The frames of one list reply, queued as one write. Thousands of rovers make
// hundreds of frames; queued one by one, the loop would append them all in
// one pass and the connection would pass its unsent limit and be dropped
// before the first byte left.
class ReplyFrames {
public:
    ReplyFrames(int type, int32_t id) : type_(static_cast<uint32_t>(type)), id_(id) {}

    SplitReply::Sink Sink()
    {
        return [this](const google::protobuf::Message& body, uint8_t more) {
            unsigned char frame[FRAME_SEND_BUFFER_SIZE];
            memset(frame, 0, sizeof(frame));
            size_t length = 0;
            // A frame that does not fit the buffer is left out.
            if (EncodeFrameEx(type_, id_, more, 0, &body, frame, sizeof(frame), &length) == 0) {
                bytes_.insert(bytes_.end(), frame, frame + length);
            }
        };
    }
    void Post(NHServer* server, uint64_t channelID)
    {
        if (server && !bytes_.empty()) NHServer_PostSend(server, channelID, bytes_.data(), bytes_.size());
    }

private:
    uint32_t type_;
    int32_t id_;
    std::vector<unsigned char> bytes_;
};

void SendBases(NHServer* server, uint64_t channelID, int type, int32_t id, const std::vector<BaseSnapshot>& bases,
               int64_t now, StationInfoMsg::BaseStationInfoResponse* response)
{
    ReplyFrames frames(type, id);
    SplitReply reply(response, "base_station_info", frames.Sink());
    StationInfoMsg::BaseStationInfo item;
    for (const BaseSnapshot& base : bases) {
        item.Clear();
        StationItem_FromBase(base, now, &item);
        reply.Add(item);
    }
    reply.Finish();
    frames.Post(server, channelID);
}

void SendRovers(NHServer* server, uint64_t channelID, int type, int32_t id, const std::vector<RoverSnapshot>& rovers,
                int64_t now, bool withMotion, StationInfoMsg::RoverStationInfoResponse* response)
{
    ReplyFrames frames(type, id);
    SplitReply reply(response, "rover_station_info", frames.Sink());
    StationInfoMsg::RoverStationInfo item;
    for (const RoverSnapshot& rover : rovers) {
        item.Clear();
        StationItem_FromRover(rover, now, withMotion, &item);
        reply.Add(item);
    }
    reply.Finish();
    frames.Post(server, channelID);
}

void RequestProcess_PageOfBaseStation(NHServer* server, uint64_t channelID, int32_t id,
                                      const StationInfoMsg::PageOfBaseStationInfoRequest& request, bool filter)
{
    int64_t now = Now();
    int total = 0;
    std::vector<BaseSnapshot> bases;
    StationPage page = {request.start_index(), request.page_count()};
    // A name that goes on past a NUL is in no station's name.
    if (!filter || FixedText_IsWhole(request.base_name())) {
        RegistrySnapshot_BasePage(CasterTables(), page, filter ? request.base_name() : std::string(), &total, &bases);
    }
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
    std::string baseName = (mode & 1) ? request.base_name() : std::string();
    std::string roverName = (mode & 2) ? request.rover_name() : std::string();
    // A name that goes on past a NUL names no base and no rover.
    if (FixedText_IsWhole(baseName) && FixedText_IsWhole(roverName)) {
        RegistrySnapshot_RoverPage(CasterTables(), page, baseName, roverName, &total, &rovers);
    }
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
    RegistrySnapshot_OnlineBases(CasterTables(), &bases);
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
    RegistrySnapshot_Rovers(CasterTables(), &rovers);
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
