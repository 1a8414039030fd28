// Entry of the vorlane executable: the service dispatcher runs the caster on
// its service thread and answers SIGTERM and SIGINT.
#include "caster/centre/Service.h"
#include "caster/centre/ServiceHooks.h"
#include "control/CtrlHooks.h"
#include "control/ProtobufLog.h"
#include "control/PppRtkHandlers.h"
#include "platform/Process.h"
#include "services/AlarmPost.h"
#include "services/HttpInspector.h"
#include "runtime/Log.h"
#include "services/MailerService.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The services above the caster, each entry filled by the module that
// provides it.
Ntrip::ServiceHooks Services()
{
    Ntrip::ServiceHooks hooks = {};
    hooks.httpInspectorStart = [](Ntrip::Vorlane*) { StartHttpInspector(); };
    hooks.alarmPostCreate = AlarmPost_Create;
    hooks.ctrlInit = CtrlHooks_Init;
    hooks.ctrlStart = CtrlHooks_Start;
    hooks.ctrlNotify = CtrlHooks_Notify;
    hooks.pppRtkExecutorCreate = PppRtk_CreateExecutor;
    hooks.pppRaTableCreate = PppRtk_CreateTable;
    hooks.mailerCreate = MailerService_Create;
    hooks.mailerSetStatistics = MailerService_SetStatistics;
    hooks.mailerPostNotice = MailerService_PostNotice;
    return hooks;
}

const Ntrip::ServiceHooks SERVICES = Services();

}  // namespace

int main()
{
    Platform_InitProcess();
    ProtobufLog_ToDailyLog();
    int status = Service_Dispatch(&SERVICES);
#ifdef VORLANE_ORDERLY_EXIT
    // The caster has stopped in order: a normal exit, which runs the leak check.
    if (Service_Ended()) return status;
#endif
    // The loops and workers are still running: end the process with every
    // thread in it, as a stopped service does, without running destructors
    // under their feet.
    Log_Flush(2000);  // the last lines, unless the disk has stopped answering
    fflush(stdout);
    fflush(stderr);
    _exit(status);
}
