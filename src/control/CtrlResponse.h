// The control-centre link as the caster sees it: set-up at creation, the
// notifications of bases and rovers coming and going, the heartbeat, and the
// dispatcher every control connection's decode thread hands its units to.
#pragma once

#include "decoding/LogRoot.h"

#include <cstdint>

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

// Creates the control-centre server and its connection record for (ip,
// port). Binds nothing: listening starts with the server thread. False when
// either cannot be created.
bool CtrlResponse_Init(const char* ip, int port);

// For 2000, 2002, 2003, 2004 and 2005: encodes message with id -1 and posts
// it to every logged-in control connection; 2011 (the heartbeat) goes to
// every connection. Other types, and a message that does not fit one
// 2048-byte frame, send nothing. The caller keeps the message. Only encodes
// and queues, so it may be called with registry locks held.
void CtrlResponse_SendNotify(int type, const google::protobuf::Message& message);

// The heartbeat: ServiceStatusMsg {status, heart_beat 1} as type 2011.
void CtrlResponse_SendServiceStatus(int status);

// The dispatch function of every control connection; context is its
// CtrlConnection. Deletes the unit.
void CtrlResponse_Dispatch(Tarnek::LogRoot* unit, void* context);
