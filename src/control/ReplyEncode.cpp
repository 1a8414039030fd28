#include "control/ReplyEncode.h"

#include "control/FrameEncode.h"
#include "control/MessageTypes.h"

#include "VIVOProtoDecoding/LoginMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"
#include "VIVOProtoDecoding/UserOpMsg.pb.h"

namespace {

int EncodeUserOpResponse(uint32_t type, int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                         size_t* outLength)
{
    UserOpMsg::UserOpResponse body;
    body.set_ack_status(ackStatus);
    return EncodeFrame(type, id, &body, buffer, bufferSize, outLength);
}

}  // namespace

int EncodeLoginResponse(int32_t id, int32_t ackStatus, int userRole, const char* loginName, unsigned char* buffer,
                        size_t bufferSize, size_t* outLength)
{
    LoginMsg::LoginResponse body;
    body.set_ack_status(ackStatus);
    body.set_user_role(static_cast<LoginMsg::LOGIN_USER_ROLE>(userRole));
    if (loginName) body.set_login_name(loginName);
    return EncodeFrame(MSG_LOGIN_RESPONSE, id, &body, buffer, bufferSize, outLength);
}

int EncodeUserOpResponse1011(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength)
{
    return EncodeUserOpResponse(MSG_ADD_USER_RESPONSE, id, ackStatus, buffer, bufferSize, outLength);
}

int EncodeUserOpResponse1012(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength)
{
    return EncodeUserOpResponse(MSG_USERS_OF_TYPE_RESPONSE, id, ackStatus, buffer, bufferSize, outLength);
}

int EncodeUserOpResponse1013(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength)
{
    return EncodeUserOpResponse(MSG_MODIFY_USER_RESPONSE, id, ackStatus, buffer, bufferSize, outLength);
}

int EncodeUserOpResponse1014(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                             size_t* outLength)
{
    return EncodeUserOpResponse(MSG_DELETE_USERS_RESPONSE, id, ackStatus, buffer, bufferSize, outLength);
}

int EncodePageOfUserInfoResponse(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                                 size_t* outLength)
{
    UserOpMsg::PageOfUserInfoResponse body;
    body.set_ack_status(ackStatus);
    body.set_total_count(0);
    return EncodeFrame(MSG_PAGE_OF_USERS_RESPONSE, id, &body, buffer, bufferSize, outLength);
}

int EncodeConfigServiceResponse(int32_t id, int32_t ackStatus, unsigned char* buffer, size_t bufferSize,
                                size_t* outLength)
{
    ServiceOpMsg::ConfigServiceResponse body;
    body.set_ack_status(ackStatus);
    return EncodeFrame(MSG_WRITE_SERVICE_CONFIG_RESPONSE, id, &body, buffer, bufferSize, outLength);
}
