#include "caster/centre/VorlaneMain.h"

#include "caster/centre/ServiceHooks.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/BaseUserTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/RoverUserTable.h"
#include "caster/relay/AuthCentre.h"
#include "caster/relay/AuthCentreQueue.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayCallbacks.h"
#include "caster/session/BaseData.h"
#include "caster/session/BaseTimer.h"
#include "caster/session/ConnectionRoad.h"
#include "caster/session/NtripCallbacks.h"
#include "caster/session/RoverData.h"
#include "config/AuthCentreFile.h"
#include "config/GlobalIpConfig.h"
#include "config/VorlaneConfig.h"
#include "decoding/DecodeExecutor.h"
#include "decoding/NEMADecoding/GgaDecode.h"
#include "decoding/NtripDecoding/NtripRequestDecode.h"
#include "decoding/RTCMDecoding/RtcmDecode.h"
#include "net/NHServer.h"
#include "runtime/CrashDump.h"
#include "runtime/ExeDir.h"
#include "runtime/LocalHostIp.h"
#include "runtime/Log.h"
#include "store/StationListDb.h"
#include "store/UserDb.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Worker counts of the executors: one channel always goes to one worker.
const int LOGIN_WORKERS = 2;
const int BASE_WORKERS = 2;
const int ROVER_WORKERS = 2;

const char* const RELAY_ACCOUNT_FILE_NAME = "RelayAccount.list";
const char* const SMTP_CONF_FILE_NAME = "RelaySmtp.conf";

// The table of a centre created without services: every entry null.
const Ntrip::ServiceHooks NO_SERVICES = {};
// A second store on "user.db", used only to load the user tables.
StationListDb* g_userListDb = nullptr;

// VorlaneMain_RequestStop and the run meet here: either the stop sees the
// server and breaks its loop, or the run sees the request and never starts.
std::atomic<bool> g_stopRequested{false};
std::atomic<NHServer*> g_runningServer{nullptr};

// Set once VorlaneMain has joined every thread it and the services started.
std::atomic<bool> g_stoppedInOrder{false};

#ifdef VORLANE_ORDERLY_EXIT
// How long the orderly exit waits for each service's thread: a peer can hold
// one (a mail in progress, a post to a silent endpoint), never the exit.
const unsigned SERVICE_STOP_WAIT_MS = 2000;

// After the loop: the workers and then the services' threads are joined, so
// that the process can end through exit() (and its leak check) with no
// thread of ours still running under the destructors of its globals. False
// when a service's thread did not end in time.
bool StopThreadsInOrder(Ntrip::Vorlane* center)
{
    // First the centre's threads: an answer carries a login on into the
    // registries and the login executor, which go next. A check that did not
    // end in time may still be doing so (one whose answer comes after the
    // stop does not): then the executors stay, with their workers, and the
    // process ends without running the destructors.
    bool centreStopped = AuthCentreQueue_Stop(SERVICE_STOP_WAIT_MS);
    if (centreStopped) {
        DecodeExecutor* executors[] = {center->loginExecutor, center->baseExecutor, center->roverExecutor,
                                       center->pppRtkExecutor};
        for (DecodeExecutor* executor : executors) DecodeExecutor_Destroy(executor);
        center->loginExecutor = center->baseExecutor = center->roverExecutor = center->pppRtkExecutor = nullptr;
    } else {
        Log_Error("%s:a check with the authentication centre did not end in time; the decode executors stay",
                  "VorlaneMain");
    }
    if (!center->hooks->servicesStop) return centreStopped;
    return center->hooks->servicesStop(center, SERVICE_STOP_WAIT_MS) && centreStopped;
}
#endif

template <typename T>
T* NewZeroed(const char* what)
{
    T* record = static_cast<T*>(calloc(1, sizeof(T)));
    if (!record) Log_Fatal("%s:malloc %s error", "Ntrip::Vorlane_Create", what);
    return record;
}

