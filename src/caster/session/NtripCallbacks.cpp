#include "caster/session/NtripCallbacks.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/session/BaseLogin.h"
#include "caster/session/BaseOffline.h"
#include "caster/session/ConnectionClosing.h"
#include "caster/session/ConnectionRoad.h"
#include "caster/session/RefusedRequests.h"
#include "caster/session/RoverLogin.h"
#include "caster/session/RoverLogout.h"
#include "caster/session/SourceTableAnswer.h"
#include "decoding/DecodeExecutor.h"
#include "decoding/NtripDecoding/NtripLog.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

#include <cstring>
#include <ctime>

namespace Ntrip {

const char* const BASE_KEEP_ALIVE = "XQN200\r\n";

namespace {

const size_t BASE_KEEP_ALIVE_LENGTH = 8;
// The open callback's kind of an outgoing relay connection.
const int RELAY_CONNECTION_KIND = 1;

const int64_t KEEP_ALIVE_INTERVAL_MS = static_cast<int64_t>(BASE_KEEP_ALIVE_INTERVAL_S) * 1000;

int64_t Now() { return static_cast<int64_t>(time(nullptr)); }

// Whether the channel is a base or a rover already: a login is its first
// and last, and a request that follows it on the connection is not one.
bool LoggedIn(Vorlane* center, uint64_t channelID)
{
    BaseRoverGuard guard;
    return center->baseTable->Contains(channelID) || center->roverTable->Contains(channelID);
}

// Bytes per whole second since the steady time sinceMs (at least 1 s).
int32_t RateOf(int bytes, int64_t sinceMs, int64_t nowMs)
{
    int64_t seconds = (nowMs - sinceMs) / 1000;
    if (seconds < 1) seconds = 1;
    return static_cast<int32_t>(bytes / seconds);
}

}  // namespace

const char* CloseTypeText(int reason)
{
    switch (reason) {
    case 0: return "passive close";
    case 1: return "active close";
    case 2: return "error close";
    default: return "active close";
    }
}

void Ntrip_OpenCallback(uint64_t channelID, const char* ip, int port, int kind)
{
    Log_Info("Tcp open:ip = %s, port = %d, channelID = %d.", ip ? ip : "null", port, static_cast<int>(channelID));
    if (!ip) Log_Fatal("%s:ipStr is null", "Ntrip::Ntrip_OpenCallback");
    Vorlane* center = GetCenter();
    // A relay connection is named by the upstream host as the list gives it,
    // which may be a name without a dot ("localhost").
    if (kind != RELAY_CONNECTION_KIND && !strchr(ip, '.')) {
        // No record means no login can ever succeed on it: close it rather
        // than keep a connection nobody serves.
        Log_Info("%s:ipStr is illegal", "Ntrip::Ntrip_OpenCallback");
        NHServer_PostClose(center->netServer, channelID);
        return;
    }

    ConnInfo info;
    memset(&info, 0, sizeof(info));
    info.connectTime = Now();
    FixedText_Copy(info.ip, sizeof(info.ip), ip);
    info.port = port;
    info.channelID = channelID;
    info.lastActivity = info.connectTime;
    info.lastDataMs = ConnInfo_NowMs();
    info.lastActivityMs = info.lastDataMs;
    info.lastKeepAlive = 0;
    info.openedMs = info.lastDataMs;
    info.outgoing = kind == RELAY_CONNECTION_KIND ? 1 : 0;
    // What the loop writes to it is counted there, once it is a rover.
    info.traffic = ConnTraffic_New(info.lastActivityMs, info.lastActivity);
    NHServer_CountWrites(center->netServer, channelID, info.traffic);
    bool added;
    {
        ConnInfoTable::Guard guard;
        added = center->connInfoTable->Add(&info);
    }
    if (!added) {
        ConnTraffic_Release(info.traffic);
        Log_Error("%s:no record for channelID:%lld, closed", "Ntrip::Ntrip_OpenCallback",
                  static_cast<long long>(channelID));
        NHServer_PostClose(center->netServer, channelID);
    }
}

void Ntrip_ReadCallback(uint64_t channelID, const char* bytes, int length)
{
    Vorlane* center = GetCenter();
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes);
    size_t size = length > 0 ? static_cast<size_t>(length) : 0;

    ConnInfoTable::Guard conns;
    ConnInfo* conn = center->connInfoTable->Find(channelID);
    if (!conn) {
        Log_Info("The tcp connection of %lld is not exist while invoke read callback.",
                 static_cast<long long>(channelID));
        return;
    }
    // Refused for good: nothing it sends until the close runs is decoded or logged.
    if (conn->closing) return;

    bool publish = false;
    bool isBase = false;
    BaseTable::Guard bases;
    BaseRecord* base = center->baseTable->Find(channelID);
    if (base && base->state == BASE_STATE_ONLINE) {
        isBase = true;
        int64_t nowMs = ConnInfo_NowMs();
        conn->inputRate = RateOf(length, conn->lastActivityMs, nowMs);
        conn->bytesReceived += size;
        conn->lastActivity = Now();
        conn->lastActivityMs = nowMs;
        conn->lastDataMs = nowMs;
        if (conn->lastKeepAlive == 0 || nowMs - conn->lastKeepAlive >= KEEP_ALIVE_INTERVAL_MS) {
            conn->lastKeepAlive = nowMs;
            if (base->keepAliveOff == 0) {
                NHServer_PostSend(center->netServer, channelID, BASE_KEEP_ALIVE, BASE_KEEP_ALIVE_LENGTH);
            }
        }
        // What came behind its login is still on its way: these bytes follow it.
        if (conn->loginQueued == 0) publish = ConnectionRoad_Base(base, channelID, data, size);
    }
    bases.Release();
    bool isRover = false;
    bool relay = false;
    uint64_t upstream = 0;
    if (!isBase) {
        RoverTable::Guard rovers;
        RoverRecord* rover = center->roverTable->Find(channelID);
        if (rover) {
            isRover = true;
            relay = rover->relayFlag != 0;
            upstream = rover->boundChannelID;
        }
    }

