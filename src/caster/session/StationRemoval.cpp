#include "caster/session/StationRemoval.h"

#include "caster/centre/CasterScope.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "net/NHServer.h"
#include "store/StationListDb.h"

bool RemoveBaseStation(const char* mountPoint)
{
    return RemoveBaseStation_In(CasterScope_OfCenter(), GetStationListDb(), mountPoint);
}

bool RemoveBaseStation_In(const CasterScope& scope, StationListDb* lists, const char* mountPoint)
{
    if (!mountPoint) return false;
    bool found;
    {
        BaseTable::Guard guard;
        BaseRecord* base = scope.bases->FindByName(mountPoint);
        found = base != nullptr;
        if (base && base->state == BASE_STATE_ONLINE) NHServer_PostClose(scope.server, base->channelID);
    }
    // The lists write to the database: never under the base lock, which the
    // caster loop takes on every base read.
    if (lists->IsBlack(mountPoint)) {
        lists->DelBlack(mountPoint);
    } else if (lists->IsWhite(mountPoint)) {
        lists->DelWhite(mountPoint);
    }
    return found;
}
