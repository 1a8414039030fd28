#include "control/CtrlCenterServer.h"

#include <atomic>

namespace {

// Written once at creation, read by every decode thread.
std::atomic<NHServer*> CtrlCenterServer{nullptr};

}  // namespace

NHServer* GetCtrlCenterServer() { return CtrlCenterServer.load(); }
void SetCtrlCenterServer(NHServer* server) { CtrlCenterServer.store(server); }
