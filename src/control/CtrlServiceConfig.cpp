// Types 16, 17 and 18: reading and changing the caster's service settings,
// and stopping the caster loop.
#include "control/CtrlHandlers.h"

#include "caster/centre/Vorlane.h"
#include "config/ConfigPath.h"
#include "config/VorlaneConfig.h"
#include "control/AckCodes.h"
#include "control/CtrlReply.h"
#include "control/CtrlServiceConfig.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"
#include "control/RVZProtoMsg.h"
#include "control/ReplyEncode.h"
#include "net/NHServer.h"
#include "runtime/ExeDir.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"

#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"

#include <cstring>
#include <memory>

namespace {

const size_t LIVE_IP_KEPT = 30;
// A written configuration re-binds rovers at the distance the file's
// readers default to.
const int32_t ROVER_DISTANCE_LIMIT = 5000;

int OneOrZero(int value) { return value == 1 ? 1 : 0; }

const int32_t PORT_MIN = 1;
const int32_t PORT_MAX = 65535;

// Settings the caster can run with: a port it can listen on (the next start
// reads it), and no negative time-out or count.
bool ConfigInfo_IsValid(const ServiceOpMsg::ConfigServiceInfo& info)
{
    return info.port() >= PORT_MIN && info.port() <= PORT_MAX && info.base_auto_offline_time() >= 0 &&
           info.user_count() >= 0;
}

}  // namespace

void NtripServerConfigToConfigServiceInfo(const NtripServerConfig* record, ServiceOpMsg::ConfigServiceInfo* info)
{
    int32_t protocol = record->protocol;
    if (protocol == 1 || protocol == 2) info->set_protocol_type(static_cast<ServiceOpMsg::PROTOCOL_TYPE>(protocol));
    info->set_port(record->port);
    info->set_base_auto_offline_time(record->base_offline_time);
    int32_t baseMode = record->base_login_mode;
    if (baseMode == 0 || baseMode == 1) info->set_base_login_mode(static_cast<ServiceOpMsg::STATION_LOGIN_MODE>(baseMode));
    int32_t roverMode = record->rover_login_mode;
    if (roverMode == 0 || roverMode == 1) {
        info->set_rover_login_mode(static_cast<ServiceOpMsg::STATION_LOGIN_MODE>(roverMode));
    }
    info->set_use_software_name(OneOrZero(record->use_software_name));
    info->set_broadcast_nearest(OneOrZero(record->broadcast_nearest));
    info->set_one_account_multi_user(OneOrZero(record->one_account_multi_user));
    info->set_user_count(record->user_count);
    info->set_rover_gga_log(OneOrZero(record->rover_gga_log));
}

void ConfigServiceInfoToNtripServerConfig(const ServiceOpMsg::ConfigServiceInfo& info, NtripServerConfig* record)
{
    record->protocol = info.protocol_type() == 2 ? 2 : 1;
    record->port = info.port();
    record->base_offline_time = info.base_auto_offline_time();
    record->base_login_mode = OneOrZero(info.base_login_mode());
    record->rover_login_mode = OneOrZero(info.rover_login_mode());
    record->use_software_name = OneOrZero(info.use_software_name());
    record->broadcast_nearest = OneOrZero(info.broadcast_nearest());
    record->one_account_multi_user = OneOrZero(info.one_account_multi_user());
    record->rover_gga_log = OneOrZero(info.rover_gga_log());
    record->user_count = info.user_count();
}

void RequestProcess_GetServiceConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    if (!unit) return;
    ServiceOpMsg::ConfigServiceResponse reply;
    std::shared_ptr<const NtripServerConfig> live = GetNtripServerConfig();
    if (live) {
        reply.set_ack_status(ACK_DONE);
        NtripServerConfigToConfigServiceInfo(live.get(), reply.mutable_config_info());
    } else {
        reply.set_ack_status(ACK_NO_RECORD);
    }
    CtrlReply_Send(server, channelID, MSG_READ_SERVICE_CONFIG_RESPONSE, unit->id, reply);
}

void RequestProcess_ServiceConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const ServiceOpMsg::ConfigServiceRequest* request =
        unit ? dynamic_cast<const ServiceOpMsg::ConfigServiceRequest*>(unit->body) : nullptr;
    if (!request || !GetNtripServerConfig()) return;

    const ServiceOpMsg::ConfigServiceInfo& info = request->config_info();
    if (!ConfigInfo_IsValid(info)) {
        Log_Info("%s:port %d, base offline time %d, user count %d refused; nothing written",
                 "RequestProcess_ServiceConfig", info.port(), info.base_auto_offline_time(), info.user_count());
        unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
        memset(buffer, 0, sizeof(buffer));
        size_t length = 0;
        if (EncodeConfigServiceResponse(unit->id, ACK_WRITE_FAILED, buffer, sizeof(buffer), &length) == 0) {
            NHServer_PostSend(server, channelID, buffer, length);
        }
        return;
    }

    char path[CONFIG_PATH_SIZE];
    if (!ExeDir_FindFile(VORLANE_CONFIG_FILE, path, sizeof(path), nullptr)) {
        Log_Error("RequestProcess_ServiceConfig: GetExeDirPathInWin - failed");
        return;
    }

    // Under the lock no other writer publishes: the copy taken here is the
    // one this write replaces.
    ScopedLock guard(VorlaneConfig_FileLock());
    std::shared_ptr<const NtripServerConfig> live = GetNtripServerConfig();
    NtripServerConfig fresh;
    memset(&fresh, 0, sizeof(fresh));
    // The address stays: a listener does not move at run time.
    memcpy(fresh.ip, live->ip, LIVE_IP_KEPT);
    fresh.ip[LIVE_IP_KEPT] = '\0';
    ConfigServiceInfoToNtripServerConfig(info, &fresh);
    fresh.rover_distance_limit = ROVER_DISTANCE_LIMIT;

    ServiceOpMsg::ConfigServiceResponse reply;
    if (!WriteJsonConfig(path, &fresh, GetCtrlCenterConfig(), GetHttpServerConfig())) {
        Log_Error("%s:writing %s failed; the settings stay as they were", "RequestProcess_ServiceConfig", path);
        reply.set_ack_status(ACK_WRITE_FAILED);
        CtrlReply_Send(server, channelID, MSG_WRITE_SERVICE_CONFIG_RESPONSE, unit->id, reply);
        return;
    }
    // Readers from here on take the new copy whole; one that started before
    // keeps the old one to its end.
    Ntrip::Vorlane_PublishNtripServerConfig(fresh);
    Log_Info("%s:service settings written and applied (port %d takes effect at the next start)",
             "RequestProcess_ServiceConfig", fresh.port);

    reply.set_ack_status(ACK_DONE);
    NtripServerConfigToConfigServiceInfo(GetNtripServerConfig().get(), reply.mutable_config_info());
    CtrlReply_Send(server, channelID, MSG_WRITE_SERVICE_CONFIG_RESPONSE, unit->id, reply);
}

void RequestProcess_StopServer(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    if (!unit) return;
    Log_Info("%s:channelID:%llu stops the caster loop", "RequestProcess_StopServer",
             static_cast<unsigned long long>(channelID));
    NHServer_Destroy(GetNetServer());
}
