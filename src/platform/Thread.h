// Threads, sleeping and thread identity for the rest of the system.
#pragma once

#include <cstdint>

// A started thread. Detached threads free their handle themselves.
struct PlatformThread;

typedef unsigned (*PlatformThreadProc)(void* arg);

// Starts proc(arg) on a new thread. A joinable thread must be joined with
// Platform_JoinThread; a detached one (joinable false) returns nullptr on
// success as there is nothing to keep. *ok reports whether the start worked.
PlatformThread* Platform_BeginThread(PlatformThreadProc proc, void* arg, bool joinable, bool* ok);

// Waits for a joinable thread, frees its handle and returns the value proc returned.
unsigned Platform_JoinThread(PlatformThread* thread);
// Waits at most timeoutMs for a joinable thread. True when it has ended: its
// handle is freed then. False when it still runs: the handle stays valid.
bool Platform_JoinThreadWithin(PlatformThread* thread, unsigned timeoutMs);

void Platform_Sleep(unsigned milliseconds);

// The kernel's ID of the calling thread, as log lines print it.
long Platform_ThreadId();
