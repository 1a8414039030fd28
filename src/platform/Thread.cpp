#include "platform/Thread.h"

#include "platform/CrashHandler.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

struct PlatformThread {
    pthread_t id;
    PlatformThreadProc proc;
    void* arg;
    unsigned result;
    bool joinable;
};

static void* ThreadTrampoline(void* p)
{
    PlatformThread* t = static_cast<PlatformThread*>(p);
    Platform_SetupCrashStack();
    unsigned r = t->proc(t->arg);
    Platform_ReleaseCrashStack();
    if (t->joinable) {
        t->result = r;
    } else {
        delete t;
    }
    return nullptr;
}

PlatformThread* Platform_BeginThread(PlatformThreadProc proc, void* arg, bool joinable, bool* ok)
{
    if (ok) *ok = false;
    if (!proc) return nullptr;
    PlatformThread* t = new (std::nothrow) PlatformThread{};
    if (!t) return nullptr;
    t->proc = proc;
    t->arg = arg;
    t->joinable = joinable;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (!joinable) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = pthread_create(&t->id, &attr, ThreadTrampoline, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete t;
        return nullptr;
    }
    if (ok) *ok = true;
    // A detached thread may already have run and freed its handle.
    return joinable ? t : nullptr;
}

unsigned Platform_JoinThread(PlatformThread* thread)
{
    if (!thread) return 0;
    pthread_join(thread->id, nullptr);
    unsigned r = thread->result;
    delete thread;
    return r;
}

bool Platform_JoinThreadWithin(PlatformThread* thread, unsigned timeoutMs)
{
    if (!thread) return true;
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += timeoutMs / 1000;
    until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(thread->id, nullptr, &until) != 0) return false;
    delete thread;
    return true;
}

void Platform_Sleep(unsigned milliseconds)
{
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

long Platform_ThreadId()
{
    return static_cast<long>(syscall(SYS_gettid));
}
