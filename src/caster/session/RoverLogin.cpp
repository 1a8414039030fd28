#include "caster/session/RoverLogin.h"

#include "caster/centre/CasterScope.h"
#include "caster/centre/CtrlNotify.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/RoverUserTable.h"
#include "caster/registry/VirtualMount.h"
#include "caster/relay/AuthCentre.h"
#include "caster/relay/AuthCentreQueue.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/session/ConnectionClosing.h"
#include "caster/session/LoginTimeout.h"
#include "caster/session/RefusedRequests.h"
#include "caster/session/UserLog.h"
#include "caster/session/UserLogQueue.h"
#include "decoding/DecodeExecutor.h"
#include "decoding/NtripDecoding/NtripResponse.h"
#include "decoding/NtripDecoding/SourceTable.h"
#include "net/NHServer.h"
#include "platform/SteadyClock.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"
#include "runtime/TimeText.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace Ntrip {

namespace {

const size_t REPLY_SIZE = 512;
// The node text the caster names itself with to the authentication centre.
const char* const AUTH_NODE = "1";
const char* const ACCEPTED_SOFTWARE[] = {"Tarnek", "NTRIP GNSSInternetRadio/1.4.10"};

// Builds the reply into reply (REPLY_SIZE bytes) and queues it.
void Reply(uint64_t channelID, int code, const char* mount, char* reply)
{
    if (NtripDecoding::MakeClientLoginResponse(reply, REPLY_SIZE, code, mount) != 1) return;
    NHServer_PostSend(GetNetServer(), channelID, reply, strlen(reply));
}

std::string Lower(const std::string& text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return out;
}

// "%s~%d": a long name gives up its end, never the number, so two rovers of
// one account never share a name.
void NumberedName(const char* user, int number, char* out, size_t size)
{
    char suffix[16];
    int n = snprintf(suffix, sizeof(suffix), "~%d", number);
    size_t keep = strlen(user);
    if (keep + static_cast<size_t>(n) + 1 > size) keep = size - static_cast<size_t>(n) - 1;
    memcpy(out, user, keep);
    memcpy(out + keep, suffix, static_cast<size_t>(n) + 1);
}

// The source table of the online bases, for a rover that asked for a base
// that is not online: built from copies of their names once the registries
// are left (the build reads the configuration file), then queued. Nothing
// built: the connection is closed instead. True when a table was sent.
bool SendOnlineTable(NHServer* server, uint64_t channelID, const std::vector<std::string>& names)
{
    std::vector<const char*> pointers;
    pointers.reserve(names.size());
    for (const std::string& name : names) pointers.push_back(name.c_str());
    CommonDataChain* table = NtripDecoding::MakeSourceTable(pointers.empty() ? nullptr : pointers.data(),
                                                            static_cast<int>(pointers.size()));
    if (!table) {
        ConnectionClosing_Post(channelID);
        return false;
    }
    NHServer_PostSendChain(server, channelID, table);
    CommonDataChain_Free(table);
    return true;
}

}  // namespace

bool RoverLogin_SoftwareNameAccepted(const char* userAgent)
{
    std::string agent = userAgent ? userAgent : "";
    size_t first = agent.find_first_not_of(" \t\r\n\f\v");
    size_t last = agent.find_last_not_of(" \t\r\n\f\v");
    agent = first == std::string::npos ? std::string() : agent.substr(first, last - first + 1);
    std::string lowered = Lower(agent);
    for (const char* name : ACCEPTED_SOFTWARE) {
        if (lowered.find(Lower(name)) != std::string::npos) return true;
    }
    return false;
}

namespace {

// Everything after the first checks, and after the authentication centre's
// answer when it was asked (centreChecked): the binding, the user table, the
// per-user limit and the registration, under the registry locks. True when
// the rover is registered: the connection's bytes are a rover's from then on.
bool RoverLogin_Register(const NtripDecoding::NtripClientLoginRequest* request, uint64_t channelID,
                         bool centreChecked, const NtripServerConfig& config);

}  // namespace

