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

namespace {

const char* const ROVER_EXECUTOR_NAME = "RoverDecodeExecutor";

// A rover's bytes to its decoder a line at a time. What a login held back
// comes as one piece, many reads' worth of sentences, and the rover decoder
// refuses a sentence with more than NMEA_STAR_TAIL_MAX bytes behind it in one
// buffer: queued line by line, each is decoded as its own read would have
// had it.
void PushRoverLines(DecodeExecutor* executor, uint64_t channelID, const unsigned char* bytes, size_t length)
{
    size_t start = 0;
    while (start < length) {
        const void* lineEnd = memchr(bytes + start, '\n', length - start);
        size_t end = lineEnd ? static_cast<size_t>(static_cast<const unsigned char*>(lineEnd) - bytes) + 1 : length;
        DecodeExecutor_Push(executor, channelID, bytes + start, end - start, ROVER_EXECUTOR_NAME);
        start = end;
    }
}

// A relay rover's positions go on to the caster its stream comes from.
// Until its relay is verified there is no upstream to send to.
void SendUpstream(Vorlane* center, bool relay, uint64_t upstream, const unsigned char* bytes, size_t length)
{
    if (relay && upstream != 0) NHServer_PostSend(center->netServer, upstream, bytes, length);
}

}  // namespace

void ConnectionRoad_Rover(uint64_t channelID, bool relay, uint64_t upstream, const unsigned char* bytes,
                          size_t length)
{
    Vorlane* center = GetCenter();
    SendUpstream(center, relay, upstream, bytes, length);
    DecodeExecutor_Push(center->roverExecutor, channelID, bytes, length, ROVER_EXECUTOR_NAME);
}

void ConnectionRoad_HandOff(uint64_t channelID, const unsigned char* bytes, size_t length)
{
    Vorlane* center = GetCenter();
    bool publish = false;
    {
        // Queued under the hold that found the channel, as the base's bytes
        // are: a close that runs meanwhile takes the connection lock before it
        // closes the channel's decoder queues, so it either finds these
        // bytes queued and closes them with the rest, or runs first and this
        // finds no connection. Pushed after the hold, they would make a queue
        // for a connection that is gone, which nothing would ever close.
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
                SendUpstream(center, record->relayFlag != 0, record->boundChannelID, bytes, length);
                PushRoverLines(center->roverExecutor, channelID, bytes, length);
            }
        }
    }
    // Posted, not written: this is a login worker. The loop runs the
    // broadcast before any later read of the base publishes (a read runs the
    // queued commands first), and the leave that follows this call lets
    // those reads publish directly only once it has.
    if (publish) NHServer_PostBroadcast(center->netServer, channelID, bytes, length);
}

void ConnectionRoad_Leave(uint64_t channelID, size_t length)
{
    ConnInfoTable::Guard conns;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    if (!conn) return;
    conn->loginQueued = conn->loginQueued > length ? conn->loginQueued - length : 0;
}

}  // namespace Ntrip
