#include "caster/BaseOffline.h"

#include "caster/BaseTable.h"
#include "caster/CtrlNotify.h"
#include "caster/RoverTable.h"
#include "caster/VirtualMount.h"
#include "caster/Vorlane.h"
#include "net/NHServer.h"

#include <cstring>

namespace Ntrip {

// Virtual-mount rovers are re-bound to the nearest base still online at the
// end of each branch once nearest binding exists.
void BaseOffline(NHServer* server, uint64_t channelID)
{
    BaseTable* bases = GetBaseTable();
    RoverTable* rovers = GetRoverTable();
    BaseRecord* base = bases->Find(channelID);
    if (!base) return;
    if (base->state == BASE_STATE_CLEARED) {
        bases->Remove(channelID);
        return;
    }

    CtrlNotice notice = {0, base->mountPoint, nullptr};
    NotifyCtrlCenter(CTRL_NOTIFY_BASE_OFFLINE, notice);
    NHServer_PostRemovePublisher(server, channelID);

    // Another base to move the virtual-mount rovers to (this one still
    // counts as online until its record goes).
    bool other = false;
    bases->ForEach([&](BaseRecord* r) {
        if (r->channelID != channelID && r->state == BASE_STATE_ONLINE) other = true;
    });

    for (RoverListItem* item = rovers->First(); item; item = rovers->Next(item)) {
        RoverRecord* rover = item->record;
        if (strcmp(rover->mountPoint, base->mountPoint) == 0) {
            NHServer_PostClose(server, rover->channelID);
        } else if (VirtualMount_IsReserved(rover->mountPoint)) {
            if (other) {
                NHServer_PostUnsubscribe(server, channelID, rover->channelID);
            } else {
                NHServer_PostClose(server, rover->channelID);
            }
        }
    }
    bases->Remove(channelID);
}

}  // namespace Ntrip
