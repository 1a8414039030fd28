// The caster port's connection callbacks, run by the network server on the
// caster's event-loop thread, and the login executor's handler, run on a
// login worker.
//
// Every connection is, in turn: known (a ConnInfo from the open) -> logging
// in (its bytes go to the login executor) -> base or rover (after a login)
// -> closed (its records cleared). Locks are taken in the order connection,
// base, rover and released in reverse; sends and closes are posted commands.
#pragma once

#include "caster/session/RefusedRequests.h"
#include "decoding/LogRoot.h"

#include <cstdint>

namespace Ntrip {

// The keep-alive a base receives at most once per interval while it sends.
extern const char* const BASE_KEEP_ALIVE;  // "XQN200\r\n", 8 bytes, no terminator
static const int BASE_KEEP_ALIVE_INTERVAL_S = 10;

void Ntrip_OpenCallback(uint64_t channelID, const char* ip, int port, int kind);
void Ntrip_ReadCallback(uint64_t channelID, const char* bytes, int length);
void Ntrip_CloseCallback(uint64_t channelID, int reason);

// The text a close reason is logged with.
const char* CloseTypeText(int reason);

// Hands one decoded login request to base login, rover login or the source
// table; counts a request that is none of them as refused (RefusedRequests.h).
// A request of a channel that is a base or a rover already is dropped with a
// log line, and so is what it queued behind: a channel logs in once. Deletes
// the unit; false for a unit that is not an NTRIP request.
bool LoginExecute(Tarnek::LogRoot** unit, uint64_t channelID);

}  // namespace Ntrip
