#include "platform/CrashHandler.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

static PlatformCrashFilter g_crashFilter = nullptr;
static volatile sig_atomic_t g_inCrash = 0;

static void CrashSignalHandler(int sig, siginfo_t* info, void*)
{
    // A second fault while writing the dump must not loop.
    if (!g_inCrash) {
        g_inCrash = 1;
        if (g_crashFilter) {
            PlatformCrashInfo ci;
            ci.signal_number = sig;
            ci.fault_address = info ? info->si_addr : nullptr;
            ci.thread_id = static_cast<long>(syscall(SYS_gettid));
            g_crashFilter(&ci);
        }
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// Stack overflows need a stack of their own to run the handler on; the
// alternate stack is per thread, so every thread we start sets one up.
static const size_t kCrashStackSize = 64 * 1024;
static thread_local char* t_crashStack = nullptr;

bool Platform_SetupCrashStack()
{
    if (t_crashStack) return true;
    char* stack = static_cast<char*>(malloc(kCrashStackSize));
    if (!stack) return false;
    stack_t ss;
    memset(&ss, 0, sizeof(ss));
    ss.ss_sp = stack;
    ss.ss_size = kCrashStackSize;
    if (sigaltstack(&ss, nullptr) != 0) {
        free(stack);
        return false;
    }
    t_crashStack = stack;
    return true;
}

void Platform_ReleaseCrashStack()
{
    if (!t_crashStack) return;
    stack_t ss;
    memset(&ss, 0, sizeof(ss));
    ss.ss_flags = SS_DISABLE;
    sigaltstack(&ss, nullptr);
    free(t_crashStack);
    t_crashStack = nullptr;
}

bool Platform_InstallCrashHandler(PlatformCrashFilter filter)
{
    g_crashFilter = filter;

    if (!Platform_SetupCrashStack()) return false;

    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_sigaction = CrashSignalHandler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    bool ok = true;
    for (int s : signals) {
        if (sigaction(s, &sa, nullptr) != 0) ok = false;
    }
    return ok;
}
