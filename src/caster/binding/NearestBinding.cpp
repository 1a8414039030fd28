#include "caster/binding/NearestBinding.h"

#include "caster/registry/BaseTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/registry/VirtualMount.h"
#include "config/ConfigRecords.h"
#include "net/NHServer.h"
#include "platform/SteadyClock.h"
#include "runtime/FixedText.h"
#include "runtime/GreatCircle.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

#include <cstdio>
#include <cstring>

namespace {

// A rover that stands still sends the same position with every GGA, once a
// second or more often; its line is written once a minute, not each time.
const int64_t STILL_LINE_INTERVAL_MS = 60000;

bool HasPosition(double latitude, double longitude) { return latitude != 0.0 && longitude != 0.0; }

// The online base nearest to the point, when it can serve a position: a base
// whose own position has not arrived yet stands at 0, 0 and is no one's
// nearest.
BaseRecord* NearestServing(BaseTable* bases, double latitude, double longitude, double* distance)
{
    BaseRecord* nearest = bases->Nearest(latitude, longitude, distance);
    if (!nearest || nearest->state != BASE_STATE_ONLINE) return nullptr;
    if (!HasPosition(nearest->latitude, nearest->longitude)) return nullptr;
    return nearest;
}

// The line of a rover that has not moved past the limit: at once for the
// first position under a binding, then at most once a minute, saying how
// many were left out in between. A rover left alone all day writes 1,440
// lines, not one per sentence.
void LogStillRover(RoverRecord* rover, double latitude, double longitude)
{
    int64_t now = Platform_SteadyNowMs();
    bool due = rover->stillLineChannel != rover->boundChannelID || now - rover->stillLineMs >= STILL_LINE_INTERVAL_MS;
    if (!due) {
        rover->stillLinesLeftOut += 1;
        return;
    }
    char leftOut[64] = "";
    if (rover->stillLinesLeftOut > 0) {
        snprintf(leftOut, sizeof(leftOut), " (%u more since the last line)", rover->stillLinesLeftOut);
    }
    Log_Error("rover:%s from %.6f,%.6f to %.6f,%.6f ,less than 2 m, so return%s",
              LogText_Escape(rover->userName).c_str(), rover->boundLatitude, rover->boundLongitude, latitude,
              longitude, leftOut);
    rover->stillLineMs = now;
    rover->stillLineChannel = rover->boundChannelID;
    rover->stillLinesLeftOut = 0;
}

}  // namespace

void NearestBinding_Bind(const CasterScope& scope, RoverRecord* rover, BaseRecord* base, double latitude,
                         double longitude)
{
    uint64_t oldID = rover->boundChannelID;
    if (oldID != base->channelID) {
        // Back to back, under the base lock: no broadcast of either base can
        // be queued between the two.
        if (oldID != 0) {
            NHServer_PostUnsubscribe(scope.server, oldID, rover->channelID);
            BaseRecord* old = scope.bases->Find(oldID);
            if (old && old->roverCount > 0) old->roverCount -= 1;
        }
        NHServer_PostSubscribe(scope.server, base->channelID, rover->channelID);
        base->roverCount += 1;
        rover->boundChannelID = base->channelID;
        rover->stillLineChannel = 0;  // a new binding is worth its line at once
    }
    FixedText_Copy(rover->boundBaseName, sizeof(rover->boundBaseName), base->mountPoint);
    rover->boundLatitude = latitude;
    rover->boundLongitude = longitude;
}

void NearestBinding_Forget(RoverRecord* rover)
{
    rover->boundChannelID = 0;
    rover->boundBaseName[0] = '\0';
    rover->stillLineChannel = 0;
}

