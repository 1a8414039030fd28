// The request handlers of the control-centre link, one per request type of
// the dispatch table (CtrlResponse_Dispatch). Each runs on the decode thread
// of the requesting connection, reads the unit (never deletes it: the
// dispatcher does) and queues its replies to channelID through server.
#pragma once

#include <cstdint>

struct NHServer;

namespace RVZ {
class RVZProtoMsg;
}

// 0: JSON request (station black and white lists).
void RequestProcess_CommonMsgResponse(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 1 and 2: an operator's login and logout.
void RequestProcess_Login(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_Logout(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 3 to 10: bases and rovers.
void RequestProcess_BaseStationList(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_BaseStationPage(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_RoverStationList(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_RoverStationPage(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_KickBaseStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_RemoveBaseStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_KickRoverStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_BlockBaseStation(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 11, 13 and 14: adding, changing and deleting users.
void RequestProcess_UserAddModifyDelete(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 12 and 15: the users of one type, and a page of users.
void RequestProcess_UserOp(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_PageOfUserInfo(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 16 to 18: the service configuration, and stopping the caster loop.
void RequestProcess_GetServiceConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_ServiceConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_StopServer(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 21: the version; true when the reply was encoded.
bool RequestProcess_GetVersion(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
// 46 and 47: the warning configuration.
void RequestProcess_GetWarnConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
void RequestProcess_WarnConfig(NHServer* server, uint64_t channelID, const RVZ::RVZProtoMsg* unit);
