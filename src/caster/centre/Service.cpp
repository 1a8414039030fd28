#include "caster/centre/Service.h"

#include "caster/centre/VorlaneMain.h"
#include "platform/Thread.h"
#include "runtime/Log.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <signal.h>

#include <atomic>
#include <mutex>

namespace {

// The service thread tells the dispatcher that VorlaneMain has returned.
const int SERVICE_DONE_SIGNAL = SIGUSR1;

std::mutex g_statusMutex;
ServiceStatus g_status;
ServiceStatus g_reported;
std::atomic<bool> g_serviceDone{false};
std::atomic<int> g_serviceResult{0};
pthread_t g_dispatcher;
// Joinable only where the process ends through exit(): the service thread
// must have ended whole (its thread-local state freed) before the leak check.
PlatformThread* g_serviceThread = nullptr;
#ifdef VORLANE_ORDERLY_EXIT
const bool SERVICE_THREAD_JOINABLE = true;
#else
const bool SERVICE_THREAD_JOINABLE = false;
#endif

// The dispatcher's result, once the service thread has returned.
int EndedWith(int status)
{
    if (g_serviceThread && g_serviceDone.load()) {
        Platform_JoinThread(g_serviceThread);
        g_serviceThread = nullptr;
    }
    return status;
}

// Stands in for telling the service manager.
void ReportStatus()
{
    g_reported = g_status;
}

unsigned ServiceThread(void* hooks)
{
    ServiceMain(static_cast<const Ntrip::ServiceHooks*>(hooks));
    return 0;
}

int ExitStatusOf(int result)
{
    if (result == 0) return 0;
    return result > 0 ? result : 1;
}

#ifdef VORLANE_ORDERLY_EXIT
// How long a stop waits for the caster loop and the workers to end.
const int ORDERLY_STOP_WAIT_S = 10;

// Breaks the caster loop and waits (bounded) for VorlaneMain to return.
void StopInOrder(const sigset_t* controls)
{
    VorlaneMain_RequestStop();
    struct timespec wait = {ORDERLY_STOP_WAIT_S, 0};
    while (!g_serviceDone.load()) {
        if (sigtimedwait(controls, nullptr, &wait) < 0 && errno == EAGAIN) break;
    }
    if (!g_serviceDone.load()) Log_Error("%s:the caster did not stop in time", "Service_Dispatch");
}
#endif

}  // namespace

void ServiceMain(const Ntrip::ServiceHooks* hooks)
{
    {
        std::lock_guard<std::mutex> guard(g_statusMutex);
        g_status = ServiceStatus{0x30, SERVICE_START_PENDING, 5, 0, 0, 0, 0};
        // Registering the handler cannot fail here: the dispatcher calls it.
        g_status.currentState = SERVICE_RUNNING;
        ReportStatus();
    }
    g_serviceResult.store(VorlaneMain(hooks));
    g_serviceDone.store(true);
    pthread_kill(g_dispatcher, SERVICE_DONE_SIGNAL);
}

void ServiceCtrlHandler(uint32_t control)
{
    std::lock_guard<std::mutex> guard(g_statusMutex);
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        g_status.currentState = SERVICE_STOPPED;
        g_status.exitCode = 0;
    }
    ReportStatus();
}

bool Service_Ended() { return g_serviceDone.load(); }

ServiceStatus Service_CurrentStatus()
{
    std::lock_guard<std::mutex> guard(g_statusMutex);
    return g_reported;
}

int Service_Dispatch(const Ntrip::ServiceHooks* hooks)
{
    g_dispatcher = pthread_self();
    // Blocked before any thread starts, so every thread inherits the mask
    // and the signals reach only the sigwait below.
    sigset_t controls;
    sigemptyset(&controls);
    sigaddset(&controls, SIGTERM);
    sigaddset(&controls, SIGINT);
    sigaddset(&controls, SERVICE_DONE_SIGNAL);
    pthread_sigmask(SIG_BLOCK, &controls, nullptr);

    bool started = false;
    g_serviceThread = Platform_BeginThread(ServiceThread, const_cast<Ntrip::ServiceHooks*>(hooks),
                                           SERVICE_THREAD_JOINABLE, &started);
    if (!started) {
        Log_Error("%s:cannot start the service thread", "Service_Dispatch");
        return 1;
    }
    for (;;) {
        int sig = 0;
        if (sigwait(&controls, &sig) != 0) continue;
        if (sig == SERVICE_DONE_SIGNAL) {
            if (g_serviceDone.load()) return EndedWith(ExitStatusOf(g_serviceResult.load()));
            continue;
        }
        ServiceCtrlHandler(sig == SIGTERM ? SERVICE_CONTROL_STOP : SERVICE_CONTROL_SHUTDOWN);
        if (Service_CurrentStatus().currentState == SERVICE_STOPPED) {
#ifdef VORLANE_ORDERLY_EXIT
            StopInOrder(&controls);
#endif
            return EndedWith(0);
        }
    }
}
