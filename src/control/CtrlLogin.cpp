// Login, logout and the version: the requests a control connection is served
// before an operator has logged in on it.
#include "control/CtrlHandlers.h"

#include "control/AckCodes.h"
#include "control/CtrlReply.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"
#include "control/NtripRespHandle.h"
#include "control/RVZProtoMsg.h"
#include "control/ReplyEncode.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"
#include "store/UserDb.h"

#include "VIVOProtoDecoding/LoginMsg.pb.h"
#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"

#include <cstring>
#include <string>

namespace {

const int OPERATOR_USER_TYPE = 1;
const char* const CTRL_CENTER_VERSION = "V1.2.2";
// Bytes of a claimed operator name that reach the log.
const size_t LOGGED_NAME_MAX = 64;

const LoginMsg::LoginRequest* LoginBody(const RVZ::RVZProtoMsg* unit)
{
    return unit ? dynamic_cast<const LoginMsg::LoginRequest*>(unit->body) : nullptr;
}

// The name is echoed cut, so that a refusal of any name is still sent. 0
// bytes when the answer cannot be encoded.
size_t EncodeLoginAnswer(int32_t id, int ack, int role, const char* name, unsigned char* buffer, size_t size)
{
    memset(buffer, 0, size);
    size_t length = 0;
    std::string echoed = CtrlReply_EchoText(name ? name : "");
    return EncodeLoginResponse(id, ack, role, echoed.c_str(), buffer, size, &length) == 0 ? length : 0;
}

void SendLoginResponse(NHServer* server, uint64_t channelID, int32_t id, int ack, int role, const char* name)
{
    unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
    size_t length = EncodeLoginAnswer(id, ack, role, name, buffer, sizeof(buffer));
    if (length > 0) NHServer_PostSend(server, channelID, buffer, length);
}

}  // namespace

void RequestProcess_Login(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const LoginMsg::LoginRequest* request = LoginBody(unit);
    if (!request) return;
    const std::string& name = request->login_name();
    const std::string& password = request->login_password();
    // A name or password that goes on past a NUL is not the stored one.
    bool accepted = FixedText_IsWhole(name) && FixedText_IsWhole(password) &&
                    UserDb_SelectByNamePasswordType(name.c_str(), password.c_str(), OPERATOR_USER_TYPE, nullptr) == 1;
    // The mark and the answer go together: a notification to logged-in
    // connections comes after the answer, and a request the peer sends on
    // seeing 20 is served as logged in. A refused login ends an earlier one.
    unsigned char answer[FRAME_SEND_BUFFER_SIZE];
    size_t answerLength = EncodeLoginAnswer(unit->id, accepted ? ACK_LOGIN_ACCEPTED : ACK_LOGIN_REFUSED,
                                            LoginMsg::USER_ROLE_SUPER, name.c_str(), answer, sizeof(answer));
    CtrlLoginNote note;
    memset(&note, 0, sizeof(note));
    RTS::NtripRespHandle_NoteLogin(channelID, accepted, answer, answerLength, &note);
    std::string shown = LogText_EscapeBytes(name.data(), name.size() < LOGGED_NAME_MAX ? name.size() : LOGGED_NAME_MAX);
    if (accepted) {
        Log_Info("%s:operator %s on channelID:%llu from %s:%d logged in", "RequestProcess_Login", shown.c_str(),
                 static_cast<unsigned long long>(channelID), note.ip, note.port);
    } else {
        Log_Info("%s:operator %s on channelID:%llu from %s:%d refused (%d of %d on this connection)",
                 "RequestProcess_Login", shown.c_str(), static_cast<unsigned long long>(channelID), note.ip,
                 note.port, note.refusedLogins, CTRL_MAX_REFUSED_LOGINS);
    }
    if (note.closeNow) {
        // The last answer reaches the peer first; whatever it sends after is not read.
        Log_Warn("%s:channelID:%llu from %s:%d closed after %d refused logins", "RequestProcess_Login",
                 static_cast<unsigned long long>(channelID), note.ip, note.port, note.refusedLogins);
        NHServer_PostCloseAfterFlush(server, channelID);
    }
}

void RequestProcess_Logout(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    const LoginMsg::LoginRequest* request = LoginBody(unit);
    if (!request) return;
    RTS::NtripRespHandle_SetLoggedIn(channelID, false);
    SendLoginResponse(server, channelID, unit->id, ACK_LOGOUT, LoginMsg::USER_ROLE_COMMON,
                      request->login_name().c_str());
}

bool RequestProcess_GetVersion(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    if (!unit) return false;
    ServiceOpMsg::ConfigServiceResponse reply;
    reply.set_ack_status(ACK_DONE);
    reply.set_ctrl_center_version(CTRL_CENTER_VERSION);
    return CtrlReply_Send(server, channelID, MSG_VERSION_RESPONSE, unit->id, reply);
}
