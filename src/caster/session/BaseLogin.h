// A base station's "SOURCE" login.
#pragma once

#include "decoding/NtripDecoding/NtripLog.h"

#include <cstdint>

namespace Ntrip {

// Runs on a login worker. Decides whether the base may publish under the
// mount point (reserved names, black list, password when base_login_mode is
// 0), records it (a new login, or a relogin that takes the mount point and
// its rovers over from the old connection), replies and notifies the control
// centre (2002). A refused login with a reply leaves the connection open for
// another request; a black-listed mount point is closed without a reply.
void BaseLogin(const NtripDecoding::NtripServerLoginRequest* request, uint64_t channelID);

}  // namespace Ntrip
