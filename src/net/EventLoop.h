// What the network server needs from the event library beyond stock libevent
// 2.1, built as a thin layer around it (the library itself is not changed):
//
// - a never-idle base: EventLoop_NewBase gives every base a connected socket
//   pair with a persistent read event on it, so the loop keeps running while
//   no listener or timer is pending and stops only when broken;
// - a per-iteration hook and a cross-thread wake-up: EventLoop_Dispatch drives
//   the loop one iteration at a time (EVLOOP_ONCE) and calls the base's hook
//   once before the first iteration and after every iteration.
//   event_base_notify activates a dedicated event of the base from any thread,
//   so the blocked iteration ends and the hook runs. The hook runs on the loop
//   thread but outside the base's lock (callbacks of libevent 2.1 run outside
//   it too); it may add, remove and write events of the base.
//   Guarantee the command queue builds on: whatever a thread made visible
//   before calling event_base_notify is seen by a hook call that starts after
//   that call, and the first hook call (before the first iteration) sees
//   everything done before EventLoop_Dispatch was entered;
// - one 64-bit tag per buffered connection, kept in a side table outside the
//   library. It is zero until set; clear it (bufferevent_clear_tag) before
//   the connection is freed, or a later connection at the same address would
//   read the stale value.
//
// Bases made by plain event_base_new work with the stock calls only; the
// hook, the notify and EventLoop_Break need a base made by EventLoop_NewBase.
#pragma once

#include <cstdint>

struct event_base;
struct bufferevent;

typedef void (*EventLoopHook)(struct event_base* base, void* arg);

// Turns on the library's pthreads locking once per process. Every base that
// is touched from more than one thread must be made after this.
void EventLoop_UseThreads();

// A notifiable, never-idle base (threads turned on first), or nullptr.
// Fatal "%s: Unable to create socket pair" ("event_base_new") when the
// socket pair cannot be made.
struct event_base* EventLoop_NewBase();

// Frees a base made by EventLoop_NewBase, with its socket pair and events.
// The loop must have returned; events still added to the base are dropped.
void EventLoop_FreeBase(struct event_base* base);

// Runs the loop on the calling thread until EventLoop_Break, or until
// event_base_loopbreak/loopexit ends an iteration. 0 when broken, -1 on a
// library error. Bases not made by EventLoop_NewBase run event_base_dispatch.
int EventLoop_Dispatch(struct event_base* base);

// Asks the loop to stop after its current iteration; any thread. Unlike a
// bare event_base_loopbreak it is not lost when it arrives between two
// iterations. 0, or -1 for an unknown base.
int EventLoop_Break(struct event_base* base);

// Installs the one hook of a base; a second call replaces the first, a null
// hook removes it. 0, or -1 for an unknown base.
int event_base_set_loop_hook(struct event_base* base, EventLoopHook hook, void* arg);

// Wakes the base's loop from any thread so that it finishes an iteration and
// runs its hook. 0, or -1 for an unknown base (nothing happens).
int event_base_notify(struct event_base* base);

void bufferevent_set_tag(struct bufferevent* bev, uint64_t tag);
uint64_t bufferevent_get_tag(struct bufferevent* bev);
void bufferevent_clear_tag(struct bufferevent* bev);
