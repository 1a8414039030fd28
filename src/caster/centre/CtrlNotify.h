// The notifications the caster sends to every control-centre connection
// when bases and rovers come and go.
#pragma once

#include <cstdint>

namespace Ntrip {

enum CtrlNotifyType {
    CTRL_NOTIFY_BASE_TIMEOUT = 2000,  // base closed for sending no data
    CTRL_NOTIFY_BASE_LOGIN = 2002,
    CTRL_NOTIFY_BASE_OFFLINE = 2003,
    CTRL_NOTIFY_ROVER_LOGIN = 2004,
    CTRL_NOTIFY_ROVER_LOGOUT = 2005,
};

// What one notification names: for a base its mount point (and for 2000 its
// sequence number), for a rover its user name and mount point.
struct CtrlNotice {
    uint32_t baseSequence;
    const char* accessPoint;
    const char* roverName;
};

// Sends the notification to every control-centre connection through the
// centre's service hooks. Callers may hold the registry locks. Without a
// control-centre server there is no connection to reach, and the call only
// leaves a debug line.
void NotifyCtrlCenter(int type, const CtrlNotice& notice);

}  // namespace Ntrip
