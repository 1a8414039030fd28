// A relay rover's positions: the first one starts the rover's own upstream
// connection with an account from the pool; later ones re-check the user with
// the authentication centre every 600 s.
//
// Called on a rover worker with no registry lock held. The rover lock is
// taken only around reads and writes of the rover's record, never across
// the authentication centre's HTTP exchange or the relay's start, so the
// caster's streams never wait for either.
#pragma once

#include <cstdint>

struct CasterScope;
struct AuthCentreConfig;
class RelayAccountList;

namespace NEMADecoding {
class NEMA_GPGGA;
}

namespace Ntrip {

// Seconds between two checks of a relay rover's user.
static const double RELAY_RECHECK_INTERVAL_S = 600.0;
// Below this many idle accounts the pool is running short.
static const int RELAY_IDLE_ACCOUNT_WARNING = 5;

// The rover (by channel) has sent a position: a relay is started for it when
// it has none yet, else its user is re-checked when due. now is seconds since
// 1970. False when the rover is gone or had to be closed for want of an
// account; true otherwise.
bool RelayAllocation_OnPosition(const CasterScope& scope, RelayAccountList* pool,
                                const AuthCentreConfig* recheckCentre, const NEMADecoding::NEMA_GPGGA& gga,
                                uint64_t channelID, int64_t now);

// The start of the rover's relay: an idle account of its relay mount, the
// relay context named "%s-%d" (mount, rover channel) with the sentence as
// its first message, MarkUsed, Relay_Connect, then the rover's record found
// again by channel and given the relay flag and the relay's name as its
// mount point. No idle account closes the rover. The results as above.
bool RelayAllocation_Start(const CasterScope& scope, RelayAccountList* pool, const NEMADecoding::NEMA_GPGGA& gga,
                           uint64_t channelID);

// The 600 s check of a relay rover's user. Nothing while the centre is not
// enabled: rovers let in by the rover user table are not thrown out. A user
// the centre does not answer with code 0 is closed.
bool RelayAllocation_Recheck(const CasterScope& scope, const AuthCentreConfig* recheckCentre, uint64_t channelID,
                             int64_t now);

}  // namespace Ntrip
