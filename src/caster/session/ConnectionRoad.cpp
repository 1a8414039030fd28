#include "caster/session/ConnectionRoad.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "decoding/DecodeExecutor.h"
#include "net/NHServer.h"

#include <cstring>

namespace Ntrip {

bool ConnectionRoad_Base(const BaseRecord* base, uint64_t channelID, const unsigned char* bytes, size_t length)
{
    Vorlane* center = GetCenter();
    if (strcmp(base->mountPoint, "PPP-RTK") == 0) {
        // Management frames, not corrections: never published.
        DecodeExecutor_Push(center->pppRtkExecutor, channelID, bytes, length, "PPP-RTK");
        return false;
    }
    // The base decoder looks for nothing but the station position, which
    // only the first usable one after a login sets.
    if (base->positionPending == 1) {
        DecodeExecutor_Push(center->baseExecutor, channelID, bytes, length, "BaseDecodeExecutor");
    }
    return length > 0;
}

void ConnectionRoad_Rover(uint64_t channelID, bool relay, uint64_t upstream, const unsigned char* bytes,
                          size_t length)
{
    Vorlane* center = GetCenter();
    // A relay rover's positions go on to the caster its stream comes from.
    // Until its relay is verified there is no upstream to send to.
    if (relay && upstream != 0) NHServer_PostSend(center->netServer, upstream, bytes, length);
    DecodeExecutor_Push(center->roverExecutor, channelID, bytes, length, "RoverDecodeExecutor");
}

void ConnectionRoad_HandOff(uint64_t channelID, const unsigned char* bytes, size_t length)
{
    Vorlane* center = GetCenter();
    bool publish = false;
    bool rover = false;
    bool relay = false;
    uint64_t upstream = 0;
    {
        ConnInfoTable::Guard conns;
        ConnInfo* conn = center->connInfoTable->Find(channelID);
        if (!conn || conn->closing) return;
        BaseTable::Guard bases;
        BaseRecord* base = center->baseTable->Find(channelID);
        if (base && base->state == BASE_STATE_ONLINE) {
            publish = ConnectionRoad_Base(base, channelID, bytes, length);
        } else {
            RoverTable::Guard rovers;
            if (RoverRecord* record = center->roverTable->Find(channelID)) {
                rover = true;
                relay = record->relayFlag != 0;
                upstream = record->boundChannelID;
            }
        }
    }
    // Posted, not written: this is a login worker. The loop runs the
    // broadcast before any later read of the base publishes (a read runs the
    // queued commands first), and the leave that follows this call lets
    // those reads publish directly only once it has.
    if (publish) NHServer_PostBroadcast(center->netServer, channelID, bytes, length);
    if (rover) ConnectionRoad_Rover(channelID, relay, upstream, bytes, length);
}

void ConnectionRoad_Leave(uint64_t channelID, size_t length)
{
    ConnInfoTable::Guard conns;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    if (!conn) return;
    conn->loginQueued = conn->loginQueued > length ? conn->loginQueued - length : 0;
}

}  // namespace Ntrip
