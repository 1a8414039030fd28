// The fatal-signal hook, run in forked children: the filter runs once and
// the process always ends by a signal, whatever the filter or another
// thread does meanwhile.
#include "platform/CrashHandler.h"

#include "support/SanitizerReport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace {

void FaultHere()
{
    // Through a volatile, so the compiler cannot see the address is bad.
    volatile uintptr_t address = 0x10;
    *reinterpret_cast<volatile int*>(address) = 1;
}

// Runs body in a forked child; its raw wait status, or -1 when it still
// ran after timeoutMs (it is killed then). What the child writes to the
// descriptor body is given is read into *out; its standard error goes to
// *err.
int RunChild(void (*body)(int out), int timeoutMs, std::string* out, const ChildStderr* err)
{
    int fds[2];
    if (pipe(fds) != 0) return -2;
    pid_t pid = fork();
    if (pid == 0) {
        err->Redirect();
        close(fds[0]);
        body(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = -1;
    for (;;) {
        struct pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char buffer[256];
            ssize_t n = read(fds[0], buffer, sizeof(buffer));
            if (n > 0) out->append(buffer, static_cast<size_t>(n));
        }
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
    }
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) out->append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    return status;
}

int g_out = -1;

void Say(const char* text)
{
    ssize_t n = write(g_out, text, strlen(text));
    (void)n;
}

// Filters that fail in their own ways.
int FilterFaults(const PlatformCrashInfo*)
{
    Say("filter ");
    FaultHere();
    return 1;
}
int FilterRaisesBus(const PlatformCrashInfo*)
{
    Say("filter ");
    raise(SIGBUS);
    return 1;
}
int FilterAborts(const PlatformCrashInfo*)
{
    Say("filter ");
    abort();
}

PlatformCrashFilter g_filter = nullptr;

void InstallAndFault(int out)
{
    g_out = out;
    if (!Platform_InstallCrashHandler(g_filter)) _exit(3);
    FaultHere();
}

TEST(CrashHandler, AFaultInsideTheFilterEndsTheProcessWithoutRunningItAgain)
{
    struct {
        const char* name;
        PlatformCrashFilter filter;
        int endsBy;
    } cases[] = {
        {"faults", FilterFaults, SIGSEGV},
        {"raises SIGBUS", FilterRaisesBus, SIGBUS},
        {"aborts", FilterAborts, SIGABRT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_filter = c.filter;
        std::string said;
        ChildStderr err;
        int status = RunChild(InstallAndFault, 10000, &said, &err);
        EXPECT_EQ("", SanitizerReport_Find(err.Text())) << err.Text();
        ASSERT_NE(-1, status) << "the child still ran";
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(c.endsBy, WTERMSIG(status));
        EXPECT_EQ("filter ", said);
    }
}

// What the filter below learns of the second thread, through calls a signal
// handler may make: /proc/self/task/<tid>/<name> read into buffer (size
// counts the NUL it ends with); its length, or -1.
ssize_t ReadTaskFile(long tid, const char* name, char* buffer, size_t size)
{
    char path[96] = "/proc/self/task/";
    size_t at = strlen(path);
    char digits[24];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + tid % 10);
        tid /= 10;
    } while (tid > 0 && n < sizeof(digits));
    size_t nameLength = strlen(name);
    if (at + n + 1 + nameLength + 1 > sizeof(path)) return -1;
    while (n > 0) path[at++] = digits[--n];
    path[at++] = '/';
    memcpy(path + at, name, nameLength + 1);
    int fd = open(path, O_RDONLY);
    if (fd < 0) return -1;
    ssize_t got = read(fd, buffer, size - 1);
    close(fd);
    if (got < 0) return -1;
    buffer[got] = '\0';
    return got;
}

// The run state of a thread ('R' running, 'S' asleep), from its "stat".
char ThreadState(long tid)
{
    char line[512];
    if (ReadTaskFile(tid, "stat", line, sizeof(line)) < 0) return '?';
    const char* close = strrchr(line, ')');
    return close && close[1] == ' ' ? close[2] : '?';
}

// Whether a thread has sig blocked, from the "SigBlk" mask of its "status".
// The kernel blocks a signal for the run of its handler: so a thread with no
// mask of its own has entered the handler of sig once it is blocked.
bool SignalBlocked(long tid, int sig)
{
    char status[4096];
    if (ReadTaskFile(tid, "status", status, sizeof(status)) < 0) return false;
    const char* field = strstr(status, "\nSigBlk:");
    if (!field) return false;
    field += strlen("\nSigBlk:");
    while (*field == ' ' || *field == '\t') ++field;
    unsigned long long mask = 0;
    for (; *field && *field != '\n'; ++field) {
        char c = *field;
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        mask = mask << 4 | static_cast<unsigned>(digit);
    }
    return (mask >> (sig - 1)) & 1;
}

void SleepMs(long ms)
{
    struct timespec tick = {ms / 1000, (ms % 1000) * 1000 * 1000};
    nanosleep(&tick, nullptr);
}

long MsSince(const struct timespec& start)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / (1000 * 1000);
}

std::atomic<bool> g_secondMayFault{false};
std::atomic<long> g_secondThread{0};

// The second fault is of another signal than the first, so the signal that
// ends the process tells whose handler ended it.
const int kSecondFaultSignal = SIGILL;

// Lets a second thread fault, and goes on with its dump once that thread is
// in the handler and asleep there. Its handler must still be waiting when
// the dump is written: one that ended the process meanwhile would end it by
// the second thread's signal, before "dump written".
int FilterWithASecondFault(const PlatformCrashInfo*)
{
    Say("dump begun ");
    g_secondMayFault = true;
    const long second = g_secondThread;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool waits = false;
    while (!waits && MsSince(start) < 3000) {
        waits = SignalBlocked(second, kSecondFaultSignal) && ThreadState(second) == 'S';
        if (!waits) SleepMs(1);
    }
    Say(waits ? "second thread waits " : "second thread never waited ");
    // The rest of a dump's writing: the second thread has this long to end
    // the process if it does not wait for the dump.
    SleepMs(200);
    Say("dump written");
    return 1;
}

void TwoThreadsFault(int out)
{
    g_out = out;
    if (!Platform_InstallCrashHandler(FilterWithASecondFault)) _exit(3);
    std::thread second([] {
        Platform_SetupCrashStack();
        sigset_t fault;
        sigemptyset(&fault);
        sigaddset(&fault, kSecondFaultSignal);
        pthread_sigmask(SIG_UNBLOCK, &fault, nullptr);
        g_secondThread = static_cast<long>(syscall(SYS_gettid));
        while (!g_secondMayFault) {
        }
        __builtin_trap();  // an illegal instruction: SIGILL
    });
    while (g_secondThread == 0) {
    }
    FaultHere();
    second.join();
}

TEST(CrashHandler, AFaultOnAnotherThreadWaitsForTheDump)
{
    std::string said;
    ChildStderr err;
    int status = RunChild(TwoThreadsFault, 10000, &said, &err);
    EXPECT_EQ("", SanitizerReport_Find(err.Text())) << err.Text();
    ASSERT_NE(-1, status) << "the child still ran";
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGSEGV, WTERMSIG(status)) << strsignal(WTERMSIG(status));
    EXPECT_EQ("dump begun second thread waits dump written", said);
}

}  // namespace
