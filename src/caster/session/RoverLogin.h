// A rover's "GET" login (or binary login frame).
#pragma once

#include "decoding/NtripDecoding/NtripLog.h"

#include <cstdint>

namespace Ntrip {

// Runs on a login worker with the connection, base and rover locks held from
// the connection check on. Checks, in order: a mount point is given; the
// software name when use_software_name is 1; the connection is known; the
// binding (a relay mount, a virtual mount, or a named base that is online;
// an offline named base is answered with the source table); the user and
// password when rover_login_mode is 0 (on a relay mount by the
// authentication centre when it is enabled, asked with no registry lock
// held; else by the rover user table); the per-user login limit. Then it registers the
// rover, replies "ICY 200 OK" and only then subscribes it to its base, so no
// base byte can reach the rover before the reply; writes the user log line
// and notifies the control centre (2004). Passwords never reach a log.
void RoverLogin(const NtripDecoding::NtripClientLoginRequest* request, uint64_t channelID);

// Whether the user agent, trimmed, names one of the accepted programs
// ("Tarnek", "NTRIP GNSSInternetRadio/1.4.10"), in any case.
bool RoverLogin_SoftwareNameAccepted(const char* userAgent);

}  // namespace Ntrip