// A start that fails says why on stderr too, which is what the journal of a
// service keeps: one line, before the process ends. Start-up only, before any
// loop runs and with no lock held.
void PrintStartFailure(const std::string& why)
{
    fprintf(stderr, "vorlane: cannot start: %s\n", why.c_str());
    fflush(stderr);
}

// The executable's directory followed by name; false when either is unknown
// or does not fit.
bool ExePathOf(const char* name, std::string* path)
{
    char full[EXE_FILE_PATH_SIZE];
    if (!ExeDir_FindFile(name, full, sizeof(full), nullptr)) {
        Log_Info("exePath: %s", full);
        return false;
    }
    *path = full;
    return true;
}

}  // namespace

namespace Ntrip {

bool OpenDatabases(const char* stationFile, const char* userFile)
{
    std::string station, user;
    if (!ExePathOf(stationFile, &station) || !ExePathOf(userFile, &user)) return false;
    StationListDb* lists = GetStationListDb();
    if (!lists->IsOpen()) lists->Open(station.c_str());
    UserDb_Open(user.c_str());
    return true;
}

bool OpenUserDb(const char* userFile, StationListDb* store)
{
    if (store->IsOpen()) return true;
    std::string path;
    if (!ExePathOf(userFile, &path)) return false;
    return store->Open(path.c_str());
}

Vorlane* Vorlane_Create(const ServiceHooks* hooks)
{
    // Reachable at once, so that whatever runs during creation finds it.
    Vorlane* center = NewZeroed<Vorlane>("centre");
    center->hooks = hooks ? hooks : &NO_SERVICES;
    StationListDb* stationListDb = new (std::nothrow) StationListDb;
    g_userListDb = new (std::nothrow) StationListDb;
    if (!stationListDb || !g_userListDb) Log_Fatal("%s:malloc store error", "Ntrip::Vorlane_Create");
    Ntrip::Vorlane_SetCenter(center, stationListDb);

    center->roverUserTable = RoverUserTable::Create(UserDb_UpdateExpireAndFirstOnline);
    center->baseUserTable = BaseUserTable::Create();
    center->connInfoTable = ConnInfoTable::Create();
    center->baseTable = BaseTable::Create();
    center->roverTable = RoverTable::Create();
    center->relayAccounts = RelayAccountList::Create();
    if (!center->roverUserTable || !center->baseUserTable || !center->connInfoTable || !center->baseTable ||
        !center->roverTable || !center->relayAccounts) {
        Log_Fatal("%s:malloc table error", "Ntrip::Vorlane_Create");
    }

    if (!OpenDatabases(STATION_DB_FILE, USER_DB_FILE)) Log_Info("Open Database:station.db failed.");
    if (!OpenUserDb(USER_DB_FILE, g_userListDb)) Log_Info("Open Database:user.db failed.");
    BaseUserTable* baseUsers = center->baseUserTable;
    RoverUserTable* roverUsers = center->roverUserTable;
    g_userListDb->LoadBaseUsers([baseUsers](const UserRecord& row) {
        BaseUser user;
        BaseUser_FromUserRecord(&row, &user);
        baseUsers->Insert(&user);
    });
    g_userListDb->LoadRoverUsers([roverUsers](const UserRecord& row) {
        RoverUser user;
        RoverUser_FromUserRecord(&row, &user);
        roverUsers->Insert(&user);
    });
    if (!stationListDb->InitLists()) Log_Info("Init BaseStation black/white list failed.");

    center->loginExecutor = DecodeExecutor_Create(LOGIN_WORKERS, NtripDecoding::NtripLoginDecode, LoginExecute);
    center->baseExecutor = DecodeExecutor_Create(BASE_WORKERS, RTCMDecoding::RtcmDecode, BaseDecodeExecute);
    center->roverExecutor = DecodeExecutor_Create(ROVER_WORKERS, NEMADecoding::GgaDecode, RoverDecodeExecute);
    if (!center->loginExecutor || !center->baseExecutor || !center->roverExecutor) {
        Log_Fatal("%s:malloc executor error", "Ntrip::Vorlane_Create");
    }
    // What a peer sends behind its login request takes the road the login
    // opens, in order with what it sends later.
    DecodeExecutor_SetHandOff(center->loginExecutor, ConnectionRoad_HandOff, ConnectionRoad_Leave);

    center->ctrlCenterConfig = NewZeroed<CtrlCenterConfig>("CtrlCenterConfig");
    // Without the control-centre link a "PPP-RTK" base's bytes reach nobody.
    if (center->hooks->pppRtkExecutorCreate) center->pppRtkExecutor = center->hooks->pppRtkExecutorCreate(center);
    if (center->hooks->pppRaTableCreate) center->pppRaTable = center->hooks->pppRaTableCreate();
    center->httpServerConfig = NewZeroed<HttpServerConfig>("HttpServerConfig");

    // Loaded into a record of its own, then published as the first copy
    // every reader takes.
    NtripServerConfig ntrip;
    memset(&ntrip, 0, sizeof(ntrip));
    LoadGlobalIpConfig(center->ctrlCenterConfig, &ntrip, center->httpServerConfig);
    std::string problem;
    if (!LoadJsonConfig(center->ctrlCenterConfig, &ntrip, center->httpServerConfig, &problem)) {
        PrintStartFailure(problem);
        Log_Fatal("%s:LoadConfig fail, abort", "Ntrip::Vorlane_Create");
    }
    if (!SaveJsonConfig(center->ctrlCenterConfig, &ntrip, center->httpServerConfig, &problem)) {
        PrintStartFailure(problem);
        Log_Fatal("%s:SaveConfig fail, abort", "Ntrip::Vorlane_Create");
    }
    center->ntripServerConfig = new (std::nothrow) ConfigSnapshot<NtripServerConfig>(ntrip);
    if (!center->ntripServerConfig) Log_Fatal("%s:malloc %s error", "Ntrip::Vorlane_Create", "NtripServerConfig");

    std::string smtpConf;
    if (center->hooks->mailerCreate && ExePathOf(SMTP_CONF_FILE_NAME, &smtpConf)) {
        center->mailer = center->hooks->mailerCreate(smtpConf.c_str());
    }
    // The warning settings the control centre last wrote (zeroed without a
    // "warning" section): the alarm-post worker made next starts from them.
    center->warningConfig = NewZeroed<WarningConfig>("WarningConfig");
    LoadWarningJsonConfig(center->warningConfig);
    if (center->hooks->alarmPostCreate) center->httpPostThread = center->hooks->alarmPostCreate();

    // Two clients of one centre: rover login, and the recheck of relay
    // rovers. A missing or incomplete "AuthCentre.json" leaves both disabled.
    AuthCentre::GlobalInit();
    center->roverAuthCentre = NewZeroed<AuthCentreConfig>("AuthCentreConfig");
    AuthCentre::LoadConfig(center->roverAuthCentre, AUTH_CENTRE_FILE);
    center->relayRecheckAuthCentre = NewZeroed<AuthCentreConfig>("AuthCentreConfig");
    AuthCentre::LoadConfig(center->relayRecheckAuthCentre, AUTH_CENTRE_FILE);

    std::string relayList;
    if (ExePathOf(RELAY_ACCOUNT_FILE_NAME, &relayList)) {
        Log_Info("get Realy Account list ,path:%s", relayList.c_str());
        center->relayAccounts->Load(relayList.c_str());
    }
    char stateLine[1024];
    memset(stateLine, 0, sizeof(stateLine));
    center->relayAccounts->ReportState(stateLine, sizeof(stateLine));
    MailSetStatistics(stateLine);
    MailPostNotice("Vorlane is runing\n");

    NHServerCallbacks callbacks = {};
    callbacks.open = Ntrip_OpenCallback;
    callbacks.close = Ntrip_CloseCallback;
    callbacks.read = Ntrip_ReadCallback;
    // No write callback: what a rover is sent is counted by the loop with
    // the connection (the open callback hands it the counters).
    // Shares the timer's period and argument, and runs right after it.
    callbacks.tick = RelayRestartCallback;
    center->netServer = NHServer_Create(&callbacks);
    NHServer_SetTimer(center->netServer, Ntrip_TimerCallback, BASE_TIMER_PERIOD_MS, center);

    if (center->hooks->ctrlInit) {
        const CtrlCenterConfig* ctrl = center->ctrlCenterConfig;
        if (!center->hooks->ctrlInit(center, ctrl->ip, ctrl->port)) {
            Log_Info("Ctrl-Response ip = %s, port = %d init failed.", ctrl->ip, ctrl->port);
            return nullptr;
        }
        Log_Info("Ctrl-Response ip = %s, port = %d", ctrl->ip, ctrl->port);
    }
    return center;
}

}  // namespace Ntrip