    // Logging in, or logged in while what it sent with its login is still
    // in the login executor, which hands that on to the road in order.
    if ((!isBase && !isRover) || conn->loginQueued > 0) {
        conn->loginQueued += size;
        conns.Release();
        if (!DecodeExecutor_Push(center->loginExecutor, channelID, data, size, "UnknowLoginDecodeExecutor")) {
            ConnectionRoad_Leave(channelID, size);
        }
        return;
    }
    conns.Release();
    if (isRover) {
        ConnectionRoad_Rover(channelID, relay, upstream, data, size);
        return;
    }
    // Out of the registries: logins must not wait for thousands of writes.
    if (publish) NHServer_Broadcast(center->netServer, channelID, data, size);
}

void Ntrip_CloseCallback(uint64_t channelID, int reason)
{
    Vorlane* center = GetCenter();
    NHServer* server = center->netServer;
    const char* type = CloseTypeText(reason);
    long long id = static_cast<long long>(channelID);

    RegistriesGuard locks;
    bool known = false;
    // Whatever the channel is leaves: a base and a rover both, should it
    // ever have become both.
    if (BaseRecord* base = center->baseTable->Find(channelID)) {
        known = true;
        Log_Info("Base logout:%s, ip:%s, port:%d, channelID:%lld, close_type:%s.\n",
                 LogText_Escape(base->mountPoint).c_str(), base->ip, base->port, id, type);
        BaseOffline(server, channelID);
    }
    if (RoverRecord* rover = center->roverTable->Find(channelID)) {
        known = true;
        Log_Info("Rover logout:%s, ip:%s, port:%d, channelID:%lld, close_type:%s.\n",
                 LogText_Escape(rover->userName).c_str(), rover->ip, rover->port, id, type);
        bool relay = rover->relayFlag != 0;
        uint64_t upstream = rover->boundChannelID;
        RoverLogout(server, channelID);
        if (relay) {
            if (center->baseTable->Contains(upstream)) NHServer_PostShutdown(server, upstream);
            Log_Info("relay close: channelID:%lld", static_cast<long long>(upstream));
        }
    }
    if (center->connInfoTable->Contains(channelID)) {
        if (!known) {
            Log_Info("Unfounded channelID:%lld from Base And Rover Table, close_type:%s.\n", id, type);
        }
        center->connInfoTable->Remove(channelID);
    }
    locks.Release();

    DecodeExecutor_CloseChannel(center->loginExecutor, channelID);
    DecodeExecutor_CloseChannel(center->baseExecutor, channelID);
    DecodeExecutor_CloseChannel(center->roverExecutor, channelID);
    DecodeExecutor_CloseChannel(center->pppRtkExecutor, channelID);
}

bool LoginExecute(Tarnek::LogRoot** unit, uint64_t channelID)
{
    Tarnek::LogRoot* root = unit ? *unit : nullptr;
    if (!root) return false;
    bool handled = root->GetKind() == Tarnek::LOG_KIND_NTRIP;
    Vorlane* center = GetCenter();
    if (handled && ConnectionClosing_Is(channelID)) {
        // Its close is posted (a source table answered it, a refusal): what
        // it sent behind that request is no request.
        DecodeExecutor_DropQueued();
    } else if (handled && LoggedIn(center, channelID)) {
        // Decoded before its login's hand-off began: never a second login.
        Log_Info("Login request dropped: channelID:%lld is logged in already.", static_cast<long long>(channelID));
        DecodeExecutor_DropQueued();
    } else if (handled) {
        switch (root->GetType()) {
        case NtripDecoding::NTRIP_SERVER_LOGIN_REQUEST:
            BaseLogin(static_cast<NtripDecoding::NtripServerLoginRequest*>(root), channelID);
            break;
        case NtripDecoding::NTRIP_CLIENT_LOGIN_REQUEST:
            RoverLogin(static_cast<NtripDecoding::NtripClientLoginRequest*>(root), channelID);
            break;
        case NtripDecoding::NTRIP_GET_SOURCE_LIST_REQUEST:
            SendSourceTable(static_cast<NtripDecoding::NtripGetSourceListRequest*>(root), channelID);
            break;
        case NtripDecoding::NTRIP_UNKNOW_LOGIN_REQUEST:
            // The rest of what it queued is not even decoded.
            if (RefusedRequest_Count(channelID, false)) DecodeExecutor_DropQueued();
            break;
        default:
            handled = false;
        }
        if (handled && ConnectionClosing_Is(channelID)) {
            // Closed by its answer (a table, a refusal at the limit): what it
            // queued behind is not even decoded.
            DecodeExecutor_DropQueued();
        } else if (handled && LoggedIn(center, channelID)) {
            // Logged in: what it sent behind the request is the first of its
            // stream (a base) or of its positions (a rover).
            DecodeExecutor_HandOffQueued();
        }
    }
    delete root;
    *unit = nullptr;
    return handled;
}

}  // namespace Ntrip
