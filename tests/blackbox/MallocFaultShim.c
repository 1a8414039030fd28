/* Preloaded (LD_PRELOAD) into a caster under test: a heap that breaks while
 * its lock is held, the way a corrupted heap shows inside glibc's allocator.
 *
 * Every malloc of the process takes one lock around glibc's own malloc.
 * Once the file named by VORLANE_MALLOC_FAULT_FILE exists, the next malloc
 * faults while it holds that lock: from then on every malloc waits for ever,
 * those of the faulting thread's signal handler included. */
#include <pthread.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);

static pthread_mutex_t g_heapLock = PTHREAD_MUTEX_INITIALIZER;
static const char* g_triggerFile;
static atomic_int g_fired;

__attribute__((constructor)) static void MallocFaultShim_Init(void)
{
    g_triggerFile = getenv("VORLANE_MALLOC_FAULT_FILE");
}

void* malloc(size_t size)
{
    pthread_mutex_lock(&g_heapLock);
    if (g_triggerFile && !atomic_load(&g_fired) && access(g_triggerFile, F_OK) == 0 &&
        !atomic_exchange(&g_fired, 1)) {
        /* Through a volatile, so the compiler cannot see the address is bad. */
        volatile uintptr_t address = 0x10;
        *(volatile int*)address = 1;
    }
    void* p = __libc_malloc(size);
    pthread_mutex_unlock(&g_heapLock);
    return p;
}
