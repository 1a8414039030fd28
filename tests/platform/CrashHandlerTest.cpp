// The fatal-signal hook, run in forked children: the filter runs once and
// the process always ends by a signal, whatever the filter or another
// thread does meanwhile.
#include "platform/CrashHandler.h"

#include <gtest/gtest.h>

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
// descriptor body is given is read into *out.
int RunChild(void (*body)(int out), int timeoutMs, std::string* out)
{
    int fds[2];
    if (pipe(fds) != 0) return -2;
    pid_t pid = fork();
    if (pid == 0) {
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
        int status = RunChild(InstallAndFault, 10000, &said);
        ASSERT_NE(-1, status) << "the child still ran";
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(c.endsBy, WTERMSIG(status));
        EXPECT_EQ("filter ", said);
    }
}

// The run state of one thread of this process ('R' running, 'S' asleep).
char ThreadState(long tid)
{
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/task/%ld/stat", tid);
    FILE* f = fopen(path, "r");
    if (!f) return '?';
    char line[512];
    size_t n = fread(line, 1, sizeof(line) - 1, f);
    fclose(f);
    line[n] = '\0';
    const char* close = strrchr(line, ')');
    return close && close[1] == ' ' ? close[2] : '?';
}

std::atomic<bool> g_secondMayFault{false};
std::atomic<long> g_secondThread{0};

// Lets a second thread fault, and goes on with its dump only once that
// thread has entered the handler and sleeps there.
int FilterWithASecondFault(const PlatformCrashInfo*)
{
    Say("dump begun ");
    g_secondMayFault = true;
    for (int i = 0; i < 500 && ThreadState(g_secondThread) != 'S'; ++i) usleep(10 * 1000);
    Say(ThreadState(g_secondThread) == 'S' ? "second thread waits " : "second thread never waited ");
    Say("dump written");
    return 1;
}

void TwoThreadsFault(int out)
{
    g_out = out;
    if (!Platform_InstallCrashHandler(FilterWithASecondFault)) _exit(3);
    std::thread second([] {
        Platform_SetupCrashStack();
        g_secondThread = static_cast<long>(syscall(SYS_gettid));
        while (!g_secondMayFault) {
        }
        FaultHere();
    });
    while (g_secondThread == 0) {
    }
    FaultHere();
    second.join();
}

TEST(CrashHandler, AFaultOnAnotherThreadWaitsForTheDump)
{
    std::string said;
    int status = RunChild(TwoThreadsFault, 10000, &said);
    ASSERT_NE(-1, status) << "the child still ran";
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(SIGSEGV, WTERMSIG(status));
    EXPECT_EQ("dump begun second thread waits dump written", said);
}

}  // namespace
