#include "caster/centre/Vorlane.h"

#include "caster/relay/AuthCentre.h"
#include "caster/session/BaseLogin.h"
#include "caster/registry/BaseTable.h"
#include "caster/session/BaseTimer.h"
#include "caster/registry/BaseUserTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/session/NtripCallbacks.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayCallbacks.h"
#include "caster/session/RoverData.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/RoverUserTable.h"
#include "caster/centre/ServiceHooks.h"
#include "config/AuthCentreFile.h"
#include "config/GlobalIpConfig.h"
#include "config/VorlaneConfig.h"
#include "decoding/DecodeExecutor.h"
#include "decoding/NtripDecoding/NtripRequestDecode.h"
#include "decoding/NEMADecoding/GgaDecode.h"
#include "decoding/RTCMDecoding/RtcmDecode.h"
#include "net/NHServer.h"
#include "platform/LocalTime.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"
#include "store/StationListDb.h"
#include "store/UserDb.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

namespace {

// Worker counts of the executors: one channel always goes to one worker.
const int LOGIN_WORKERS = 2;
const int BASE_WORKERS = 2;
const int ROVER_WORKERS = 2;

const char* const RELAY_ACCOUNT_FILE_NAME = "RelayAccount.list";
const char* const SMTP_CONF_FILE_NAME = "RelaySmtp.conf";

Ntrip::Vorlane* g_center = nullptr;
// The table of a centre created without services: every entry null.
const Ntrip::ServiceHooks NO_SERVICES = {};
// "station.db": the black and white lists, for the life of the process.
StationListDb* g_stationListDb = nullptr;
// A second store on "user.db", used only to load the user tables.
StationListDb* g_userListDb = nullptr;

template <typename T>
T* NewZeroed(const char* what)
{
    T* record = static_cast<T*>(calloc(1, sizeof(T)));
    if (!record) Log_Fatal("%s:malloc %s error", "Ntrip::Vorlane_Create", what);
    return record;
}

// The executable's directory followed by name; false when either does not fit.
bool ExePathOf(const char* name, std::string* path)
{
    char dir[EXE_DIR_PATH_SIZE];
    memset(dir, 0, sizeof(dir));
    if (!GetExeDirPathInWin(dir)) {
        Log_Info("exePath: %s", dir);
        return false;
    }
    *path = std::string(dir) + name;
    return true;
}

}  // namespace

