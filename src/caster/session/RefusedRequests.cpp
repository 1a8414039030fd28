#include "caster/session/RefusedRequests.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/ConnInfoTable.h"
#include "net/NHServer.h"

namespace Ntrip {

bool RefusedRequest_Count(uint64_t channelID, bool replied)
{
    ConnInfoTable::Guard guard;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    if (!conn || conn->closing) return true;
    if (++conn->refusedRequests < LOGIN_REFUSED_REQUEST_LIMIT) return false;
    conn->closing = 1;
    if (replied) {
        NHServer_PostCloseAfterFlush(GetNetServer(), channelID);
    } else {
        NHServer_PostClose(GetNetServer(), channelID);
    }
    return true;
}

bool RefusedRequest_IsClosing(uint64_t channelID)
{
    ConnInfoTable::Guard guard;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    return !conn || conn->closing;
}

}  // namespace Ntrip
