#include "caster/centre/Vorlane.h"

#include "caster/centre/ServiceHooks.h"

namespace {

Ntrip::Vorlane* g_center = nullptr;
// "station.db": the black and white lists, for the life of the process.
StationListDb* g_stationListDb = nullptr;

}  // namespace

namespace Ntrip {

void Vorlane_SetCenter(Vorlane* center, StationListDb* stationListDb)
{
    g_center = center;
    g_stationListDb = stationListDb;
}

void Vorlane_PublishNtripServerConfig(const NtripServerConfig& record)
{
    g_center->ntripServerConfig->Publish(record);
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
const CtrlCenterConfig* GetCtrlCenterConfig() { return g_center->ctrlCenterConfig; }
std::shared_ptr<const NtripServerConfig> GetNtripServerConfig()
{
    const ConfigSnapshot<NtripServerConfig>* live = g_center->ntripServerConfig;
    return live ? live->Current() : nullptr;
}
const HttpServerConfig* GetHttpServerConfig() { return g_center->httpServerConfig; }
PppRaTable* GetPppRaTable() { return g_center->pppRaTable; }
WarningConfig* GetWarningConfig() { return g_center->warningConfig; }
