// Entry of the vorlane executable: the service dispatcher runs the caster on
// its service thread and answers SIGTERM and SIGINT; the user log and the
// daily log are flushed, each within a bounded time, before the process ends.
#include "caster/centre/Service.h"
#include "caster/centre/Vorlane.h"
#include "caster/centre/VorlaneMain.h"
#include "caster/centre/CtrlNotify.h"
#include "caster/centre/ServiceHooks.h"
#include "caster/relay/AuthCentre.h"
#include "caster/session/UserLogQueue.h"
#include "control/CtrlHooks.h"
#include "control/CtrlWarnConfig.h"
#include "control/MessageTypeTable.h"
#include "control/ProtobufLog.h"
#include "control/PppRtkHandlers.h"
#include "platform/Process.h"
#include "runtime/Log.h"
#include "services/AlarmEvents.h"
#include "services/AlarmPost.h"
#include "services/HttpInspector.h"
#include "services/HttpPostThread.h"
#include "services/MailerService.h"

#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

// The services above the caster, each entry filled by the module that
// provides it.
Ntrip::ServiceHooks Services()
{
    Ntrip::ServiceHooks hooks = {};
    hooks.httpInspectorStart = [](Ntrip::Vorlane*) { StartHttpInspector(); };
    hooks.alarmPostCreate = [] {
        HttpPostThread* worker = AlarmPost_Create();
        AlarmEvents_InitFromCentre();
        return worker;
    };
    hooks.ctrlInit = [](Ntrip::Vorlane* center, const char* ip, int port) {
        CtrlWarnConfig_SetHooks({AlarmEvents_Apply, CopyWarningConfig});
        return CtrlHooks_Init(center, ip, port);
    };
    hooks.ctrlStart = CtrlHooks_Start;
    // The control centres hear of every base and rover; a base that leaves
    // is also an alarm.
    hooks.ctrlNotify = [](int type, const Ntrip::CtrlNotice& notice) {
        CtrlHooks_Notify(type, notice);
        if (type == Ntrip::CTRL_NOTIFY_BASE_OFFLINE || type == Ntrip::CTRL_NOTIFY_BASE_TIMEOUT) {
            AlarmEvents_BaseLeft(type == Ntrip::CTRL_NOTIFY_BASE_TIMEOUT, notice.accessPoint);
        }
    };
    hooks.pppRtkExecutorCreate = PppRtk_CreateExecutor;
    hooks.pppRaTableCreate = PppRtk_CreateTable;
    hooks.mailerCreate = MailerService_Create;
    hooks.mailerSetStatistics = MailerService_SetStatistics;
    hooks.mailerPostNotice = MailerService_PostNotice;
    // The orderly exit: the control side first (its handlers may re-target
    // the alarm-post worker), then the inspector, the alarm posts, the mail.
    hooks.servicesStop = [](Ntrip::Vorlane* center, unsigned timeoutMs) {
        bool stopped = CtrlHooks_Stop(timeoutMs);
        stopped = StopHttpInspector(timeoutMs) && stopped;
        if (center->httpPostThread) stopped = center->httpPostThread->StopWithin(timeoutMs) && stopped;
        stopped = MailerService_Stop(center->mailer, timeoutMs) && stopped;
        return stopped;
    };
    return hooks;
}

const Ntrip::ServiceHooks SERVICES = Services();

}  // namespace

int main()
{
    Platform_InitProcess();
    // libcurl's global set-up is not thread-safe: it runs here, once, before
    // any thread exists that could make a client (the alarm-post worker is
    // made, and may start, before the authentication-centre clients).
    AuthCentre::GlobalInit();
    ProtobufLog_ToDailyLog();
    MessageType_RegisterDescriptors();
    int status = Service_Dispatch(&SERVICES);
    // Rover logins and GGA lines still waiting for the user log's thread go
    // to disk first, as far as it answers in the time; the count of those
    // that did not reaches the daily log, which is flushed after.
    uint64_t linesLeft = 0;
    if (!UserLogQueue_Flush(2000, &linesLeft)) {
        Log_Warn("%s:%llu user log lines not written at the stop", "main", static_cast<unsigned long long>(linesLeft));
    }
#ifdef VORLANE_ORDERLY_EXIT
    // The caster has stopped in order and no thread of ours that uses a
    // global still runs: a normal exit, which runs the leak check. The
    // daily log's writer and the user log's thread stay, idle on state that
    // is never freed, for lines a destructor might still write.
    if (Service_Ended() && VorlaneMain_StoppedInOrder()) return status;
#endif
    // The loops and workers are still running: end the process with every
    // thread in it, as a stopped service does, without running destructors
    // under their feet.
    Log_Flush(2000);  // the last lines, unless the disk has stopped answering
    fflush(stdout);
    fflush(stderr);
    _exit(status);
}
