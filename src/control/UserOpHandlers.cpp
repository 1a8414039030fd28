// Adding (11), modifying (13) and deleting (14) users: the store first, then
// the reply, then the caster's in-memory tables, so the control centre has
// its answer before the caster's tables change. An add or modify without a
// user is not answered.
#include "control/CtrlHandlers.h"

#include "caster/centre/CasterScope.h"
#include "control/AckCodes.h"
#include "control/CtrlReply.h"
#include "control/ManagementFrame.h"
#include "runtime/Log.h"
#include "control/MessageTypes.h"
#include "control/ReplyEncode.h"
#include "control/UnitBody.h"
#include "control/UserInfoRecord.h"
#include "control/UserTableSync.h"
#include "net/NHServer.h"
#include "store/UserDb.h"
#include "store/UserTimeText.h"

#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

typedef int (*AckEncoder)(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                          size_t* outLength);

bool SendAck(NHServer* server, uint64_t channelID, AckEncoder encode, int32_t id, int32_t ack)
{
    unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
    memset(buffer, 0, sizeof(buffer));
    size_t length = 0;
    if (encode(id, ack, buffer, sizeof(buffer), &length) != 0) return false;
    NHServer_PostSend(server, channelID, buffer, length);
    return true;
}

// Whether an account as an operator hands it in may be stored: every text
// UTF-8 (the unit is marked when a text was not, also past the part kept)
// and free of NUL bytes (the row would keep only what comes before one, and
// a name so cut is another account's), an expiry date that can be read, a
// period in range. Refusals leave a line.
bool AccountIsStorable(const RVZ::RVZProtoMsg* unit, const UserOpMsg::UserInfo& info, const UserRecord& account,
                       const char* who)
{
    if (!UserInfo_TextsWhole(info)) {
        Log_Info("%s:user of type %d refused: a text holds a NUL byte", who, account.type);
        return false;
    }
    UserTextsResult checked = unit->textNotUtf8 ? USER_TEXTS_NOT_UTF8 : UserRecord_CheckTexts(&account);
    if (checked == USER_TEXTS_OK) return true;
    const char* why = checked == USER_TEXTS_NOT_UTF8  ? "a text is not UTF-8"
                      : checked == USER_TEXTS_BAD_TIME ? "the expiry date is out of range"
                                                       : "the activation period is out of range";
    Log_Info("%s:user of type %d refused: %s", who, account.type, why);
    return false;
}

// Inserts the first user. True when it was stored and answered: *added then
// holds it with the id the store gave it.
bool SendAddUserResponse(uint64_t channelID, const RVZ::RVZProtoMsg* unit, NHServer* server, UserRecord* added)
{
    const auto* request = static_cast<const UserOpMsg::UserOpRequest*>(unit->body);
    UserInfo_ToRecord(request->user_info(0), added);
    added->id = 0;
    added->enabled = 1;
    if (!AccountIsStorable(unit, request->user_info(0), *added, "SendAddUserResponse")) {
        SendAck(server, channelID, EncodeUserOpResponse1011, unit->id, ACK_ADD_FAILED);  // not inserted
        return false;
    }
    int result = UserDb_Insert(added);
    int32_t ack;
    switch (result) {
    case 1: ack = ACK_DONE; break;
    case -1: ack = ACK_ADD_STORE_CLOSED; break;
    case -2: ack = ACK_ADD_USER_EXISTS; break;
    case 0: ack = ACK_ADD_FAILED; break;
    default: return false;
    }
    if (!SendAck(server, channelID, EncodeUserOpResponse1011, unit->id, ack) || result != 1) return false;

    UserRecordNode* rows = nullptr;
    bool found = UserDb_SelectByTypeName(added->type, added->name, &rows) == 1 && rows;
    if (found) {
        added->id = rows->record.id;
        Log_Debug("id=%d", added->id);
    }
    FreeUserList(rows);
    return found;
}