int VorlaneMain(const Ntrip::ServiceHooks* hooks)
{
    CrashDump_Install();

    char dir[EXE_DIR_PATH_SIZE];
    memset(dir, 0, sizeof(dir));
    bool found = GetExeDirPathInWin(dir);
    printf("exePath: %s\n", dir);
    if (!found) return VORLANE_NO_EXE_DIR;
    std::string prefix = std::string(dir) + "Vorlane";
    Log_Init(prefix.c_str());
    // From here on no thread waits on the disk for a log line.
    Log_StartWriter();
    Log_Info("Start Vorlane");

    Ntrip::Vorlane* center = Ntrip::Vorlane_Create(hooks);
    if (!center) {
        Log_Error("%s:Create Vorlane:error", "VorlaneMain");
        return VORLANE_CREATE_FAILED;
    }
    if (center->hooks->httpInspectorStart) center->hooks->httpInspectorStart(center);
    g_runningServer.store(center->netServer);
    int result = g_stopRequested.load() ? 0 : Vorlane_Run(center);
    Log_Info("Stop Vorlane");
#ifdef VORLANE_ORDERLY_EXIT
    if (StopThreadsInOrder(center)) {
        g_stoppedInOrder.store(true);
    } else {
        Log_Error("%s:a service did not stop in time; the process ends with it running", "VorlaneMain");
    }
#endif
    return result;
}

