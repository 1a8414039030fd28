// Types 46 and 47: reading and changing the warning settings that drive the
// alarm-post worker.
#include "control/CtrlWarnConfig.h"

#include "config/ConfigPath.h"
#include "config/VorlaneConfig.h"
#include "control/AckCodes.h"
#include "control/CtrlHandlers.h"
#include "control/CtrlReply.h"
#include "control/MessageTypes.h"
#include "control/RVZProtoMsg.h"
#include "runtime/ExeDir.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"
#include "runtime/Utf8Text.h"

#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<bool> g_applied{false};
CtrlWarningHooks g_hooks = {nullptr, nullptr};

bool CopyWarning(WarningConfig* out) { return g_hooks.copy && g_hooks.copy(out); }

void FillInfo(const WarningConfig& record, ServiceOpMsg::WarningConfigInfo* info)
{
    info->set_url(record.url);
    info->set_warninterval(record.warnInterval);
    info->set_datacountinterval(record.dataCountInterval);
    info->set_datalimit(record.dataLimit);
    info->set_enablewarn(record.enableWarn);
}

}  // namespace

void CtrlWarnConfig_SetHooks(const CtrlWarningHooks& hooks) { g_hooks = hooks; }

void CtrlWarnConfig_MarkApplied() { g_applied.store(true); }
bool CtrlWarnConfig_IsApplied() { return g_applied.load(); }

void RequestProcess_GetWarnConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    if (!unit) return;
    ServiceOpMsg::WarnConfigResponse reply;
    WarningConfig record;
    if (CtrlWarnConfig_IsApplied() && CopyWarning(&record)) {
        reply.set_ack_status(ACK_DONE);
        FillInfo(record, reply.mutable_warn_config());
    } else {
        reply.set_ack_status(ACK_NO_RECORD);
    }
    CtrlReply_Send(server, channelID, MSG_READ_WARN_CONFIG_RESPONSE, unit->id, reply);
}

void RequestProcess_WarnConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const ServiceOpMsg::WarnConfigRequest* request =
        unit ? dynamic_cast<const ServiceOpMsg::WarnConfigRequest*>(unit->body) : nullptr;
    if (!request) return;
    char path[CONFIG_PATH_SIZE];
    if (!ExeDir_FindFile(VORLANE_CONFIG_FILE, path, sizeof(path), nullptr)) {
        Log_Error("RequestProcess_ServiceConfig: GetExeDirPathInWin - failed");
        return;
    }

    const ServiceOpMsg::WarningConfigInfo& info = request->warn_config();
    WarningConfig fresh;
    memset(&fresh, 0, sizeof(fresh));
    Utf8_CutCopy(fresh.url, sizeof(fresh.url), info.url().c_str());
    fresh.warnInterval = info.warninterval();
    fresh.dataCountInterval = info.datacountinterval();
    fresh.dataLimit = info.datalimit();
    fresh.enableWarn = info.enablewarn();

    ServiceOpMsg::WarnConfigResponse reply;
    {
        ScopedLock guard(VorlaneConfig_FileLock());
        if (!WriteWarningJsonConfig(path, &fresh)) {
            Log_Error("%s:writing %s failed; the warning settings stay as they were", "RequestProcess_WarnConfig",
                      path);
            reply.set_ack_status(ACK_WRITE_FAILED);
            CtrlReply_Send(server, channelID, MSG_WRITE_WARN_CONFIG_RESPONSE, unit->id, reply);
            return;
        }
        if (g_hooks.apply) g_hooks.apply(&fresh);
        CtrlWarnConfig_MarkApplied();
    }
    WarningConfig applied;
    reply.set_ack_status(ACK_DONE);
    if (CopyWarning(&applied)) FillInfo(applied, reply.mutable_warn_config());
    CtrlReply_Send(server, channelID, MSG_WRITE_WARN_CONFIG_RESPONSE, unit->id, reply);
}