void RoverLogin(const NtripDecoding::NtripClientLoginRequest* request, uint64_t channelID)
{
    // The whole login, also its part after the authentication centre's
    // answer, reads the settings in force when it started.
    std::shared_ptr<const NtripServerConfig> config = GetNtripServerConfig();
    const char* mount = request->mountPoint;
    const char* user = request->user;
    long long id = static_cast<long long>(channelID);

    if (mount[0] == '\0') {
        Log_Info("Rover login failed:mountpoint is null or empty.");
        ConnectionClosing_Post(channelID);
        return;
    }
    if (config->use_software_name == 1 && !RoverLogin_SoftwareNameAccepted(request->userAgent)) {
        Log_Info("Rover login failed, softwarename:%s is illegal, request name:%s, channelID:%llu.",
                 LogText_Escape(request->userAgent).c_str(), LogText_Escape(user).c_str(),
                 static_cast<unsigned long long>(channelID));
        ConnectionClosing_Post(channelID);
        return;
    }

    // A relay mount's users may be checked by the authentication centre: an
    // HTTP exchange of up to its time-out. It runs on the centre's own
    // threads, with no registry lock held and no login worker waiting, and
    // its answer carries the login on there with a fresh look at the
    // connection. A connection has one check in flight at most: what it asks
    // meanwhile is refused unasked and counts toward its limit, so that one
    // peer cannot fill the centre's queue for everybody.
    RelayAccountList* pool = GetRelayAccountList();
    bool relayMount = pool && pool->IsNotRelayMount(mount) == 0;
    const AuthCentreConfig* centre = GetRoverAuthCentre();
    bool askCentre = relayMount && config->rover_login_mode == 0 && centre && centre->enabled != 0;
    if (!askCentre) {
        RoverLogin_Register(request, channelID, false, *config);
        return;
    }
    bool known;
    bool asking;
    {
        ConnInfoTable::Guard conns;
        ConnInfo* conn = GetConnInfoTable()->Find(channelID);
        known = conn != nullptr;
        asking = known && conn->centreAsking != 0;
        if (known) conn->centreAsking = 1;
    }
    if (!known) {
        Log_Info("Rover login failed, tcp connection of channelID:%lld is not exist.", id);
        return;
    }
    if (asking) {
        Log_Info("Rover login failed:user=%s asks again while the centre checks channelID:%lld.",
                 LogText_Escape(user).c_str(), id);
        if (RefusedRequest_Count(channelID, false)) DecodeExecutor_DropQueued();
        return;
    }
    std::shared_ptr<Tarnek::LogRoot> copy(request->Clone());
    // A connection that has gone, is closing or is past its login time by
    // its turn is not asked about: the centre's time is for those waiting.
    auto wanted = [channelID] {
        return LoginTimeout_StillLoggingIn(CasterScope_OfCenter(), channelID, ConnInfo_NowMs());
    };
    AuthCentreQueue_Ask(centre, user, request->password, AUTH_NODE, wanted,
                        [copy, channelID, config](AuthCentreOutcome outcome, int result) {
        const auto* asked = static_cast<const NtripDecoding::NtripClientLoginRequest*>(copy.get());
        // Free for its next request before it can read this answer.
        {
            ConnInfoTable::Guard conns;
            if (ConnInfo* asker = GetConnInfoTable()->Find(channelID)) asker->centreAsking = 0;
        }
        if (outcome == AUTH_CENTRE_NOT_ASKED) {
            Log_Info("Rover login dropped unasked: channelID:%lld left, is closing or is past its login time, "
                     "user=%s.", static_cast<long long>(channelID), LogText_Escape(asked->user).c_str());
            return;
        }
        // The caster is stopping: no login goes on, and no reply either.
        if (outcome == AUTH_CENTRE_STOPPED) {
            Log_Info("Rover login dropped at the stop: channelID:%lld, user=%s.", static_cast<long long>(channelID),
                     LogText_Escape(asked->user).c_str());
            return;
        }
        // A full queue or a failed check (result -1) refuses as a centre that
        // cannot be reached.
        if (result != 0) {
            char reply[REPLY_SIZE];
            int code =
                result == 1 ? NtripDecoding::CLIENT_LOGIN_BAD_PASSWORD : NtripDecoding::CLIENT_LOGIN_UNAUTHORIZED;
            Reply(channelID, code, asked->mountPoint, reply);
            Log_Info("Rover login To Auth Centre error(error:%d):%s,user=%s", code, reply,
                     LogText_Escape(asked->user).c_str());
            RefusedRequest_Count(channelID, true);
            return;
        }
        // What it sent while the centre was asked waits in the login
        // executor, undecodable as a request (its positions): it is the
        // first of the rover's own road now.
        if (RoverLogin_Register(asked, channelID, true, *config)) {
            DecodeExecutor_HandOff(GetCenter()->loginExecutor, channelID);
        }
    });
}

