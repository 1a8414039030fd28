// A relay rover's positions: the first one starts the rover's own upstream
// connection with an account from the pool; later ones re-check the user with
// the authentication centre every 600 s of the steady clock.
//
// Called on a rover worker with no registry lock held. The rover lock is
// taken only around reads and writes of the rover's record, never across
// the relay's start. The recheck is asked on the centre's own threads
// (AuthCentreQueue) and its answer acts there: the worker, and the other
// rovers it serves, never wait for the centre.
#pragma once

#include <cstdint>

struct CasterScope;
struct AuthCentreConfig;
class RelayAccountList;

namespace NEMADecoding {
class NEMA_GPGGA;
}

namespace Ntrip {

// Steady milliseconds between two checks of a relay rover's user.
static const int64_t RELAY_RECHECK_INTERVAL_MS = 600000;
// After a check the centre's queue had no room for, the next try comes this
// much later (at the first position past it).
static const int64_t RELAY_RECHECK_RETRY_MS = 10000;
// Below this many idle accounts the pool is running short.
static const int RELAY_IDLE_ACCOUNT_WARNING = 5;

// The rover (by channel) has sent a position: a relay is started for it when
// it has none yet, else its user is re-checked when due. nowMs is the steady
// clock's time (Platform_SteadyNowMs). False when the rover is gone or had to be closed for want of an
// account; true otherwise.
bool RelayAllocation_OnPosition(const CasterScope& scope, RelayAccountList* pool,
                                const AuthCentreConfig* recheckCentre, const NEMADecoding::NEMA_GPGGA& gga,
                                uint64_t channelID, int64_t nowMs);

// The start of the rover's relay: an idle account of its relay mount, the
// relay context named "%s-%d" (mount, rover channel) with the sentence as
// its first message, MarkUsed, Relay_Connect, then the rover's record found
// again by channel and given the relay flag and the relay's name as its
// mount point. No idle account closes the rover. The results as above.
bool RelayAllocation_Start(const CasterScope& scope, RelayAccountList* pool, const NEMADecoding::NEMA_GPGGA& gga,
                           uint64_t channelID);

// The 600 s check of a relay rover's user. Nothing while the centre is not
// enabled: rovers let in by the rover user table are not thrown out. When
// due, the check is queued (one per rover at a time) and the call returns;
// the centre's answer closes the rover unless it says code 0. A rover that
// left by the check's turn is not asked about; a check the queue has no room
// for keeps the rover and is tried again RELAY_RECHECK_RETRY_MS later. The
// centre record and the scope's server and rover registry must outlive the
// answer.
bool RelayAllocation_Recheck(const CasterScope& scope, const AuthCentreConfig* recheckCentre, uint64_t channelID,
                             int64_t nowMs);

}  // namespace Ntrip
