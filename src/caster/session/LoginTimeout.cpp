#include "caster/session/LoginTimeout.h"

#include "caster/centre/CasterScope.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "net/NHServer.h"
#include "runtime/Log.h"

namespace Ntrip {

void LoginTimeout_Pass(const CasterScope& scope, int64_t nowMs, int64_t timeoutMs)
{
    RegistriesGuard locks;
    scope.conns->ForEach([&](ConnInfo* conn) {
        if (conn->outgoing || conn->closing) return;
        if (nowMs - conn->openedMs < timeoutMs) return;
        if (scope.bases->Contains(conn->channelID) || scope.rovers->Contains(conn->channelID)) return;
        conn->closing = 1;
        Log_Info("Login timeout: ip:%s, port:%d, channelID:%lld, no login within %d seconds, closed.", conn->ip,
                 conn->port, static_cast<long long>(conn->channelID), static_cast<int>(timeoutMs / 1000));
        NHServer_PostClose(scope.server, conn->channelID);
    });
}

bool LoginTimeout_StillLoggingIn(const CasterScope& scope, uint64_t channelID, int64_t nowMs, int64_t timeoutMs)
{
    ConnInfoTable::Guard guard;
    ConnInfo* conn = scope.conns->Find(channelID);
    return conn && !conn->closing && nowMs - conn->openedMs < timeoutMs;
}

}  // namespace Ntrip
