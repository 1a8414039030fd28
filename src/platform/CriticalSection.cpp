#include "platform/CriticalSection.h"

#include <cstdio>
#include <cstdlib>

void Platform_InitCriticalSection(PlatformCriticalSection* cs)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (pthread_mutex_init(&cs->mutex, &attr) != 0) {
        // Nothing can run safely without its locks.
        fputs("Platform_InitCriticalSection: pthread_mutex_init failed\n", stderr);
        abort();
    }
    pthread_mutexattr_destroy(&attr);
}

void Platform_DeleteCriticalSection(PlatformCriticalSection* cs)
{
    pthread_mutex_destroy(&cs->mutex);
}

void Platform_EnterCriticalSection(PlatformCriticalSection* cs)
{
    pthread_mutex_lock(&cs->mutex);
}

void Platform_LeaveCriticalSection(PlatformCriticalSection* cs)
{
    pthread_mutex_unlock(&cs->mutex);
}
