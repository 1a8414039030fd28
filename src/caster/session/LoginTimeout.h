// Connections of the caster port that never log in. Each one holds a socket
// and a descriptor of a limited process-wide supply, so a peer that opens
// connections and stays silent (or sends a byte now and then) could lock
// every real client out. The 5000 ms session timer closes a connection that
// has not completed a login within LOGIN_TIMEOUT_MS of its open; logged-in
// bases and rovers and the caster's own relay connections are never touched.
#pragma once

#include <cstdint>

struct CasterScope;

namespace Ntrip {

// From the open of a connection to the end of its login. With the timer's
// 5000 ms period a connection is closed between 30 and 35 s after its open.
static const int64_t LOGIN_TIMEOUT_MS = 30000;

// One pass at the time nowMs (ConnInfo_NowMs): posts the close of every
// connection, neither base (of any state) nor rover nor outgoing, opened
// timeoutMs or more before, with one "Login timeout" line each, and marks it
// closing. Takes the connection, base and rover locks, in that order.
void LoginTimeout_Pass(const CasterScope& scope, int64_t nowMs, int64_t timeoutMs = LOGIN_TIMEOUT_MS);

// Whether a login of the channel is still worth going on with at nowMs: its
// connection is there, not closing, and opened less than timeoutMs before.
// Takes the connection lock.
bool LoginTimeout_StillLoggingIn(const CasterScope& scope, uint64_t channelID, int64_t nowMs,
                                 int64_t timeoutMs = LOGIN_TIMEOUT_MS);

}  // namespace Ntrip
