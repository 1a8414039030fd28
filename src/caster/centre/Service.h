// The service wrapper on Linux: the process's main thread stands in for the
// service dispatcher and the service thread runs the caster.
//
// SIGTERM and SIGINT are the stop and shutdown controls: the control handler
// reports the service stopped and the process ends with status 0, with every
// thread in it (no "Stop Vorlane" line then). A build with
// VORLANE_ORDERLY_EXIT (the sanitizer builds) first breaks the caster loop
// and waits for VorlaneMain to return ("Stop Vorlane", then the workers and
// the services' threads joined), so that the process can end through exit()
// and its leak check. When VorlaneMain returns on its
// own the process ends with its result: 0 after a normal end of the loop,
// 1 when the centre could not be built (or the executable's directory is
// unknown), 2 when the caster loop could not start.
#pragma once

#include <cstdint>

// The controls of the service handler.
enum {
    SERVICE_CONTROL_STOP = 1,
    SERVICE_CONTROL_INTERROGATE = 4,
    SERVICE_CONTROL_SHUTDOWN = 5,
};

// The states of the service status.
enum {
    SERVICE_STOPPED = 1,
    SERVICE_START_PENDING = 2,
    SERVICE_RUNNING = 4,
};

struct ServiceStatus {
    uint32_t serviceType;       // 0x30
    uint32_t currentState;      // SERVICE_*
    uint32_t controlsAccepted;  // 5: stop and shutdown
    uint32_t exitCode;
    uint32_t serviceExitCode;
    uint32_t checkPoint;
    uint32_t waitHint;
};

// Runs the service: blocks the stop signals for every thread, starts the
// service thread (ServiceMain) and waits for a stop signal or the service's
// end. Returns the process's exit status. hooks (may be null) plugs the
// services above the caster into it.
namespace Ntrip {
struct ServiceHooks;
}
int Service_Dispatch(const Ntrip::ServiceHooks* hooks = nullptr);

// The service main function: reports the service running and runs VorlaneMain.
void ServiceMain(const Ntrip::ServiceHooks* hooks);

// The control handler: stop and shutdown report the service stopped; any
// other control reports the status unchanged.
void ServiceCtrlHandler(uint32_t control);

// Whether the service thread's VorlaneMain has returned.
bool Service_Ended();

// The status last reported.
ServiceStatus Service_CurrentStatus();
