#include "caster/session/ConnectionClosing.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/ConnInfoTable.h"
#include "net/NHServer.h"

namespace Ntrip {

namespace {

void MarkAndPost(uint64_t channelID, bool afterFlush)
{
    {
        ConnInfoTable::Guard guard;
        if (ConnInfo* conn = GetConnInfoTable()->Find(channelID)) conn->closing = 1;
    }
    if (afterFlush) {
        NHServer_PostCloseAfterFlush(GetNetServer(), channelID);
    } else {
        NHServer_PostClose(GetNetServer(), channelID);
    }
}

}  // namespace

void ConnectionClosing_Post(uint64_t channelID) { MarkAndPost(channelID, false); }

void ConnectionClosing_PostAfterFlush(uint64_t channelID) { MarkAndPost(channelID, true); }

bool ConnectionClosing_Is(uint64_t channelID)
{
    ConnInfoTable::Guard guard;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    return !conn || conn->closing;
}

}  // namespace Ntrip
