#include "caster/session/BaseLogin.h"

#include "caster/binding/NearestBinding.h"
#include "caster/centre/CtrlNotify.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/BaseUserTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/VirtualMount.h"
#include "caster/session/ConnectionClosing.h"
#include "caster/session/RefusedRequests.h"
#include "decoding/NtripDecoding/NtripResponse.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"
#include "runtime/TimeText.h"
#include "store/StationListDb.h"

#include <cstring>
#include <ctime>

namespace Ntrip {

namespace {

const size_t REPLY_SIZE = 512;

void Reply(uint64_t channelID, int code)
{
    char reply[REPLY_SIZE];
    if (NtripDecoding::MakeServerLoginResponse(reply, sizeof(reply), code) != 1) return;
    NHServer_PostSend(GetNetServer(), channelID, reply, strlen(reply));
}

void StampLogin(BaseRecord* base)
{
    GetTimeString(base->loginTimeText, sizeof(base->loginTimeText));
    base->loginTime = static_cast<int64_t>(time(nullptr));
}

void TakePeer(BaseRecord* base, const ConnInfo* conn)
{
    FixedText_Copy(base->ip, sizeof(base->ip), conn->ip);
    base->port = conn->port;
    base->positionPending = 1;
    // A station taking over a relay's record is a station: it gets keep-alives.
    base->keepAliveOff = 0;
}

// The new connection takes over the old one's subscribers. Everything goes
// through the loop's command queue, in order with the subscriptions rover
// logins have posted and not yet run: every rover bound to the old channel
// (in the rover registry, whether or not its subscription has run) is
// subscribed to the new one before the old publisher goes. Rovers keep their
// connection and get no second reply. Connection and base locks held.
void MoveRovers(NHServer* server, const char* mount, uint64_t oldID, uint64_t newID)
{
    bool hadPublisher = NHServer_HasPublisher(server, oldID);
    NHServer_PostAddPublisher(server, newID);
    if (!hadPublisher) {
        Log_Info("Add Publisher Msg, base:%s, channelID:%lld.", LogText_Escape(mount).c_str(), static_cast<long long>(newID));
    }
    {
        RoverTable::Guard guard;
        RoverTable* rovers = GetRoverTable();
        for (RoverListItem* item = rovers->First(); item; item = rovers->Next(item)) {
            RoverRecord* rover = item->record;
            if (rover->boundChannelID != oldID) continue;
            rover->boundChannelID = newID;
            NHServer_PostSubscribe(server, newID, rover->channelID);
        }
    }
    NHServer_PostRemovePublisher(server, oldID);
}

}  // namespace

void BaseLogin(const NtripDecoding::NtripServerLoginRequest* request, uint64_t channelID)
{
    const char* mount = request->mountPoint;
    NHServer* server = GetNetServer();
    long long id = static_cast<long long>(channelID);

    if (mount[0] == '\0' || VirtualMount_IsReserved(mount)) {
        Log_Info("Base login failed, mountpoint is null or empty.Or the default mountpoint already "
                 "exists.(NEAREST.RTCM32_ZedOz.RTCM32_VODIR)");
        Reply(channelID, NtripDecoding::SERVER_LOGIN_MOUNT_TAKEN);
        RefusedRequest_Count(channelID, true);
        return;
    }
    StationListDb* lists = GetStationListDb();
    if (lists->IsBlack(mount)) {
        Log_Info("Base login failed, mount pt:%s is in Blacklist", LogText_Escape(mount).c_str());
        ConnectionClosing_Post(channelID);
        return;
    }
    if (GetNtripServerConfig()->base_login_mode == 0 && !GetBaseUserTable()->Verify(mount, request->password)) {
        Log_Info("Base login error:user or passwd is error, user=%s", LogText_Escape(mount).c_str());
        Reply(channelID, NtripDecoding::SERVER_LOGIN_BAD_PASSWORD);
        RefusedRequest_Count(channelID, true);
        return;
    }

    // Only a base that passed every check joins the white list, and the row
    // is written with no registry lock held: refused requests with ever new
    // names can neither grow the store nor hold up the streams. It is there
    // before the reply.
    bool known;
    {
        ConnInfoTable::Guard guard;
        ConnInfo* conn = GetConnInfoTable()->Find(channelID);
        known = conn && !conn->closing;
    }
    if (known && !lists->IsWhite(mount)) lists->AddWhite(mount);

    ConnInfoTable::Guard conns;
    BaseTable::Guard guard;
    BaseTable* bases = GetBaseTable();
    BaseRecord* base = bases->FindByName(mount);
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    if (!conn) {
        guard.Release();
        conns.Release();
        Log_Info("Base login failed, channelID:%lld is not exist.", id);
        return;
    }
    // Its close is posted (a source table answered, a refusal): nothing it
    // sent behind that is a login any more.
    if (conn->closing) {
        guard.Release();
        conns.Release();
        Log_Info("Base login dropped: channelID:%lld is closing.", id);
        return;
    }
    bool loggedIn = bases->Contains(channelID);
    if (!loggedIn) {
        RoverTable::Guard rovers;
        loggedIn = GetRoverTable()->Contains(channelID);
    }
    if (loggedIn) {
        Log_Info("Login request dropped: channelID:%lld is logged in already.", id);
        return;
    }

    // Each branch changes the registry first and posts only once that
    // worked: a refused change leaves nothing posted behind it.
    bool registered = true;
    if (!base) {
        BaseRecord fresh;
        memset(&fresh, 0, sizeof(fresh));
        FixedText_Copy(fresh.mountPoint, sizeof(fresh.mountPoint), mount);
        fresh.channelID = channelID;
        fresh.state = BASE_STATE_ONLINE;
        StampLogin(&fresh);
        TakePeer(&fresh, conn);
        registered = bases->Add(&fresh);
        if (registered) {
            NHServer_PostAddPublisher(server, channelID);
            Log_Info("Base new login:%s.", LogText_Escape(mount).c_str());
        }
    } else if (base->state == BASE_STATE_ONLINE) {
        uint64_t oldID = base->channelID;
        registered = bases->ChangeId(base, channelID);
        if (registered) {
            MoveRovers(server, base->mountPoint, oldID, channelID);
            StampLogin(base);
            ConnectionClosing_Post(oldID);
            Log_Info("Base relogin:%s, new channelID:%lld, instead old channelID:%lld.", LogText_Escape(mount).c_str(),
                     id, static_cast<long long>(oldID));
            TakePeer(base, conn);
        }
    } else {
        // Taken off the black list while the close of its connection was
        // pending: the record is this login's now; that close finds nothing.
        registered = bases->ChangeId(base, channelID);
        if (registered) {
            base->state = BASE_STATE_ONLINE;
            StampLogin(base);
            NHServer_PostAddPublisher(server, channelID);
            Log_Info("Base login again:%s.", LogText_Escape(mount).c_str());
            TakePeer(base, conn);
        }
    }
    if (!registered) {
        guard.Release();
        conns.Release();
        Log_Error("%s:base %s not registered, channelID:%lld closed", "Ntrip::BaseLogin", LogText_Escape(mount).c_str(),
                  id);
        ConnectionClosing_Post(channelID);
        return;
    }
    char ip[BASE_IP_SIZE];
    FixedText_Copy(ip, sizeof(ip), conn->ip);
    int port = conn->port;
    // Queued before the locks go: the base's first keep-alive (sent by a
    // read, which needs the connection lock) can only follow the reply.
    Reply(channelID, NtripDecoding::SERVER_LOGIN_OK);
    guard.Release();
    conns.Release();

    CtrlNotice notice = {0, mount, nullptr};
    NotifyCtrlCenter(CTRL_NOTIFY_BASE_LOGIN, notice);
    Log_Info("Base login ok:%s, ip:%s, port:%d, channelID:%lld.", LogText_Escape(mount).c_str(), ip, port, id);
}

}  // namespace Ntrip
