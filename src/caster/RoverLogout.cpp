#include "caster/RoverLogout.h"

#include "caster/BaseTable.h"
#include "caster/ConnInfoTable.h"
#include "caster/CtrlNotify.h"
#include "caster/RoverTable.h"
#include "caster/VirtualMount.h"
#include "caster/Vorlane.h"
#include "net/NHServer.h"

#include <cstring>

namespace Ntrip {

void RoverLogout(NHServer* server, uint64_t channelID)
{
    BaseTable* bases = GetBaseTable();
    RoverTable* rovers = GetRoverTable();
    RoverRecord* rover = rovers->Find(channelID);
    if (!rover) return;

    CtrlNotice notice = {0, rover->mountPoint, rover->userName};
    NotifyCtrlCenter(CTRL_NOTIFY_ROVER_LOGOUT, notice);

    BaseRecord* base = nullptr;
    if (!VirtualMount_HasPrefix(rover->mountPoint)) {
        base = bases->FindByName(rover->mountPoint);
        if (base) {
            NHServer_PostUnsubscribe(server, base->channelID, channelID);
            base->roverCount -= 1;
        }
    } else {
        base = bases->Find(rover->boundChannelID);
        if (base) NHServer_PostUnsubscribe(server, base->channelID, channelID);
    }

    if (GetNtripServerConfig()->one_account_multi_user == 1) rovers->UpdateRecord(rover);
    rovers->Remove(channelID);
    GetConnInfoTable()->Remove(channelID);

    if (base) {
        int count = 0;
        for (RoverListItem* item = rovers->First(); item; item = rovers->Next(item)) {
            if (strcmp(item->record->mountPoint, base->mountPoint) == 0) ++count;
        }
        base->roverCount = count;
    }
}

}  // namespace Ntrip
