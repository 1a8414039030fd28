#include "control/CtrlResponse.h"

#include "control/CtrlCenterServer.h"
#include "control/CtrlHandlers.h"
#include "control/FrameEncode.h"
#include "control/ManagementFrame.h"
#include "control/MessageTypes.h"
#include "control/NtripRespHandle.h"
#include "control/RVZProtoMsg.h"
#include "control/WindowedFrameScan.h"
#include "net/NHServer.h"
#include "runtime/Log.h"

#include "VIVOProtoDecoding/ServiceOpMsg.pb.h"

#include <cstring>
#include <exception>

namespace {

typedef void (*RequestHandler)(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);

void Handle_GetVersion(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    RequestProcess_GetVersion(server, channelID, unit);
}

struct DispatchEntry {
    uint32_t type;
    RequestHandler handler;
    bool beforeLogin;  // served to a connection that has not logged in
};

const DispatchEntry DISPATCH_TABLE[] = {
    {MSG_JSON_REQUEST, RequestProcess_CommonMsgResponse, false},
    {MSG_LOGIN_REQUEST, RequestProcess_Login, true},
    {MSG_LOGOUT_REQUEST, RequestProcess_Logout, true},
    {MSG_ALL_BASES_REQUEST, RequestProcess_BaseStationList, false},
    {MSG_PAGE_OF_BASES_REQUEST, RequestProcess_BaseStationPage, false},
    {MSG_ALL_ROVERS_REQUEST, RequestProcess_RoverStationList, false},
    {MSG_PAGE_OF_ROVERS_REQUEST, RequestProcess_RoverStationPage, false},
    {MSG_CLOSE_BASE_REQUEST, RequestProcess_KickBaseStation, false},
    {MSG_REMOVE_BASE_REQUEST, RequestProcess_RemoveBaseStation, false},
    {MSG_CLOSE_ROVER_REQUEST, RequestProcess_KickRoverStation, false},
    {MSG_BLACKLIST_BASE_REQUEST, RequestProcess_BlockBaseStation, false},
    {MSG_ADD_USER_REQUEST, RequestProcess_UserAddModifyDelete, false},
    {MSG_USERS_OF_TYPE_REQUEST, RequestProcess_UserOp, false},
    {MSG_MODIFY_USER_REQUEST, RequestProcess_UserAddModifyDelete, false},
    {MSG_DELETE_USERS_REQUEST, RequestProcess_UserAddModifyDelete, false},
    {MSG_PAGE_OF_USERS_REQUEST, RequestProcess_PageOfUserInfo, false},
    {MSG_READ_SERVICE_CONFIG_REQUEST, RequestProcess_GetServiceConfig, false},
    {MSG_WRITE_SERVICE_CONFIG_REQUEST, RequestProcess_ServiceConfig, false},
    {MSG_STOP_SERVER_REQUEST, RequestProcess_StopServer, false},
    {MSG_VERSION_REQUEST, Handle_GetVersion, true},
    {MSG_READ_WARN_CONFIG_REQUEST, RequestProcess_GetWarnConfig, false},
    {MSG_WRITE_WARN_CONFIG_REQUEST, RequestProcess_WarnConfig, false},
};

const DispatchEntry* FindHandler(uint32_t type)
{
    for (const DispatchEntry& entry : DISPATCH_TABLE) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

// Handlers check what they read and answer what they cannot serve; should a
// library still throw, the request is dropped with a line and the decode
// thread goes on with the connection's next frame.
void RunHandler(RequestHandler handler, NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* message)
{
    try {
        handler(server, channelID, message);
    } catch (const std::exception& e) {
        Log_Error("%s:type %u from channelID:%llu failed (%s), dropped", "CtrlResponse_Dispatch", message->type,
                  static_cast<unsigned long long>(channelID), e.what());
    } catch (...) {
        Log_Error("%s:type %u from channelID:%llu failed, dropped", "CtrlResponse_Dispatch", message->type,
                  static_cast<unsigned long long>(channelID));
    }
}

bool IsNotifyType(int type)
{
    return type == MSG_NOTIFY_BASE_TIMEOUT || type == MSG_NOTIFY_BASE_ONLINE || type == MSG_NOTIFY_BASE_OFFLINE ||
           type == MSG_NOTIFY_ROVER_ONLINE || type == MSG_NOTIFY_ROVER_OFFLINE || type == MSG_HEARTBEAT;
}

}  // namespace

bool CtrlResponse_Init(const char* ip, int port)
{
    NHServer* server = RTS::NtripRespHandle_NewServer();
    if (!server) return false;
    SetCtrlCenterServer(server);
    return RTS::NtripRespHandle_Create(server, CtrlFrameScan, CtrlResponse_Dispatch, CtrlResponse_SendServiceStatus, ip,
                                       port);
}

void CtrlResponse_SendNotify(int type, const google::protobuf::Message& message)
{
    if (!IsNotifyType(type)) return;
    unsigned char buffer[FRAME_SEND_BUFFER_SIZE];
    memset(buffer, 0, sizeof(buffer));
    size_t length = 0;
    if (EncodeFrame(static_cast<uint32_t>(type), FRAME_ID_NOTIFY, &message, buffer, sizeof(buffer), &length) != 0) {
        return;
    }
    // The heartbeat tells any peer the service is alive; what bases and
    // rovers do is for operators only.
    RTS::NtripRespHandle_Broadcast(buffer, length, type != MSG_HEARTBEAT);
}

void CtrlResponse_SendServiceStatus(int status)
{
    ServiceOpMsg::ServiceStatusMsg message;
    message.set_status(status);
    message.set_heart_beat(1);
    CtrlResponse_SendNotify(MSG_HEARTBEAT, message);
}

void CtrlResponse_Dispatch(Tarnek::LogRoot* unit, void* context)
{
    CtrlConnection* connection = static_cast<CtrlConnection*>(context);
    NHServer* server = GetCtrlCenterServer();
    RVZ::RVZProtoMsg* message = dynamic_cast<RVZ::RVZProtoMsg*>(unit);
    if (!connection || !server || !message) {
        delete unit;
        return;
    }
    uint64_t channelID = connection->channelID;
    const DispatchEntry* entry = FindHandler(message->type);
    if (connection->closing.load()) {
        // Its close is on the way: nothing more is answered.
    } else if (!entry) {
        Log_Info("%s:type %u from channelID:%llu has no handler, dropped", "CtrlResponse_Dispatch", message->type,
                 static_cast<unsigned long long>(channelID));
    } else if (!entry->beforeLogin && !connection->loggedIn.load()) {
        Log_Info("%s:type %u from channelID:%llu before login, dropped", "CtrlResponse_Dispatch", message->type,
                 static_cast<unsigned long long>(channelID));
    } else {
        RunHandler(entry->handler, server, channelID, message);
    }
    delete unit;
}
