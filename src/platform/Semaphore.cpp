#include "platform/Semaphore.h"

#include <cerrno>
#include <ctime>

bool Platform_CreateSemaphore(PlatformSemaphore* sem, long initial, long maximum)
{
    if (initial < 0 || maximum < 1 || initial > maximum) return false;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    // Time-outs must not jump when the wall clock is set.
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_mutex_init(&sem->mutex, nullptr);
    pthread_cond_init(&sem->cond, &attr);
    pthread_condattr_destroy(&attr);
    sem->count = initial;
    sem->maximum = maximum;
    return true;
}

void Platform_DestroySemaphore(PlatformSemaphore* sem)
{
    pthread_cond_destroy(&sem->cond);
    pthread_mutex_destroy(&sem->mutex);
}

bool Platform_ReleaseSemaphore(PlatformSemaphore* sem, long release)
{
    if (release < 1) return false;
    pthread_mutex_lock(&sem->mutex);
    bool ok = sem->count <= sem->maximum - release;
    if (ok) {
        sem->count += release;
        pthread_cond_broadcast(&sem->cond);
    }
    pthread_mutex_unlock(&sem->mutex);
    return ok;
}

bool Platform_WaitSemaphore(PlatformSemaphore* sem, long timeout_ms)
{
    struct timespec deadline;
    if (timeout_ms >= 0) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeout_ms / 1000;
        deadline.tv_nsec += (timeout_ms % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    pthread_mutex_lock(&sem->mutex);
    while (sem->count == 0) {
        if (timeout_ms < 0) {
            pthread_cond_wait(&sem->cond, &sem->mutex);
        } else if (pthread_cond_timedwait(&sem->cond, &sem->mutex, &deadline) == ETIMEDOUT) {
            break;
        }
    }
    bool taken = sem->count > 0;
    if (taken) sem->count -= 1;
    pthread_mutex_unlock(&sem->mutex);
    return taken;
}
