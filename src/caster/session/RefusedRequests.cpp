#include "caster/session/RefusedRequests.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/session/ConnectionClosing.h"

namespace Ntrip {

bool RefusedRequest_Count(uint64_t channelID, bool replied)
{
    ConnInfoTable::Guard guard;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    if (!conn || conn->closing) return true;
    if (++conn->refusedRequests < LOGIN_REFUSED_REQUEST_LIMIT) return false;
    if (replied) {
        ConnectionClosing_PostAfterFlush(channelID);
    } else {
        ConnectionClosing_Post(channelID);
    }
    return true;
}

}  // namespace Ntrip
