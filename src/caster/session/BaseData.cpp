#include "caster/session/BaseData.h"

#include "caster/binding/NearestBinding.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/RoverTable.h"
#include "decoding/RTCMDecoding/RtcmLog.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

#include <cmath>

namespace Ntrip {

bool BaseDecodeExecute(Tarnek::LogRoot** unit, uint64_t channelID)
{
    Tarnek::LogRoot* root = unit ? *unit : nullptr;
    if (!root) {
        Log_Info("pLogRoot is null");
        return false;
    }
    *unit = nullptr;
    RTCMDecoding::RTCM3Log_1005* position =
        root->GetType() == RTCMDecoding::RTCM3_LOG_1005_TYPE ? dynamic_cast<RTCMDecoding::RTCM3Log_1005*>(root)
                                                              : nullptr;
    if (!position) {
        delete root;
        return false;
    }

    BaseTable::Guard guard;
    BaseRecord* base = GetBaseTable()->Find(channelID);
    if (!base || base->state != BASE_STATE_ONLINE) {
        delete root;
        return false;
    }
    if (base->positionPending == 1 && std::isfinite(position->latitude) &&
        std::isfinite(position->longitude) && position->latitude != 0.0 && position->longitude != 0.0) {
        Log_Info("Add base %llu(%s:%s):%.7f,%.7f,%.4f.", static_cast<unsigned long long>(channelID),
                 LogText_Escape(base->mountPoint).c_str(), base->format, position->latitude, position->longitude, position->height);
        base->latitude = position->latitude;
        base->longitude = position->longitude;
        base->height = position->height;
        base->positionPending = 0;
        // A base with a position can be someone's nearest now.
        {
            RoverTable::Guard rovers;
            update_all_rover_nearest();
        }
        FixedText_Copy(base->format, sizeof(base->format), "RTCM3");
    }
    delete root;
    return true;
}

}  // namespace Ntrip
