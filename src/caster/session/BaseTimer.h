// The caster's 5000 ms session timer, which closes bases that have fallen
// silent and connections that never logged in (LoginTimeout.h).
#pragma once

#include <cstdint>

struct CasterScope;

namespace Ntrip {

// The timer's period: a silent base is closed between base_offline_time and
// base_offline_time + 5 s after its last data.
static const int BASE_TIMER_PERIOD_MS = 5000;

// The network server's timer callback, on the caster's event-loop thread:
// closes every base whose connection has been inactive (no byte read since
// the later of its open and its last data) for base_offline_time seconds or
// more, with the "Base auto offline" line and notification 2000; the close
// then runs base offline. center is the Vorlane centre (null: the one of
// GetCenter). A base_offline_time below 1 closes nothing.
void Ntrip_TimerCallback(int periodMs, void* center);

// One pass of that timer at the steady-clock time nowMs (ConnInfo_NowMs), on
// the given registries. Takes the connection lock, then the base lock.
void BaseTimer_Pass(const CasterScope& scope, int64_t nowMs);

}  // namespace Ntrip