namespace Ntrip {

bool OpenDatabases(const char* stationFile, const char* userFile)
{
    std::string station, user;
    if (!ExePathOf(stationFile, &station) || !ExePathOf(userFile, &user)) return false;
    if (!g_stationListDb->IsOpen()) g_stationListDb->Open(station.c_str());
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
    g_center = center;
    center->hooks = hooks ? hooks : &NO_SERVICES;
    g_stationListDb = new (std::nothrow) StationListDb;
    g_userListDb = new (std::nothrow) StationListDb;
    if (!g_stationListDb || !g_userListDb) Log_Fatal("%s:malloc store error", "Ntrip::Vorlane_Create");

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
    if (!g_stationListDb->InitLists()) Log_Info("Init BaseStation black/white list failed.");

    center->loginExecutor = DecodeExecutor_Create(LOGIN_WORKERS, NtripDecoding::Ntrip1CasterDecode, LoginExecute);
    center->baseExecutor = DecodeExecutor_Create(BASE_WORKERS, RTCMDecoding::RtcmDecode, BaseDecodeExecute);
    center->roverExecutor = DecodeExecutor_Create(ROVER_WORKERS, NEMADecoding::GgaDecode, RoverDecodeExecute);
    if (!center->loginExecutor || !center->baseExecutor || !center->roverExecutor) {
        Log_Fatal("%s:malloc executor error", "Ntrip::Vorlane_Create");
    }

    center->ctrlCenterConfig = NewZeroed<CtrlCenterConfig>("CtrlCenterConfig");
    center->ntripServerConfig = NewZeroed<NtripServerConfig>("NtripServerConfig");
    // Without the control-centre link a "PPP-RTK" base's bytes reach nobody.
    if (center->hooks->pppRtkExecutorCreate) center->pppRtkExecutor = center->hooks->pppRtkExecutorCreate(center);
    if (center->hooks->pppRaTableCreate) center->pppRaTable = center->hooks->pppRaTableCreate();
    center->httpServerConfig = NewZeroed<HttpServerConfig>("HttpServerConfig");

    LoadGlobalIpConfig(center->ctrlCenterConfig, center->ntripServerConfig, center->httpServerConfig);
    if (!LoadJsonConfig(center->ctrlCenterConfig, center->ntripServerConfig, center->httpServerConfig)) {
        Log_Fatal("%s:LoadConfig fail, abort", "Ntrip::Vorlane_Create");
    }
    if (!SaveJsonConfig(center->ctrlCenterConfig, center->ntripServerConfig, center->httpServerConfig)) {
        Log_Fatal("%s:SaveConfig fail, abort", "Ntrip::Vorlane_Create");
    }

    std::string smtpConf;
    if (center->hooks->mailerCreate && ExePathOf(SMTP_CONF_FILE_NAME, &smtpConf)) {
        center->mailer = center->hooks->mailerCreate(smtpConf.c_str());
    }
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

    center->netServer = NHServer_Create();
    NHServer_SetOpenCallback(center->netServer, Ntrip_OpenCallback);
    NHServer_SetCloseCallback(center->netServer, Ntrip_CloseCallback);
    NHServer_SetReadCallback(center->netServer, Ntrip_ReadCallback);
    NHServer_SetWriteCallback(center->netServer, Ntrip_WriteCallback);
    NHServer_SetTimer(center->netServer, Ntrip_TimerCallback, BASE_TIMER_PERIOD_MS, center);
    NHServer_SetRelayConnectedCallback(center->netServer, RelaySetChannel);
    NHServer_SetRelayVerifiedCallback(center->netServer, RelayOpenCallback);
    NHServer_SetRelayClosedCallback(center->netServer, RelayCloseCallback);
    // Shares the timer's period and argument, and runs right after it.
    NHServer_SetTickCallback(center->netServer, RelayRestartCallback);

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

void MailSetStatistics(const char* text)
{
    if (g_center && g_center->mailer && g_center->hooks->mailerSetStatistics) {
        g_center->hooks->mailerSetStatistics(g_center->mailer, text);
    }
}

void MailPostNotice(const char* text)
{
    if (g_center && g_center->mailer && g_center->hooks->mailerPostNotice) {
        g_center->hooks->mailerPostNotice(g_center->mailer, text);
    }
}

}  // namespace Ntrip

Ntrip::Vorlane* GetCenter() { return g_center; }
StationListDb* GetStationListDb() { return g_stationListDb; }
ConnInfoTable* GetConnInfoTable() { return g_center->connInfoTable; }
BaseTable* GetBaseTable() { return g_center->baseTable; }
RoverTable* GetRoverTable() { return g_center->roverTable; }
RoverUserTable* GetRoverUserTable() { return g_center->roverUserTable; }
BaseUserTable* GetBaseUserTable() { return g_center->baseUserTable; }
NHServer* GetNetServer() { return g_center->netServer; }
RelayAccountList* GetRelayAccountList() { return g_center->relayAccounts; }
AuthCentreConfig* GetRoverAuthCentre() { return g_center->roverAuthCentre; }
AuthCentreConfig* GetRelayRecheckAuthCentre() { return g_center->relayRecheckAuthCentre; }
CtrlCenterConfig* GetCtrlCenterConfig() { return g_center->ctrlCenterConfig; }
NtripServerConfig* GetNtripServerConfig() { return g_center->ntripServerConfig; }
HttpServerConfig* GetHttpServerConfig() { return g_center->httpServerConfig; }
PppRaTable* GetPppRaTable() { return g_center->pppRaTable; }
WarningConfig* GetWarningConfig() { return g_center->warningConfig; }

void GetTimeString(char* buffer, int size)
{
    if (!buffer || size - 1 <= 0) return;
    PlatformLocalTime now;
    Platform_GetLocalTime(&now);
    snprintf(buffer, static_cast<size_t>(size), "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
             now.hour, now.minute, now.second);
    buffer[size - 1] = '\0';
}

int64_t ParseTimeString(const char* text)
{
    if (!text || !*text) return 0;
    struct tm t;
    memset(&t, 0, sizeof(t));
    if (sscanf(text, "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec) < 1) {
        return 0;
    }
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    // Let the library decide on daylight saving, so a text written in summer
    // reads back as the moment it was written.
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t));
}
