// A counting semaphore with a maximum count, as decode threads are woken with.
#pragma once

#include <pthread.h>

struct PlatformSemaphore {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    long count;
    long maximum;
};

// Returns false when initial is negative, maximum below 1 or initial above maximum.
bool Platform_CreateSemaphore(PlatformSemaphore* sem, long initial, long maximum);
void Platform_DestroySemaphore(PlatformSemaphore* sem);

// Adds release to the count. A release that would pass the maximum changes
// nothing and returns false.
bool Platform_ReleaseSemaphore(PlatformSemaphore* sem, long release);

// Takes one count, waiting at most timeout_ms (negative: for ever).
// Returns false on time-out.
bool Platform_WaitSemaphore(PlatformSemaphore* sem, long timeout_ms);
