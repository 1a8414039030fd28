#include "caster/centre/CasterScope.h"

#include "caster/centre/Vorlane.h"

CasterScope CasterScope_Of(const Ntrip::Vorlane* center)
{
    CasterScope scope;
    scope.server = center->netServer;
    scope.conns = center->connInfoTable;
    scope.bases = center->baseTable;
    scope.rovers = center->roverTable;
    scope.config = center->ntripServerConfig->Current();
    return scope;
}

CasterScope CasterScope_OfCenter() { return CasterScope_Of(GetCenter()); }
