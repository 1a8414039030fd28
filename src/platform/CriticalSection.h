// A re-entrant mutex: the thread that holds it may enter it again, and must
// leave it as often as it entered. Callers such as the session callbacks rely
// on taking a registry lock they already hold.
#pragma once

#include <pthread.h>

struct PlatformCriticalSection {
    pthread_mutex_t mutex;
};

void Platform_InitCriticalSection(PlatformCriticalSection* cs);
void Platform_DeleteCriticalSection(PlatformCriticalSection* cs);
void Platform_EnterCriticalSection(PlatformCriticalSection* cs);
void Platform_LeaveCriticalSection(PlatformCriticalSection* cs);
