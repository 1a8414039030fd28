#include "caster/session/RoverLogout.h"

#include "caster/binding/NearestBinding.h"
#include "caster/centre/CtrlNotify.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/VirtualMount.h"
#include "caster/session/UserLogQueue.h"
#include "runtime/FixedText.h"
#include "net/NHServer.h"

namespace Ntrip {

void RoverLogout(NHServer* server, uint64_t channelID)
{
    CasterScope scope = CasterScope_OfCenter();
    scope.server = server;
    RoverLogout_Apply(scope, channelID);
}

void RoverLogout_Apply(const CasterScope& scope, uint64_t channelID)
{
    BaseTable* bases = scope.bases;
    RoverTable* rovers = scope.rovers;
    RoverRecord* rover = rovers->Find(channelID);
    if (!rover) return;

    CtrlNotice notice = {0, rover->mountPoint, rover->userName};
    NotifyCtrlCenter(CTRL_NOTIFY_ROVER_LOGOUT, notice);

    BaseRecord* base = nullptr;
    if (!VirtualMount_HasPrefix(rover->mountPoint)) {
        base = bases->FindByName(rover->mountPoint);
    } else {
        base = bases->Find(rover->boundChannelID);
    }
    // A base counts the rovers bound to it: one less when this one was. No
    // recount: a base losing all its rovers at once would walk them all for
    // each of them.
    if (base && base->channelID == rover->boundChannelID && base->roverCount > 0) base->roverCount -= 1;
    // From the publisher it receives from, and from its mount's base should
    // that be another one.
    if (rover->boundChannelID != 0) NHServer_PostUnsubscribe(scope.server, rover->boundChannelID, channelID);
    if (base && base->channelID != rover->boundChannelID) {
        NHServer_PostUnsubscribe(scope.server, base->channelID, channelID);
    }

    // The account's latest rover takes this one's name and number, so the
    // names of those left stay u, u~2, ... without a gap and the next login
    // gets the next number.
    char leaving[ROVER_USER_SIZE];
    char renamed[ROVER_USER_SIZE];
    FixedText_Copy(leaving, sizeof(leaving), rover->userName);
    renamed[0] = '\0';
    if (scope.config->one_account_multi_user == 1) {
        RoverRecord* latest = rovers->FindByText(rover->userKey);
        if (latest && latest != rover) FixedText_Copy(renamed, sizeof(renamed), latest->userName);
        rovers->UpdateRecord(rover);
    }
    rovers->Remove(channelID);
    scope.conns->Remove(channelID);

    // A name no rover holds any more has no GGA lines to come: its per-user
    // log writer goes, so the writers follow the rovers online rather than
    // every name ever seen.
    if (rovers->CountByUser(leaving) == 0) UserLogQueue_Release(leaving);
    if (renamed[0] != '\0' && rovers->CountByUser(renamed) == 0) UserLogQueue_Release(renamed);
}

}  // namespace Ntrip
