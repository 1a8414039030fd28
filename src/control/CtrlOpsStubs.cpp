// Placeholders for the base, rover and single-user handlers until their
// modules land: each logs that the request is not served yet.
#include "control/CtrlHandlers.h"

#include "control/RVZProtoMsg.h"
#include "runtime/Log.h"

namespace {

void NotServedYet(const char* name, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    Log_Info("%s: type %d from channelID:%llu is not served yet", name, unit ? unit->GetType() : -1,
             static_cast<unsigned long long>(channelID));
}

}  // namespace

void RequestProcess_BaseStationList(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_BaseStationList", channelID, unit);
}
void RequestProcess_BaseStationPage(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_BaseStationPage", channelID, unit);
}
void RequestProcess_RoverStationList(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_RoverStationList", channelID, unit);
}
void RequestProcess_RoverStationPage(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_RoverStationPage", channelID, unit);
}
void RequestProcess_KickBaseStation(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_KickBaseStation", channelID, unit);
}
void RequestProcess_RemoveBaseStation(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_RemoveBaseStation", channelID, unit);
}
void RequestProcess_KickRoverStation(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_KickRoverStation", channelID, unit);
}
void RequestProcess_BlockBaseStation(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_BlockBaseStation", channelID, unit);
}
void RequestProcess_UserAddModifyDelete(NHServer*, uint64_t channelID, const RVZ::RVZProtoMsg* unit)
{
    NotServedYet("RequestProcess_UserAddModifyDelete", channelID, unit);
}