bool VorlaneMain_StoppedInOrder() { return g_stoppedInOrder.load(); }

void VorlaneMain_RequestStop()
{
    g_stopRequested.store(true);
    NHServer* server = g_runningServer.load();
    if (server) NHServer_Destroy(server);
}

int Vorlane_Run(Ntrip::Vorlane* center)
{
    if (center->hooks->ctrlStart) center->hooks->ctrlStart(center);

    // The interfaces' own addresses: a failing host-name lookup never keeps
    // the caster from running.
    std::vector<std::string> addresses = GetLocalAddresses();
    for (const std::string& address : addresses) {
        Log_Info("Local IP=%s", address.c_str());
        printf("Local IP=%s\n", address.c_str());
    }

    std::shared_ptr<const NtripServerConfig> config = center->ntripServerConfig->Current();
    Log_Info("RedivEvurer ip = %s, port = %d", config->ip, config->port);
    printf("RedivEvurer ip = %s, port = %d\n", config->ip, config->port);
    fflush(stdout);

    int result = NHServer_Run(center->netServer, config->ip, config->port, NHSERVER_MODE_LISTEN);
    if (result != NHSERVER_OK) {
        char where[96];
        snprintf(where, sizeof(where), "%s:%d", config->ip, config->port);
        if (result == NHSERVER_ERR_BIND) {
            PrintStartFailure(std::string("the caster port ") + where + " cannot be bound (" +
                              strerror(NHServer_ListenError(center->netServer)) + ")");
        } else if (result == NHSERVER_ERR_ADDRESS) {
            PrintStartFailure(std::string("the caster address ") + config->ip + " is not a dotted IPv4 address");
        } else {
            PrintStartFailure(std::string("the caster loop for ") + where + " cannot be made");
        }
        Log_Error("%s:caster loop cannot start on ip = %s, port = %d, error = %d", "Vorlane_Run", config->ip,
                  config->port, result);
        return VORLANE_LOOP_FAILED;
    }
    return 0;
}
