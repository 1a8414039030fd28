#include "control/CtrlHooks.h"

#include "caster/centre/CtrlNotify.h"
#include "config/VorlaneConfig.h"
#include "control/AckCodes.h"
#include "control/CtrlResponse.h"
#include "control/CtrlWarnConfig.h"
#include "control/NtripRespHandle.h"
#include "runtime/Utf8Text.h"

#include "VIVOProtoDecoding/StationInfoMsg.pb.h"

bool CtrlHooks_Init(Ntrip::Vorlane*, const char* ip, int port)
{
    // A warning section that names an endpoint (one a control centre wrote
    // in an earlier run) is in force from the start; the empty section of a
    // fresh installation is not a configuration.
    WarningConfig stored;
    if (Ntrip::LoadWarningJsonConfig(&stored) && stored.url[0] != '\0') {
        CtrlWarnConfig_MarkApplied();
    }
    return CtrlResponse_Init(ip, port);
}

void CtrlHooks_Start(Ntrip::Vorlane*) { RTS::NtripRespHandle_Start(); }

bool CtrlHooks_Stop(unsigned timeoutMs) { return RTS::NtripRespHandle_Stop(timeoutMs); }

// Names go out as the lists send them, valid UTF-8 whatever a peer logged in
// with: the control centre refuses a whole frame over one bad string.
void CtrlHooks_Notify(int type, const Ntrip::CtrlNotice& notice)
{
    switch (type) {
    case Ntrip::CTRL_NOTIFY_BASE_TIMEOUT:
    case Ntrip::CTRL_NOTIFY_BASE_LOGIN:
    case Ntrip::CTRL_NOTIFY_BASE_OFFLINE: {
        StationInfoMsg::BaseStationInfoResponse message;
        message.set_ack_status(ACK_DONE);
        StationInfoMsg::BaseStationInfo* item = message.add_base_station_info();
        if (type == Ntrip::CTRL_NOTIFY_BASE_TIMEOUT) item->set_id(notice.baseSequence);
        if (notice.accessPoint) item->set_access_point(Utf8_Clean(notice.accessPoint));
        CtrlResponse_SendNotify(type, message);
        break;
    }
    case Ntrip::CTRL_NOTIFY_ROVER_LOGIN:
    case Ntrip::CTRL_NOTIFY_ROVER_LOGOUT: {
        StationInfoMsg::RoverStationInfoResponse message;
        message.set_ack_status(ACK_DONE);
        StationInfoMsg::RoverStationInfo* item = message.add_rover_station_info();
        if (notice.roverName) item->set_rover_station_name(Utf8_Clean(notice.roverName));
        if (notice.accessPoint) item->set_access_point(Utf8_Clean(notice.accessPoint));
        CtrlResponse_SendNotify(type, message);
        break;
    }
    default:
        break;
    }
}
