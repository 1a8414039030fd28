// Fatal-signal hook: the replacement for an unhandled-exception filter.
#pragma once

// What the faulting thread knew when the signal arrived.
struct PlatformCrashInfo {
    int signal_number;
    void* fault_address;  // si_addr: the faulting address for SIGSEGV/SIGBUS
    long thread_id;
};

// Called on the faulting thread, on an alternate stack. Must call only
// async-signal-safe functions: the fault may have come from inside malloc or
// stdio with their locks held, and any wait on them is for ever.
typedef int (*PlatformCrashFilter)(const PlatformCrashInfo* info);

// Installs filter for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. After the
// filter returns, the default action is restored and the signal raised again,
// so the process still ends the way it would have. The filter runs once: a
// fault inside it ends the process by the default action, and one on another
// thread meanwhile waits for the dump (5 s at most) before it does the same.
bool Platform_InstallCrashHandler(PlatformCrashFilter filter);

// Gives the calling thread its alternate signal stack (threads started by
// Platform_BeginThread do this themselves) and takes it away again.
bool Platform_SetupCrashStack();
void Platform_ReleaseCrashStack();