namespace {

bool RoverLogin_Register(const NtripDecoding::NtripClientLoginRequest* request, uint64_t channelID,
                         bool centreChecked, const NtripServerConfig& config)
{
    NHServer* server = GetNetServer();
    const char* mount = request->mountPoint;
    const char* user = request->user;
    long long id = static_cast<long long>(channelID);
    char reply[REPLY_SIZE];
    RelayAccountList* pool = GetRelayAccountList();
    bool relayMount = pool && pool->IsNotRelayMount(mount) == 0;

    RegistriesGuard locks;
    ConnInfo* conn = GetConnInfoTable()->Find(channelID);
    if (!conn) {
        Log_Info("Rover login failed, tcp connection of channelID:%lld is not exist.", id);
        return false;
    }
    // Its close is posted (a source table answered, a refusal, its login
    // time passed while the centre was asked): no login of it goes on.
    if (conn->closing) {
        Log_Info("Rover login dropped: channelID:%lld is closing.", id);
        return false;
    }
    BaseTable* bases = GetBaseTable();
    RoverTable* rovers = GetRoverTable();
    // A login that waited for the authentication centre may find its channel
    // logged in meanwhile: it never logs in twice.
    if (bases->Contains(channelID) || rovers->Contains(channelID)) {
        Log_Info("Login request dropped: channelID:%lld is logged in already.", id);
        return false;
    }
    BaseRecord* candidate = bases->FindByName(mount);

    // A relay mount (served from another caster) first: its rover is bound
    // to its own relay at its first position.
    int mode;
    if (relayMount) {
        Log_Info("set one relay mode");
        mode = ROVER_BIND_RELAY;
    } else if (VirtualMount_HasPrefix(mount)) {
        if (config.broadcast_nearest != 1 || bases->OnlineNames().found == 0) {
            ConnectionClosing_Post(channelID);
            return false;
        }
        mode = ROVER_BIND_NEAREST;
    } else if (candidate && candidate->state == BASE_STATE_ONLINE) {
        mode = ROVER_BIND_NAMED;
    } else {
        Log_Info("Rover login failed,Base:%s is not on line, channelID:%lld", LogText_Escape(mount).c_str(), id);
        BaseNameList online = bases->OnlineNames();
        std::vector<std::string> names;
        for (int i = 0; online.found && i < online.count; ++i) names.emplace_back(online.names[i]);
        locks.Release();
        if (SendOnlineTable(server, channelID, names)) RefusedRequest_Count(channelID, true);
        return false;
    }

    UserRecord firstLogin;
    memset(&firstLogin, 0, sizeof(firstLogin));
    if (config.rover_login_mode == 0 && !centreChecked) {
        int error = 0;
        if (!GetRoverUserTable()->Verify(user, request->password, &error)) {
            locks.Release();
            Reply(channelID, error, mount, reply);
            Log_Info("Rover login error(error:%d):%s,user=%s", error, reply, LogText_Escape(user).c_str());
            RefusedRequest_Count(channelID, true);
            return false;
        }
        if (!GetRoverUserTable()->IsValid(user, &firstLogin)) {
            locks.Release();
            Log_Info("Rover login error:the user has expired, user=%s", LogText_Escape(user).c_str());
            Reply(channelID, NtripDecoding::CLIENT_LOGIN_UNAUTHORIZED, mount, reply);
            RefusedRequest_Count(channelID, true);
            return false;
        }
    }

    RoverRecord rover;
    memset(&rover, 0, sizeof(rover));
    rover.loginNumber = 1;
    FixedText_Copy(rover.userKey, sizeof(rover.userKey), user);
    FixedText_Copy(rover.userName, sizeof(rover.userName), user);
    RoverRecord* older = nullptr;
    if (config.one_account_multi_user == 1) {
        RoverRecord* latest = rovers->FindByText(user);
        if (latest) {
            if (latest->loginNumber >= config.user_count) {
                Log_Info("Rover login failed:%s, login count reach the limit.The blocked IP is:%s!", LogText_Escape(user).c_str(),
                         conn->ip);
                ConnectionClosing_Post(channelID);
                return false;
            }
            rover.loginNumber = latest->loginNumber + 1;
            NumberedName(user, rover.loginNumber, rover.userName, sizeof(rover.userName));
        }
    } else {
        older = rovers->FindByName(user);
    }
    uint64_t olderID = older ? older->channelID : 0;

    FixedText_Copy(rover.mountPoint, sizeof(rover.mountPoint), mount);
    FixedText_Copy(rover.password, sizeof(rover.password), request->password);
    rover.channelID = channelID;
    rover.bindingMode = mode;
    GetTimeString(rover.loginTimeText, sizeof(rover.loginTimeText));
    rover.loginTime = static_cast<int64_t>(time(nullptr));
    rover.lastRecheckMs = Platform_SteadyNowMs();
    FixedText_Copy(rover.ip, sizeof(rover.ip), conn->ip);
    rover.port = conn->port;
    rover.fixQuality = -1;
    rover.boundChannelID = 0;
    // A relay rover's stream is its relay alone, even should a base carry
    // the relay mount's name.
    bool bind = candidate && mode != ROVER_BIND_RELAY;
    if (bind) {
        rover.boundChannelID = candidate->channelID;
        // Named as bound, so the re-binding pass knows it is bound already.
        FixedText_Copy(rover.boundBaseName, sizeof(rover.boundBaseName), candidate->mountPoint);
    }

    // Registered before anything is posted for it: a refused add leaves
    // nothing behind (no reply, no subscription, no count).
    if (!rovers->Add(&rover)) {
        Log_Error("%s:rover %s not registered, channelID:%lld closed", "Ntrip::RoverLogin",
                  LogText_Escape(rover.userName).c_str(), id);
        ConnectionClosing_Post(channelID);
        return false;
    }
    // From now on the loop counts what it writes to the rover, the reply first.
    ConnTraffic_StartCounting(conn->traffic);
    // The latest login of an account wins.
    if (olderID != 0) ConnectionClosing_Post(olderID);

    // Queued only (the user log's thread writes it), and ahead of the reply,
    // so that the line is as good as written by the time the rover reads it.
    if (config.rover_gga_log == 1) {
        char line[512];
        snprintf(line, sizeof(line), "[%d] [%s:%d]  %s login sucess, mountpoint is %s. \n", 1, rover.ip,
                 rover.port, LogText_Escape(rover.userName).c_str(), LogText_Escape(mount).c_str());
        UserLogQueue_Post(LOG_TO_FILE_GENERAL, "", line);
    }
    // The reply is queued before the subscription: the loop runs commands in
    // order, so the rover reads "ICY 200 OK" before any byte of its base.
    Reply(channelID, NtripDecoding::CLIENT_LOGIN_OK, mount, reply);
    if (bind) {
        NHServer_PostSubscribe(server, candidate->channelID, channelID);
        candidate->roverCount += 1;
    }

    CtrlNotice notice = {0, mount, user};
    NotifyCtrlCenter(CTRL_NOTIFY_ROVER_LOGIN, notice);
    char ip[ROVER_IP_SIZE];
    FixedText_Copy(ip, sizeof(ip), rover.ip);
    int port = rover.port;
    locks.Release();

    // The store only once the registries are free again.
    if (firstLogin.id != 0) GetRoverUserTable()->StoreFirstLogin(&firstLogin);

    Log_Info("Rover login ok:%s, mountpoint:%s, ip:%s, port:%d, channelID:%lld.\n", LogText_Escape(user).c_str(),
             LogText_Escape(mount).c_str(), ip, port, id);
    return true;
}

}  // namespace

}  // namespace Ntrip
