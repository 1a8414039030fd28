// The caster's creation, its real main and its run.
#pragma once

class StationListDb;

namespace Ntrip {

struct Vorlane;
struct ServiceHooks;

// Builds the centre, or null when it cannot serve. A configuration that does
// not load or cannot be saved back is fatal. hooks (kept, may be null) plugs
// in the services built above the caster.
Vorlane* Vorlane_Create(const ServiceHooks* hooks = nullptr);

// Opens "station.db" into the station-list store and "user.db" into the user
// store, both beside the executable. False only when the executable's
// directory is unknown.
bool OpenDatabases(const char* stationFile, const char* userFile);
// Opens the user file beside the executable into store (true when open already).
bool OpenUserDb(const char* userFile, StationListDb* store);

}  // namespace Ntrip

// Results of VorlaneMain and Vorlane_Run besides 0.
enum {
    VORLANE_NO_EXE_DIR = -1,     // the executable's directory is unknown
    VORLANE_CREATE_FAILED = 1,   // the centre could not be built
    VORLANE_LOOP_FAILED = 2,     // the caster loop could not start (bad ip, port in use)
};

// Installs the crash-dump writer, opens the daily log beside the executable
// ("Vorlane_YYYY-MM-DD.log"), builds the centre and runs the caster loop on
// the calling thread, with the services of hooks (may be null) plugged in.
// 0 when the loop ended normally; otherwise one of the codes above, after
// its log line.
int VorlaneMain(const Ntrip::ServiceHooks* hooks = nullptr);

// Asks VorlaneMain, from any thread, to end: the caster loop is broken (or,
// when it has not started yet, never runs) and VorlaneMain returns. Used by
// the service wrapper of builds that end through a normal exit.
void VorlaneMain_RequestStop();

// In builds that end through a normal exit (VORLANE_ORDERLY_EXIT): true once
// VorlaneMain has returned after joining the workers and every thread of the
// services (ServiceHooks::servicesStop). False otherwise, also after a
// creation that failed: threads of ours may then still run.
bool VorlaneMain_StoppedInOrder();

// Logs the local addresses and the caster address, then runs the caster's
// event loop on the calling thread until it is broken. 0 after a normal end,
// VORLANE_LOOP_FAILED when it could not start.
int Vorlane_Run(Ntrip::Vorlane* center);
