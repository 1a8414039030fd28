// The control centre's entries of the caster's service hooks.
#pragma once

namespace Ntrip {
struct Vorlane;
struct CtrlNotice;
}  // namespace Ntrip

// Creation: sets up the control-centre server on (ip, port).
bool CtrlHooks_Init(Ntrip::Vorlane* center, const char* ip, int port);
// Vorlane_Run: starts the control loop's thread.
void CtrlHooks_Start(Ntrip::Vorlane* center);
// The orderly exit: ends the control loop and every control connection's
// decode thread, waiting at most timeoutMs for the loop. False when it is
// still running.
bool CtrlHooks_Stop(unsigned timeoutMs);
// The caster's notification: builds the station message of the notice and
// queues it to the logged-in control connections. Registry locks may be held.
void CtrlHooks_Notify(int type, const Ntrip::CtrlNotice& notice);
