#include "platform/CrashHandler.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

static PlatformCrashFilter g_crashFilter = nullptr;
// The thread that runs the filter (0 until a fatal signal). A lock-free
// atomic: the handler may take nothing that can wait.
static std::atomic<long> g_crashThread{0};
static_assert(std::atomic<long>::is_always_lock_free, "the handler claims the dump without a lock");

// A thread that faults while another writes the dump gives it this long
// before ending the process itself.
static const int kDumpWaitMs = 5000;

static void EndBySignal(int sig)
{
    struct sigaction dfl;
    memset(&dfl, 0, sizeof(dfl));
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    // Pending until the handler returns, since the signal is blocked in it;
    // then the default action ends the process by this signal.
    raise(sig);
}

static void CrashSignalHandler(int sig, siginfo_t* info, void*)
{
    long self = static_cast<long>(syscall(SYS_gettid));
    long owner = 0;
    if (g_crashThread.compare_exchange_strong(owner, self)) {
        if (g_crashFilter) {
            PlatformCrashInfo ci;
            ci.signal_number = sig;
            ci.fault_address = info ? info->si_addr : nullptr;
            ci.thread_id = self;
            g_crashFilter(&ci);
        }
    } else if (owner != self) {
        // Another thread's dump is being written, and its re-raise ends the
        // process; a fault on the dumping thread itself ends it at once.
        struct timespec tick = {0, 10 * 1000 * 1000};
        for (int waited = 0; waited < kDumpWaitMs; waited += 10) nanosleep(&tick, nullptr);
    }
    EndBySignal(sig);
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
