#include "caster/relay/RelayAllocation.h"

#include "caster/binding/NearestBinding.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/RoverTable.h"
#include "caster/relay/AuthCentreQueue.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/relay/RelayCallbacks.h"
#include "caster/relay/RelayClient.h"
#include "config/ConfigRecords.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace Ntrip {

namespace {

const size_t STATE_LINE_SIZE = 1024;
// The node text the caster names itself with to the authentication centre.
const char* const AUTH_NODE = "1";

}  // namespace

bool RelayAllocation_OnPosition(const CasterScope& scope, RelayAccountList* pool,
                                const AuthCentreConfig* recheckCentre, const NEMADecoding::NEMA_GPGGA& gga,
                                uint64_t channelID, int64_t nowMs)
{
    bool present;
    bool started;
    {
        RoverTable::Guard guard;
        RoverRecord* rover = scope.rovers->Find(channelID);
        present = rover != nullptr;
        started = present && rover->relayFlag != 0;
    }
    if (!present) return false;
    // One rover's positions come in order on one worker: the flag set by the
    // start is seen by the next position.
    if (!started) return RelayAllocation_Start(scope, pool, gga, channelID);
    return RelayAllocation_Recheck(scope, recheckCentre, channelID, nowMs);
}

bool RelayAllocation_Start(const CasterScope& scope, RelayAccountList* pool, const NEMADecoding::NEMA_GPGGA& gga,
                           uint64_t channelID)
{
    char mount[ROVER_MOUNT_SIZE];
    char userKey[ROVER_USER_SIZE];
    bool present;
    {
        RoverTable::Guard guard;
        RoverRecord* rover = scope.rovers->Find(channelID);
        present = rover != nullptr;
        if (rover) {
            FixedText_Copy(mount, sizeof(mount), rover->mountPoint);
            FixedText_Copy(userKey, sizeof(userKey), rover->userKey);
        }
    }
    if (!present) return false;
    if (!pool) return true;

    RelayMount* relayMount = pool->FindMount(mount);
    if (!relayMount) return true;
    RelayAccount* account = pool->TakeIdleAccount(mount);
    if (!account) {
        Log_Info("Relay_Mount:%s  no idle account", LogText_Escape(mount).c_str());
        MailPostNotice("Vorlane: Relay_Service no idle account!\n");
        NHServer_PostClose(scope.server, channelID);
        return false;
    }
    Log_Info("Relay_Mount:%s  use account:%s", LogText_Escape(mount).c_str(),
             RelayAccount_UserName(account->credentials).c_str());

    RelayRequest* request = RelayRequest_New();
    RelayRequest_FromMount(request, relayMount, account);
    RelayContext* context = RelayContext_New();
    // The first message is the sentence up to its first line feed.
    RelayContext_Init(context, request, scope.server, mount, channelID, userKey, gga.rawSentence);
    context->callbacks = &RELAY_CALLBACKS;
    // Marked before the start: the relay's end (which unmarks it) may come
    // at any moment after it.
    pool->MarkUsed(userKey);
    char relayName[RELAY_CONTEXT_NAME_SIZE];
    FixedText_Copy(relayName, sizeof(relayName), context->name);
    // From here on the context belongs to the loop.
    Relay_Connect(context);

    // The rover may have left meanwhile: its record is looked up afresh.
    {
        RoverTable::Guard guard;
        RoverRecord* rover = scope.rovers->Find(channelID);
        if (rover) {
            rover->relayFlag = 1;
            // The relay base carries this name; the rover goes with it.
            FixedText_Copy(rover->mountPoint, sizeof(rover->mountPoint), relayName);
        }
    }

    char line[STATE_LINE_SIZE];
    memset(line, 0, sizeof(line));
    pool->ReportState(line, sizeof(line));
    MailSetStatistics(line);
    if (pool->IdleAccounts() < RELAY_IDLE_ACCOUNT_WARNING) {
        MailPostNotice("Vorlane: Relay_Service idle account less 5!\n");
    }
    return true;
}

bool RelayAllocation_Recheck(const CasterScope& scope, const AuthCentreConfig* recheckCentre, uint64_t channelID,
                             int64_t nowMs)
{
    // Without a centre there is nobody to ask, and nothing to hold against the user.
    if (!recheckCentre || recheckCentre->enabled == 0) return true;

    std::string userName;
    char userKey[ROVER_USER_SIZE];
    char password[ROVER_PASSWORD_SIZE];
    {
        RoverTable::Guard guard;
        RoverRecord* rover = scope.rovers->Find(channelID);
        if (!rover) return false;
        // A check still waiting for its answer is not asked again: a slow
        // centre is asked once per rover, however long it takes.
        if (rover->recheckAsking != 0 || nowMs - rover->lastRecheckMs < RELAY_RECHECK_INTERVAL_MS) return true;
        rover->lastRecheckMs = nowMs;
        rover->recheckAsking = 1;
        userName = rover->userName;
        FixedText_Copy(userKey, sizeof(userKey), rover->userKey);
        FixedText_Copy(password, sizeof(password), rover->password);
    }

    Log_Info("Auth Centre Expiration Checking Realy_account:%s", LogText_Escape(userName.c_str()).c_str());
    NHServer* server = scope.server;
    RoverTable* rovers = scope.rovers;
    // A rover that left by its turn is not asked about.
    auto wanted = [rovers, channelID] {
        RoverTable::Guard guard;
        return rovers->Contains(channelID);
    };
    // The centre knows the account, not the "~N" name of its further rovers.
    AuthCentreQueue_Ask(recheckCentre, userKey, password, AUTH_NODE, wanted,
                        [server, rovers, channelID, userName, nowMs](AuthCentreOutcome outcome, int code) {
        bool present = false;
        {
            RoverTable::Guard guard;
            RoverRecord* asked = rovers->Find(channelID);
            if (asked) {
                asked->recheckAsking = 0;
                // A full queue (or a check that failed on our side) is not
                // the centre's word: the rover stays and is asked again a
                // little later.
                if (outcome != AUTH_CENTRE_ANSWERED) {
                    asked->lastRecheckMs = nowMs - RELAY_RECHECK_INTERVAL_MS + RELAY_RECHECK_RETRY_MS;
                }
            }
            present = asked != nullptr;
        }
        // A rover that left meanwhile has nothing more to lose; only the
        // centre's own answer may refuse one.
        if (!present || outcome != AUTH_CENTRE_ANSWERED || code == 0) return;
        NHServer_PostClose(server, channelID);
        Log_Error("Auth Centre Expiration Checking Realy_account:%s, Now it's Unauthorized for Expiration or "
                  "Password-Modification \n",
                  LogText_Escape(userName.c_str()).c_str());
    });
    return true;
}

}  // namespace Ntrip