bool NearestBinding_OnPosition(const CasterScope& scope, RoverRecord* rover, double latitude, double longitude)
{
    if (!HasPosition(latitude, longitude)) return false;
    BaseRecord* bound = rover->boundChannelID != 0 ? scope.bases->Find(rover->boundChannelID) : nullptr;
    int limit = scope.config->rover_distance_limit;
    if (bound) {
        // A rover that has not moved far keeps its base: the walk over every
        // base for the nearest one is needed only once it has.
        rover->distance = GreatCircleDistance(latitude, longitude, bound->latitude, bound->longitude);
        double moved = GreatCircleDistance(rover->boundLatitude, rover->boundLongitude, latitude, longitude);
        if (!(moved > limit)) {
            LogStillRover(rover, latitude, longitude);
            return true;
        }
    }

    double distance = 0.0;
    BaseRecord* nearest = NearestServing(scope.bases, latitude, longitude, &distance);
    if (!nearest) return false;
    if (!bound) {
        // Never bound, or its base has gone: bind afresh at once rather than
        // leave the rover without corrections until its next position.
        NearestBinding_Forget(rover);
        NearestBinding_Bind(scope, rover, nearest, latitude, longitude);
        rover->distance = distance;
        return true;
    }

    Log_Warn("rover:%s from %.6f,%.6f to %.6f,%.6f ,over %d m", LogText_Escape(rover->userName).c_str(), rover->boundLatitude,
             rover->boundLongitude, latitude, longitude, limit);
    // Still nearest to the base it has: the position at binding stays, so
    // the next position is measured from the same point.
    if (nearest == bound) return true;

    Log_Info("Due to movetion ,rover:%s remove booked base:%s, add book base:%s.", LogText_Escape(rover->userName).c_str(),
             LogText_Escape(bound->mountPoint).c_str(), LogText_Escape(nearest->mountPoint).c_str());
    NearestBinding_Bind(scope, rover, nearest, latitude, longitude);
    rover->distance = distance;
    return true;
}

void NearestBinding_UpdateRover(const CasterScope& scope, RoverRecord* rover)
{
    if (!VirtualMount_HasPrefix(rover->mountPoint)) return;
    // Before its first usable position a rover is nowhere: binding it to the
    // base nearest to 0, 0 would start a stream it never asked for.
    if (!HasPosition(rover->latitude, rover->longitude)) return;
    double distance = 0.0;
    BaseRecord* nearest = NearestServing(scope.bases, rover->latitude, rover->longitude, &distance);
    if (!nearest || nearest->channelID == rover->boundChannelID) return;
    NearestBinding_Bind(scope, rover, nearest, rover->latitude, rover->longitude);
    rover->distance = distance;
}

void NearestBinding_RebindNamed(const CasterScope& scope, RoverRecord* rover)
{
    BaseRecord* base = scope.bases->FindByName(rover->mountPoint);
    if (!base || base->state != BASE_STATE_ONLINE) return;
    if (base->channelID == rover->boundChannelID) {
        // Bound to it already: a second subscription would gain nothing, and
        // an unsubscribe/subscribe pair would lose what is queued between.
        FixedText_Copy(rover->boundBaseName, sizeof(rover->boundBaseName), base->mountPoint);
        return;
    }
    NearestBinding_Bind(scope, rover, base, rover->latitude, rover->longitude);
}

void NearestBinding_UpdateAll(const CasterScope& scope)
{
    RoverTable* rovers = scope.rovers;
    for (RoverListItem* item = rovers->First(); item; item = rovers->Next(item)) {
        RoverRecord* rover = item->record;
        if (VirtualMount_HasPrefix(rover->mountPoint)) {
            NearestBinding_UpdateRover(scope, rover);
        } else if (rover->bindingMode != ROVER_BIND_RELAY) {
            // A relay rover's stream is its own upstream connection, bound
            // when that relay is verified; nothing here can bind it better.
            NearestBinding_RebindNamed(scope, rover);
        }
    }
}

void update_all_rover_nearest() { NearestBinding_UpdateAll(CasterScope_OfCenter()); }

void UpdateRoverNearest(RoverRecord* rover) { NearestBinding_UpdateRover(CasterScope_OfCenter(), rover); }

void RebindNamedRover(RoverRecord* rover) { NearestBinding_RebindNamed(CasterScope_OfCenter(), rover); }
