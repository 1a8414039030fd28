// Types 12 and 15: the users of one type, and one page of users, answered
// in as many frames as their items need.
#include "control/CtrlHandlers.h"

#include "control/AckCodes.h"
#include "control/CtrlReply.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"
#include "control/RVZProtoMsg.h"
#include "control/ReplyEncode.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "store/UserDb.h"

#include "VIVOProtoDecoding/UserOpMsg.pb.h"

#include <cstring>
#include <string>

namespace {

// A body that reaches this size with its next item is sent first, so every
// body stays within one 2048-byte frame.
const size_t USER_LIST_SPLIT_BYTES = 2013;
const size_t SHORT_REPLY_SIZE = 512;

int AckOfStoreResult(int result)
{
    if (result == 0) return ACK_LIST_NOTHING_FOUND;
    if (result == -1) return ACK_LIST_STORE_CLOSED;
    return ACK_LIST_FAILED;
}

typedef int (*ShortReplyEncoder)(int32_t id, int32_t ack, unsigned char* buffer, size_t size, size_t* length);

void SendShortReply(NHServer* server, uint64_t channelID, ShortReplyEncoder encode, int32_t id, int ack)
{
    unsigned char buffer[SHORT_REPLY_SIZE];
    memset(buffer, 0, sizeof(buffer));
    size_t length = 0;
    if (encode(id, ack, buffer, sizeof(buffer), &length) == 0) NHServer_PostSend(server, channelID, buffer, length);
}

void FillUserInfo(const UserRecord& record, UserOpMsg::UserInfo* item)
{
    item->set_id(static_cast<uint32_t>(record.id));
    item->set_user_type(static_cast<UserOpMsg::USER_TYPE>(record.type));
    item->set_user_name(record.name);
    item->set_user_password(record.password);
    item->set_contact_person(record.contactperson);
    item->set_contact_phone(record.contacttele);
    item->set_mail(record.mail);
    item->set_qq(record.qq);
    item->set_company(record.company);
    item->set_register_time(record.registerTime);
    item->set_user_role(static_cast<UserOpMsg::USER_ROLE>(record.role));
    item->set_expiredate_time(record.expiredatetime);
}

// Adds the users to reply's user_info, sending and clearing the items
// whenever the next one would bring the body to the split size. Every frame
// carries more 0 and the reply's other fields.
template <typename Reply>
void SendUserList(NHServer* server, uint64_t channelID, int type, int32_t id, const UserRecordNode* list, Reply* reply)
{
    UserOpMsg::UserInfo item;
    for (const UserRecordNode* node = list; node; node = node->next) {
        item.Clear();
        FillUserInfo(node->record, &item);
        if (item.ByteSizeLong() + reply->ByteSizeLong() >= USER_LIST_SPLIT_BYTES) {
            if (!CtrlReply_Send(server, channelID, type, id, *reply)) {
                Log_Warn("%s:a frame of type %d did not encode", "SendUserList", type);
            }
            reply->clear_user_info();
        }
        reply->add_user_info()->CopyFrom(item);
    }
    if (!CtrlReply_Send(server, channelID, type, id, *reply)) {
        Log_Warn("%s:a frame of type %d did not encode", "SendUserList", type);
    }
}

}  // namespace

void RequestProcess_UserOp(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const UserOpMsg::UserOpRequest* request =
        unit ? dynamic_cast<const UserOpMsg::UserOpRequest*>(unit->body) : nullptr;
    if (!request) return;
    if (request->user_info_size() == 0) {
        Log_Info("%s:request without user_info from channelID:%llu, ignored", "RequestProcess_UserOp",
                 static_cast<unsigned long long>(channelID));
        return;
    }
    const UserOpMsg::UserInfo& wanted = request->user_info(0);
    UserRecordNode* list = nullptr;
    int result = 0;  // a name that goes on past a NUL names no user
    if (wanted.user_name().empty()) {
        result = UserDb_SelectByType(wanted.user_type(), &list);
    } else if (FixedText_IsWhole(wanted.user_name())) {
        result = UserDb_SelectByTypeName(wanted.user_type(), wanted.user_name().c_str(), &list);
    }
    if (result != 1) {
        SendShortReply(server, channelID, EncodeUserOpResponse1012, unit->id, AckOfStoreResult(result));
        FreeUserList(list);
        return;
    }
    UserOpMsg::UserOpResponse reply;
    reply.set_ack_status(ACK_DONE);
    SendUserList(server, channelID, MSG_USERS_OF_TYPE_RESPONSE, unit->id, list, &reply);
    FreeUserList(list);
}

void RequestProcess_PageOfUserInfo(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const UserOpMsg::PageOfUserInfoRequest* request =
        unit ? dynamic_cast<const UserOpMsg::PageOfUserInfoRequest*>(unit->body) : nullptr;
    if (!request) return;
    std::string pattern = request->user_name().empty() ? "%" : "%" + request->user_name() + "%";
    // Nobody's name holds a NUL.
    int count = FixedText_IsWhole(pattern) ? UserDb_Count(request->user_type(), pattern.c_str()) : 0;
    if (count < 1) {
        SendShortReply(server, channelID, EncodePageOfUserInfoResponse, unit->id, AckOfStoreResult(count));
        return;
    }
    UserRecordNode* list = nullptr;
    int offset = request->start_index() < 0 ? 0 : request->start_index();
    int result = UserDb_SelectPage(request->user_type(), pattern.c_str(), offset, request->page_count(), &list);
    if (result != 1) {
        SendShortReply(server, channelID, EncodePageOfUserInfoResponse, unit->id, AckOfStoreResult(result));
        FreeUserList(list);
        return;
    }
    UserOpMsg::PageOfUserInfoResponse reply;
    reply.set_ack_status(ACK_DONE);
    reply.set_total_count(count);
    SendUserList(server, channelID, MSG_PAGE_OF_USERS_RESPONSE, unit->id, list, &reply);
    FreeUserList(list);
}
