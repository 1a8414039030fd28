// The registries, server and configuration one piece of session code works
// on: the caster's own (CasterScope_OfCenter) or a test's. A scope is made
// for one operation (a login, a timer pass, a position): its configuration
// is the copy in force when it was made, whatever is published meanwhile.
#pragma once

#include <memory>

struct NHServer;
struct NtripServerConfig;
class BaseTable;
class RoverTable;
class ConnInfoTable;

struct CasterScope {
    NHServer* server;
    ConnInfoTable* conns;
    BaseTable* bases;
    RoverTable* rovers;
    std::shared_ptr<const NtripServerConfig> config;
};

namespace Ntrip {
struct Vorlane;
}

// The registries, server and configuration of center.
CasterScope CasterScope_Of(const Ntrip::Vorlane* center);
// The same of the centre GetCenter() returns.
CasterScope CasterScope_OfCenter();
