#include "caster/centre/VorlaneMain.h"

#include "caster/centre/ServiceHooks.h"
#include "caster/centre/Vorlane.h"
#include "net/NHServer.h"
#include "runtime/CrashDump.h"
#include "runtime/ExeDir.h"
#include "runtime/LocalHostIp.h"
#include "runtime/Log.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
    Log_Info("Start Vorlane");

    Ntrip::Vorlane* center = Ntrip::Vorlane_Create(hooks);
    if (!center) {
        Log_Error("%s:Create Vorlane:error", "VorlaneMain");
        return VORLANE_CREATE_FAILED;
    }
    if (center->hooks->httpInspectorStart) center->hooks->httpInspectorStart(center);
    int result = Vorlane_Run(center);
    Log_Info("Stop Vorlane");
    return result;
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

    const NtripServerConfig* config = center->ntripServerConfig;
    Log_Info("RedivEvurer ip = %s, port = %d", config->ip, config->port);
    printf("RedivEvurer ip = %s, port = %d\n", config->ip, config->port);
    fflush(stdout);

    int result = NHServer_Run(center->netServer, config->ip, config->port, NHSERVER_MODE_LISTEN);
    if (result != NHSERVER_OK) {
        Log_Error("%s:caster loop cannot start on ip = %s, port = %d, error = %d", "Vorlane_Run", config->ip,
                  config->port, result);
        return VORLANE_LOOP_FAILED;
    }
    return 0;
}