// Updates the row of the first user's id. True when it was updated and
// answered: *changed then holds what was stored.
bool SendModifyUserResponse(uint64_t channelID, const RVZ::RVZProtoMsg* unit, NHServer* server, UserRecord* changed)
{
    const auto* request = static_cast<const UserOpMsg::UserOpRequest*>(unit->body);
    if (request->user_info_size() != 1) Log_Debug("SendModifyUserResponse::dvk_dubug     size !=  1");
    UserInfo_ToRecord(request->user_info(0), changed);
    if (!AccountIsStorable(unit, request->user_info(0), *changed, "SendModifyUserResponse")) {
        SendAck(server, channelID, EncodeUserOpResponse1013, unit->id, ACK_MODIFY_FAILED);  // not updated
        return false;
    }
    // The update writes the activation column: every modify stores 0.
    changed->activation = 0;
    changed->activationperiod = 0;
    int result = UserDb_Update(changed);
    int32_t ack;
    switch (result) {
    case -2: ack = ACK_MODIFY_NO_SUCH_ID; break;
    case -1: ack = ACK_MODIFY_STORE_CLOSED; break;
    case 0: ack = ACK_MODIFY_FAILED; break;
    case 1: ack = ACK_DONE; break;
    default: Log_Debug("SendModifyUserResponse::dvk_debug  package failed!!!"); return false;
    }
    if (!SendAck(server, channelID, EncodeUserOpResponse1013, unit->id, ack)) {
        Log_Debug("SendModifyUserResponse::dvk_debug  package failed!!!");
        return false;
    }
    Log_Debug("SendModifyUserResponse::dvk_debug  send response");
    return result == 1;
}

// Deletes the rows of the listed ids in order, stopping at the first
// failure, and answers. *deleted gets every id whose row went, also when a
// later one failed: those rows are gone whatever the answer says.
void SendDeleteUserResponse(uint64_t channelID, const RVZ::RVZProtoMsg* unit, NHServer* server,
                            std::vector<int>* deleted)
{
    const auto* request = static_cast<const UserOpMsg::UserOpRequest*>(unit->body);
    int result = 0;
    for (int i = 0; i < request->user_info_size(); ++i) {
        int id = static_cast<int>(request->user_info(i).id());
        result = UserDb_Delete(id);
        if (result != 1) {
            if (i == 0) result = 0;
            break;
        }
        deleted->push_back(id);
    }

    bool sent;
    if (result == 1) {
        UserOpMsg::UserOpResponse response;
        response.set_ack_status(ACK_DONE);
        for (const UserOpMsg::UserInfo& info : request->user_info()) response.add_user_info()->set_id(info.id());
        // A long list of ids may outgrow the usual buffer: sized to the body.
        sent = CtrlReply_SendSized(server, channelID, MSG_DELETE_USERS_RESPONSE, unit->id, response);
    } else if (result == -1) {
        sent = SendAck(server, channelID, EncodeUserOpResponse1014, unit->id, ACK_DELETE_STORE_CLOSED);
    } else if (result == 0) {
        sent = SendAck(server, channelID, EncodeUserOpResponse1014, unit->id, ACK_DELETE_FAILED);
    } else {
        Log_Debug("SendDeleteUserResponse::dvk_debug  package failed");
        return;
    }
    if (sent) {
        Log_Debug("SendDeleteUserResponse::dvk_debug  send response");
    } else {
        Log_Debug("SendDeleteUserResponse::dvk_debug  package failed");
    }
}

}  // namespace

void RequestProcess_UserAddModifyDelete(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const auto* request = UnitBody<UserOpMsg::UserOpRequest>(unit);
    if (!request) return;
    // A delete of nothing is answered 62; an add or modify needs its user.
    if (request->user_info_size() == 0 && unit->type != MSG_DELETE_USERS_REQUEST) return;
    UserTables tables = UserTables_OfCenter();
    switch (unit->type) {
    case MSG_ADD_USER_REQUEST: {
        UserRecord added;
        if (SendAddUserResponse(channelID, unit, server, &added)) AddUserRequest(tables, added);
        break;
    }
    case MSG_MODIFY_USER_REQUEST: {
        UserRecord changed;
        if (SendModifyUserResponse(channelID, unit, server, &changed)) {
            ModifyUserRequest(tables, CasterScope_OfCenter(), changed);
        }
        break;
    }
    case MSG_DELETE_USERS_REQUEST: {
        std::vector<int> deleted;
        SendDeleteUserResponse(channelID, unit, server, &deleted);
        DeleteUserRequest(tables, CasterScope_OfCenter(), deleted);
        break;
    }
    default:
        break;
    }
}
