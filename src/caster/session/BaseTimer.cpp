#include "caster/session/BaseTimer.h"

#include "caster/centre/CasterScope.h"
#include "caster/centre/CtrlNotify.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/session/LoginTimeout.h"
#include "net/NHServer.h"
#include "runtime/CrashDump.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"


namespace Ntrip {

void Ntrip_TimerCallback(int, void* center)
{
    const Vorlane* c = center ? static_cast<const Vorlane*>(center) : GetCenter();
    int64_t nowMs = ConnInfo_NowMs();
    // One pass, one copy of the settings.
    CasterScope scope = CasterScope_Of(c);
    BaseTimer_Pass(scope, nowMs);
    LoginTimeout_Pass(scope, nowMs);
    // A crash names its dump by the local time without the time-zone rules,
    // from this offset: keep it current across a daylight-saving change.
    CrashDump_RefreshUtcOffset();
}

void BaseTimer_Pass(const CasterScope& scope, int64_t nowMs)
{
    ConnInfoTable::Guard conns;
    BaseTable::Guard bases;
    int limit = scope.config->base_offline_time;
    // Without a positive limit every base would be closed at every pass,
    // also one that sent a moment ago.
    if (limit >= 1) {
        scope.bases->ForEach([&](BaseRecord* base) {
            ConnInfo* conn = scope.conns->Find(base->channelID);
            if (!conn) return;
            // Whole seconds would close a base up to a second before its
            // limit; the milliseconds of its last byte make the limit exact.
            int64_t elapsedMs = nowMs - conn->lastDataMs;
            if (elapsedMs < static_cast<int64_t>(limit) * 1000) return;
            int64_t elapsed = elapsedMs / 1000;
            Log_Info("Base auto offline:%s, timeout. Reason:%s%d seconds.", LogText_Escape(base->mountPoint).c_str(),
                     "long time no data passed by ", static_cast<int>(elapsed));
            CtrlNotice notice = {base->sequence, base->mountPoint, nullptr};
            NotifyCtrlCenter(CTRL_NOTIFY_BASE_TIMEOUT, notice);
            NHServer_PostClose(scope.server, base->channelID);
        });
    }
}

}  // namespace Ntrip
