#include "caster/relay/RelayCallbacks.h"

#include "caster/centre/CtrlNotify.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayClient.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/TimeText.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace Ntrip {

namespace {

const size_t STATE_LINE_SIZE = 1024;

RelayAccountList* PoolOf(Vorlane* center) { return center ? center->relayAccounts : nullptr; }

// Whether a base record (of any state) holds the name; base lock taken here.
bool NameHeld(BaseTable* bases, const char* name)
{
    BaseTable::Guard guard;
    return bases->FindByName(name) != nullptr;
}

}  // namespace

const RelayClientCallbacks RELAY_CALLBACKS = {RelaySetChannel, RelayOpenCallback, RelayCloseCallback};

void RelaySetChannel(uint64_t relayChannelID, void* relayContext)
{
    const RelayContext* context = static_cast<const RelayContext*>(relayContext);
    if (!context) return;
    Log_Debug("%s:relay %s on channelID:%lld", "Ntrip::RelaySetChannel", context->name,
              static_cast<long long>(relayChannelID));
}

void RelayOpenCallback(void* relayContext)
{
    const RelayContext* context = static_cast<const RelayContext*>(relayContext);
    if (!context) {
        Log_Info("%s: arg is null", "Ntrip::RelayOpenCallback");
        return;
    }
    Vorlane* center = GetCenter();
    NHServer* server = context->server;
    uint64_t relayID = context->relayChannelID;
    long long id = static_cast<long long>(relayID);
    const RelayRequest* request = context->request;
    const char* host = request ? request->upstreamHost : "";
    int port = request ? request->upstreamPort & 0xffff : 0;

    ConnInfoTable::Guard conns;
    BaseTable::Guard guard;
    BaseTable* bases = center->baseTable;
    // Two records of one name would split the rovers that ask for it.
    bool taken = bases->FindByName(context->name) != nullptr || bases->Contains(relayID);
    if (!taken) {
        BaseRecord base;
        memset(&base, 0, sizeof(base));
        FixedText_Copy(base.mountPoint, sizeof(base.mountPoint), context->name);
        base.channelID = relayID;
        base.state = BASE_STATE_ONLINE;
        GetTimeString(base.loginTimeText, sizeof(base.loginTimeText));
        base.loginTime = static_cast<int64_t>(time(nullptr));
        FixedText_Copy(base.ip, sizeof(base.ip), host);
        base.port = port;
        base.positionPending = 1;
        base.roverCount = context->roverChannelID != 0 ? 1 : 0;
        // The upstream is a caster, not a station: it is never sent the keep-alive.
        base.keepAliveOff = 1;

        // Told and published only once the record is in: a refused add is
        // handled as a taken name.
        taken = !bases->Add(&base);
        if (!taken) {
            CtrlNotice notice = {0, context->name, nullptr};
            NotifyCtrlCenter(CTRL_NOTIFY_BASE_LOGIN, notice);
            Log_Info("Base login ok:%s, ip:%s, port:%d, channelID:%lld.", context->name, host, port, id);
            // This is the loop thread, which owns the publisher table's commands.
            NHServer_AddPublisher(server, relayID);
        }
    }
    guard.Release();
    conns.Release();

    if (taken) {
        Log_Info("%s:mountpoint %s is held by another base, relay channelID:%lld shut down",
                 "Ntrip::RelayOpenCallback", context->name, id);
        NHServer_PostShutdown(server, relayID);
        return;
    }
    if (context->roverChannelID == 0) return;

    bool present;
    {
        RoverTable::Guard guard;
        RoverRecord* rover = center->roverTable->Find(context->roverChannelID);
        present = rover != nullptr;
        if (rover) {
            rover->boundChannelID = relayID;
            FixedText_Copy(rover->boundBaseName, sizeof(rover->boundBaseName), context->name);
            NHServer_Subscribe(server, relayID, rover->channelID);
        }
    }
    if (!present) {
        // Its rover left while the relay was being set up: its end removes the base again.
        Log_Info("%s:rover channelID:%lld of relay %s has gone, relay shut down", "Ntrip::RelayOpenCallback",
                 static_cast<long long>(context->roverChannelID), context->name);
        NHServer_PostShutdown(server, relayID);
    }
}

void RelayCloseCallback(void* relayContext)
{
    const RelayContext* context = static_cast<const RelayContext*>(relayContext);
    if (!context) {
        Log_Info("%s: arg is null", "Ntrip::RelayCloseCallback");
        return;
    }
    RelayAccountList* pool = PoolOf(GetCenter());
    if (context->roverChannelID != 0) {
        // The rover came for this stream alone; it may log in again.
        NHServer_PostClose(context->server, context->roverChannelID);
        if (pool) pool->UnmarkUsed(context->account);
    }
    const RelayRequest* request = context->request;
    // Idle again: a shared account serves the next rover, a system account
    // lets the next tick restart its mount. Giving back twice changes nothing.
    if (pool && request) pool->ReleaseAccount(request->account);

    Log_Info("account\tis useful : %s", RelayAccount_UserName(request ? request->credentials : "").c_str());
    if (pool) {
        char line[STATE_LINE_SIZE];
        memset(line, 0, sizeof(line));
        pool->ReportState(line, sizeof(line));
        MailSetStatistics(line);
    }
}

void RelayRestartCallback(int, void* arg)
{
    Vorlane* center = arg ? static_cast<Vorlane*>(arg) : GetCenter();
    RelayAccountList* pool = PoolOf(center);
    if (!pool) return;
    for (RelayMount* mount = pool->TakeSystemMount(); mount; mount = pool->NextSystemMount(mount)) {
        if (NameHeld(center->baseTable, mount->localName)) {
            // A local base serves the name now; no upstream account is spent on it.
            Log_Debug("%s:mountpoint %s is online, relay not restarted", "Ntrip::RelayRestartCallback",
                      mount->localName);
            pool->ReleaseAccount(mount->systemAccount);
            continue;
        }
        RelayRequest* request = RelayRequest_New();
        RelayRequest_FromMount(request, mount, mount->systemAccount);
        RelayContext* context = RelayContext_New();
        RelayContext_Init(context, request, center->netServer, mount->localName, 0, nullptr, nullptr);
        context->callbacks = &RELAY_CALLBACKS;
        Log_Info("ReStart a realy item ,local mount:%s", mount->localName);
        // Its end, however early, gives the account back.
        Relay_Connect(context);
    }
}

}  // namespace Ntrip
