#include "caster/session/LoginRefusal.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/ConnInfoTable.h"
#include "net/NHServer.h"

namespace Ntrip {

bool LoginRefusal_Count(uint64_t channelID)
{
    Vorlane* center = GetCenter();
    bool drop = false;
    ConnInfoTable::Lock();
    ConnInfo* conn = center->connInfoTable->Find(channelID);
    if (!conn || conn->closing) {
        drop = true;
    } else if (++conn->unknownRequests >= LOGIN_UNKNOWN_REQUEST_LIMIT) {
        conn->closing = 1;
        drop = true;
        NHServer_PostClose(center->netServer, channelID);
    }
    ConnInfoTable::Unlock();
    return drop;
}

}  // namespace Ntrip
