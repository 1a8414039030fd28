#include "caster/session/ConnectionClose.h"

#include "caster/centre/CasterScope.h"
#include "caster/registry/BaseTable.h"
#include "runtime/FixedText.h"
#include "caster/registry/RoverTable.h"
#include "net/NHServer.h"

void CloseBaseConnection(const char* mountPoint) { CloseBaseConnection_In(CasterScope_OfCenter(), mountPoint); }

void CloseRoverConnection(const char* userName) { CloseRoverConnection_In(CasterScope_OfCenter(), userName); }

void CloseBaseConnection_In(const CasterScope& scope, const char* mountPoint)
{
    if (!mountPoint) return;
    BaseTable::Guard guard;
    BaseRecord* base = scope.bases->FindByName(mountPoint);
    if (base && base->state == BASE_STATE_ONLINE) NHServer_PostClose(scope.server, base->channelID);
}

void CloseRoverConnection_In(const CasterScope& scope, const char* userName)
{
    if (!userName) return;
    RoverTable::Guard guard;
    RoverRecord* rover = scope.rovers->FindByName(userName);
    if (rover) NHServer_PostClose(scope.server, rover->channelID);
}

int CloseAccountRovers_In(const CasterScope& scope, const char* userKey)
{
    if (!userKey || !*userKey) return 0;
    int closed = 0;
    RoverTable::Guard guard;
    scope.rovers->ForEach([&](RoverRecord* rover) {
        // A rover of the account: by its plain name, also while the account
        // holds several logins (u~2, ...).
        if (FixedText_Equal(rover->userKey, userKey) || FixedText_Equal(rover->userName, userKey)) {
            NHServer_PostClose(scope.server, rover->channelID);
            ++closed;
        }
    });
    return closed;
}
