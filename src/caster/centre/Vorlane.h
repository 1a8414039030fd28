// The centre object: the one process-wide owner of the caster's registries,
// user tables, network server, decode executors and configuration records.
// It is built once at start-up and lives until the process ends; everything
// else reaches it through GetCenter() and the getters below, which take no
// lock (callers lock the registries they use, in the order connection, base,
// rover).
#pragma once

#include "config/ConfigRecords.h"
#include "config/ConfigSnapshot.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class ConnInfoTable;
class BaseTable;
class RoverTable;
class RoverUserTable;
class BaseUserTable;
class StationListDb;
class RelayAccountList;
struct NHServer;
struct DecodeExecutor;

// Built by the subsystems that own them; the centre keeps null until then.
class smtp_email;
struct PppRaTable;
class HttpPostThread;

namespace Ntrip {

struct ServiceHooks;

struct Vorlane {
    ConnInfoTable* connInfoTable;
    BaseTable* baseTable;
    RoverTable* roverTable;
    RoverUserTable* roverUserTable;  // user_tb type 3
    BaseUserTable* baseUserTable;    // user_tb type 2
    RelayAccountList* relayAccounts;
    smtp_email* mailer;
    AuthCentreConfig* roverAuthCentre;
    AuthCentreConfig* relayRecheckAuthCentre;
    NHServer* netServer;
    DecodeExecutor* loginExecutor;  // "UnknowLoginDecodeExecutor"
    DecodeExecutor* baseExecutor;   // "BaseDecodeExecutor"
    DecodeExecutor* roverExecutor;  // "RoverDecodeExecutor"
    CtrlCenterConfig* ctrlCenterConfig;
    // Replaced whole by the control centre at run time; see GetNtripServerConfig.
    ConfigSnapshot<NtripServerConfig>* ntripServerConfig;
    HttpServerConfig* httpServerConfig;
    DecodeExecutor* pppRtkExecutor;  // "PPP-RTK"
    PppRaTable* pppRaTable;
    WarningConfig* warningConfig;
    HttpPostThread* httpPostThread;
    const ServiceHooks* hooks;  // never null once created; an entry may be null (that service is off)
};

// Makes center the one GetCenter() returns and stationListDb the store
// GetStationListDb() returns. Creation calls it before it builds anything
// else, so that whatever runs during creation finds both.
void Vorlane_SetCenter(Vorlane* center, StationListDb* stationListDb);

// Makes a copy of record the caster's settings from the next reader on.
void Vorlane_PublishNtripServerConfig(const NtripServerConfig& record);

// Hand the mail notifier its statistics text, or a notice to send at once;
// nothing without a mailer.
void MailSetStatistics(const char* text);
void MailPostNotice(const char* text);

}  // namespace Ntrip

Ntrip::Vorlane* GetCenter();
StationListDb* GetStationListDb();
ConnInfoTable* GetConnInfoTable();
BaseTable* GetBaseTable();
RoverTable* GetRoverTable();
RoverUserTable* GetRoverUserTable();
BaseUserTable* GetBaseUserTable();
NHServer* GetNetServer();
RelayAccountList* GetRelayAccountList();
// The authentication-centre client of rover login.
AuthCentreConfig* GetRoverAuthCentre();
// Set at creation, unchanged after it.
const CtrlCenterConfig* GetCtrlCenterConfig();
// The caster's settings in force now, one immutable copy (null before
// creation made them). A reader takes it once per operation (a login, a
// timer pass) and reads every field from it.
std::shared_ptr<const NtripServerConfig> GetNtripServerConfig();
// Set at creation, unchanged after it.
const HttpServerConfig* GetHttpServerConfig();
PppRaTable* GetPppRaTable();
WarningConfig* GetWarningConfig();
