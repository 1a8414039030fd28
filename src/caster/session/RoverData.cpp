#include "caster/session/RoverData.h"

#include "caster/binding/MovementSpeed.h"
#include "caster/binding/NearestBinding.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/relay/RelayAllocation.h"
#include "caster/session/UserLog.h"
#include "caster/session/UserLogQueue.h"
#include "config/ConfigRecords.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "platform/SteadyClock.h"
#include "runtime/FixedText.h"
#include "runtime/Geodesy.h"
#include "runtime/GreatCircle.h"
#include "runtime/LogText.h"

#include <cstring>
#include <memory>

namespace Ntrip {

namespace {

// Room of a sentence in the GGA log, with its terminator.
const size_t GGA_LOG_SENTENCE_SIZE = 200;

void CopyTime(RoverGgaTime* to, const NEMADecoding::GnssTime& from)
{
    to->year = from.year;
    to->month = from.month;
    to->day = from.day;
    to->hour = from.hour;
    to->minute = from.minute;
    to->second = from.second;
}

// The user's own GGA file gets the decoded sentence as the rover sent it,
// without its line end and with its control characters escaped, so that no
// rover can start a line of its own; one of GGA_LOG_SENTENCE_SIZE bytes or
// more is passed over. Queued for the user log's thread: the worker never
// waits on the disk.
void WriteGgaLog(const char* userName, const NEMADecoding::NEMA_GPGGA& gga)
{
    char sentence[GGA_LOG_SENTENCE_SIZE];
    size_t length = gga.SentenceLength();
    if (length == 0 || length >= sizeof(sentence)) return;
    memcpy(sentence, gga.rawSentence, length);
    sentence[length] = '\0';
    UserLogQueue_Post(LOG_TO_FILE_USER, userName, LogText_Escape(sentence).c_str());
}

// A relay-mount rover's position: its relay at the first one, the
// authentication-centre recheck every 600 s after. Called with no registry
// lock held; the rover's record already holds the position.
bool RelayRoverPosition(const CasterScope& scope, const NEMADecoding::NEMA_GPGGA& gga, uint64_t channelID)
{
    Vorlane* center = GetCenter();
    if (!center) return true;
    return RelayAllocation_OnPosition(scope, center->relayAccounts, center->relayRecheckAuthCentre, gga, channelID,
                                      Platform_SteadyNowMs());
}

// A named-mount rover: its distance to its base.
bool MeasureNamed(const CasterScope& scope, RoverRecord* rover, double latitude, double longitude)
{
    BaseRecord* base = scope.bases->FindByName(rover->mountPoint);
    if (!base || base->state != BASE_STATE_ONLINE) return true;
    if (base->latitude == 0.0 || base->longitude == 0.0) return false;
    rover->distance = GreatCircleDistance(latitude, longitude, base->latitude, base->longitude);
    return true;
}

}  // namespace

void RoverData_ApplyPosition(RoverRecord* rover, const NEMADecoding::NEMA_GPGGA& gga)
{
    rover->latitude = gga.latitude;
    rover->longitude = gga.longitude;
    rover->height = gga.altitude + gga.geoidSeparation;
    rover->diffAge = gga.differentialAge;
    rover->previousGgaTime = rover->ggaTime;
    CopyTime(&rover->ggaTime, gga.time);
    rover->fixQuality = gga.fixQuality;
    rover->satellites = gga.satellites;
    memcpy(rover->previousEcef, rover->ecef, sizeof(rover->ecef));
    GeodeticToEcef(rover->latitude, rover->longitude, rover->height, &rover->ecef[0], &rover->ecef[1],
                   &rover->ecef[2]);
    MovementSpeed(rover->ecef, rover->previousEcef, &rover->ggaTime, &rover->previousGgaTime, &rover->speed);
}

bool RoverDecodeExecute(Tarnek::LogRoot** unit, uint64_t channelID)
{
    return RoverData_Execute(CasterScope_OfCenter(), unit, channelID);
}

bool RoverData_Execute(const CasterScope& scope, Tarnek::LogRoot** unit, uint64_t channelID)
{
    Tarnek::LogRoot* root = unit ? *unit : nullptr;
    if (!root) return false;
    *unit = nullptr;
    std::unique_ptr<Tarnek::LogRoot> owner(root);
    if (root->GetKind() != Tarnek::LOG_KIND_NMEA || root->GetType() != NEMADecoding::NEMA_GPGGA_TYPE) return false;
    const NEMADecoding::NEMA_GPGGA& gga = *static_cast<NEMADecoding::NEMA_GPGGA*>(root);

    char userName[ROVER_USER_SIZE];
    int mode;
    {
        RoverTable::Guard guard;
        RoverRecord* rover = scope.rovers->Find(channelID);
        if (!rover) return false;
        FixedText_Copy(userName, sizeof(userName), rover->userName);
        RoverData_ApplyPosition(rover, gga);
        mode = rover->bindingMode;
        // Queued (never written) under the rover lock: the line is then always
        // ahead of the release that the rover's logout queues for its name.
        if (scope.config->rover_gga_log == 1) WriteGgaLog(userName, gga);
    }

    if (mode == ROVER_BIND_RELAY) return RelayRoverPosition(scope, gga, channelID);

    // Base lock, then rover lock: the rover may have logged out meanwhile.
    BaseRoverGuard locks;
    bool result = false;
    RoverRecord* rover = scope.rovers->Find(channelID);
    if (rover) {
        if (mode == ROVER_BIND_NEAREST) {
            result = NearestBinding_OnPosition(scope, rover, gga.latitude, gga.longitude);
        } else {
            result = MeasureNamed(scope, rover, gga.latitude, gga.longitude);
        }
    }
    return result;
}

}  // namespace Ntrip
