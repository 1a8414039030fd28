// Type 0: a JSON request carried in CommonMsg::MessageBody.msg.
#include "control/CtrlHandlers.h"

#include "control/AckCodes.h"
#include "control/CtrlJson.h"
#include "control/CtrlReply.h"
#include "control/CtrlStationLists.h"
#include "control/MessageTypes.h"
#include "control/RVZProtoMsg.h"
#include "runtime/Log.h"

#include "VIVOProtoDecoding/CommonMsg.pb.h"

#include <json/json.h>


namespace {

void Serve(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit, const CommonMsg::MessageBody* body)
{
    Json::Value parsed;
    if (!CtrlJson_Parse(body->msg(), &parsed)) {
        Log_Info("RequestProcess_CommonMsgResponse:Parse json error.");
        return;
    }
    const Json::Value& root = parsed;
    // operator[] are only defined on objects (null counts as an
    // empty one); anything else has the wrong shape.
    if (!root.isObject() && !root.isNull()) {
        Log_Info("RequestProcess_CommonMsgResponse:Received json format is wrong.");
        return;
    }
    const Json::Value& msgId = root["MsgId"];
    const Json::Value& msgData = root["MsgData"];
    if (!msgId.isInt() || !(msgData.isObject() || msgData.isNull())) {
        Log_Info("RequestProcess_CommonMsgResponse:Received json format is wrong.");
        return;
    }
    std::string answer = RequestProcess_CommonMsgById(msgId.asInt(), msgData.toStyledString());

    CommonMsg::MessageBody reply;
    reply.set_msg(answer);
    reply.set_ack_status(ACK_DONE);
    // A list of every station that ever logged in outgrows one 2048-byte
    // frame; the frame is sized to the answer instead, however long.
    if (!CtrlReply_SendSized(server, channelID, MSG_JSON_RESPONSE, unit->id, reply)) {
        Log_Warn("%s:answer of %zu bytes could not be encoded, not sent", "RequestProcess_CommonMsgResponse",
                 answer.size());
    }
}

}  // namespace

void RequestProcess_CommonMsgResponse(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const CommonMsg::MessageBody* body = unit ? dynamic_cast<const CommonMsg::MessageBody*>(unit->body) : nullptr;
    if (!body) return;
    try {
        Serve(server, channelID, unit, body);
    } catch (const std::exception& e) {
        // No request may end the decode thread; every type is checked above,
        // so this is a last guard.
        Log_Error("%s:json error %s", "RequestProcess_CommonMsgResponse", e.what());
    }
}
