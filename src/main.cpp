// Entry of the vorlane executable.
#include "platform/Process.h"
#include "runtime/CrashDump.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"

#include <csignal>
#include <cstdio>
#include <string>

int main()
{
    Platform_InitProcess();
    CrashDump_Install();

    char dir[EXE_DIR_PATH_SIZE];
    if (!GetExeDirPathInWin(dir)) {
        fprintf(stderr, "vorlane: cannot find the executable's directory\n");
        return 1;
    }
    std::string prefix = std::string(dir) + "Vorlane";
    Log_Init(prefix.c_str());
    Log_Info("Start Vorlane");

    // The caster is not served yet: wait for the stop signal.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    int sig = 0;
    sigwait(&set, &sig);
    Log_Info("Stop Vorlane");
    return 0;
}
