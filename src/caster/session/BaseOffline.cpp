#include "caster/session/BaseOffline.h"

#include "caster/binding/NearestBinding.h"
#include "caster/centre/CtrlNotify.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/VirtualMount.h"
#include "net/NHServer.h"

#include <cstring>

namespace Ntrip {

void BaseOffline(NHServer* server, uint64_t channelID)
{
    CasterScope scope = CasterScope_OfCenter();
    scope.server = server;
    BaseOffline_Apply(scope, channelID);
}

void BaseOffline_Apply(const CasterScope& scope, uint64_t channelID)
{
    BaseTable* bases = scope.bases;
    RoverTable* rovers = scope.rovers;
    BaseRecord* base = bases->Find(channelID);
    if (!base) {
        NearestBinding_UpdateAll(scope);
        return;
    }
    if (base->state == BASE_STATE_CLEARED) {
        bases->Remove(channelID);
        NearestBinding_UpdateAll(scope);
        return;
    }

    CtrlNotice notice = {0, base->mountPoint, nullptr};
    NotifyCtrlCenter(CTRL_NOTIFY_BASE_OFFLINE, notice);
    // Its subscriber list goes with it: nothing it sent after this reaches anyone.
    NHServer_PostRemovePublisher(scope.server, channelID);

    // Another base to move the virtual-mount rovers to (this one still
    // counts as online until its record goes).
    bool other = false;
    bases->ForEach([&](BaseRecord* r) {
        if (r->channelID != channelID && r->state == BASE_STATE_ONLINE) other = true;
    });

    for (RoverListItem* item = rovers->First(); item; item = rovers->Next(item)) {
        RoverRecord* rover = item->record;
        if (strcmp(rover->mountPoint, base->mountPoint) == 0) {
            NHServer_PostClose(scope.server, rover->channelID);
        } else if (VirtualMount_HasPrefix(rover->mountPoint)) {
            if (other) {
                NHServer_PostUnsubscribe(scope.server, channelID, rover->channelID);
            } else {
                NHServer_PostClose(scope.server, rover->channelID);
            }
            // Unbound until the pass below finds it the nearest base left.
            if (rover->boundChannelID == channelID) NearestBinding_Forget(rover);
        }
    }
    bases->Remove(channelID);
    NearestBinding_UpdateAll(scope);
}

}  // namespace Ntrip
