// The four registry routes: online stations and rovers, counted or in detail.
// Each handler copies the few fields its answer needs out of the base and
// rover registries while it holds their locks (base before rover), then
// filters, builds and sends the JSON with no lock held.
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/RoverTable.h"
#include "runtime/FixedText.h"
#include "services/HttpInspectorRequest.h"
#include "services/HttpInspectorRoutes.h"

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

struct StationCopy {
    char mountPoint[BASE_MOUNT_SIZE];
    char format[BASE_FORMAT_SIZE];
    int32_t state;
    int64_t loginTime;
    double latitude, longitude, height;
    char loginTimeText[BASE_TIME_TEXT_SIZE];
    char ip[BASE_IP_SIZE];
    int32_t port;
    uint64_t channelID;
};

struct RoverCopy {
    char userName[ROVER_USER_SIZE];
    char mountPoint[ROVER_MOUNT_SIZE];
    int32_t fixQuality;
    int32_t satellites;
    int64_t loginTime;
    double latitude, longitude, height;
    double diffAge;
    char loginTimeText[ROVER_TIME_TEXT_SIZE];
    double distance;
    double speed;
    char ip[ROVER_IP_SIZE];
    int32_t port;
    uint64_t boundChannelID;
};

// The online bases (state 1), with the base lock held.
std::vector<StationCopy> CopyOnlineStations()
{
    std::vector<StationCopy> stations;
    BaseTable* table = GetBaseTable();
    stations.reserve(static_cast<size_t>(table->Count()));
    table->ForEach([&stations](BaseRecord* base) {
        if (base->state != BASE_STATE_ONLINE) return;
        StationCopy copy;
        FixedText_Copy(copy.mountPoint, sizeof(copy.mountPoint), base->mountPoint);
        FixedText_Copy(copy.format, sizeof(copy.format), base->format);
        copy.state = base->state;
        copy.loginTime = base->loginTime;
        copy.latitude = base->latitude;
        copy.longitude = base->longitude;
        copy.height = base->height;
        FixedText_Copy(copy.loginTimeText, sizeof(copy.loginTimeText), base->loginTimeText);
        FixedText_Copy(copy.ip, sizeof(copy.ip), base->ip);
        copy.port = base->port;
        copy.channelID = base->channelID;
        stations.push_back(copy);
    });
    return stations;
}

// Every rover, with the rover lock held.
std::vector<RoverCopy> CopyRovers()
{
    std::vector<RoverCopy> rovers;
    RoverTable* table = GetRoverTable();
    rovers.reserve(static_cast<size_t>(table->Count()));
    table->ForEach([&rovers](RoverRecord* rover) {
        RoverCopy copy;
        FixedText_Copy(copy.userName, sizeof(copy.userName), rover->userName);
        FixedText_Copy(copy.mountPoint, sizeof(copy.mountPoint), rover->mountPoint);
        copy.fixQuality = rover->fixQuality;
        copy.satellites = rover->satellites;
        copy.loginTime = rover->loginTime;
        copy.latitude = rover->latitude;
        copy.longitude = rover->longitude;
        copy.height = rover->height;
        copy.diffAge = rover->diffAge;
        FixedText_Copy(copy.loginTimeText, sizeof(copy.loginTimeText), rover->loginTimeText);
        copy.distance = rover->distance;
        copy.speed = rover->speed;
        FixedText_Copy(copy.ip, sizeof(copy.ip), rover->ip);
        copy.port = rover->port;
        copy.boundChannelID = rover->boundChannelID;
        rovers.push_back(copy);
    });
    return rovers;
}

std::vector<StationCopy> SnapshotStations()
{
    BaseTable::Guard guard;
    return CopyOnlineStations();
}

std::vector<RoverCopy> SnapshotRovers()
{
    RoverTable::Guard guard;
    return CopyRovers();
}

std::string Counted(const char* text, size_t count) { return text + std::to_string(count); }

Json::Value UserNameObject(const char* name)
{
    Json::Value object(Json::objectValue);
    object["UserName"] = HttpInspector_Text(name);
    return object;
}

bool Contains(const std::set<std::string>& set, const char* text) { return set.find(text) != set.end(); }

}  // namespace

void StationStatusCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "StationStatusCb")) return;
    std::vector<StationCopy> stations = SnapshotStations();
    Json::Value data(Json::arrayValue);
    for (const StationCopy& station : stations) {
        Json::Value object(Json::objectValue);
        object["MountPoint"] = HttpInspector_Text(station.mountPoint);
        data.append(object);
    }
    HttpReplyJson(request, INSPECTOR_STATUS_OK, Counted(INSPECTOR_MSG_STATIONS, data.size()).c_str(), data,
                  "StationStatusCb");
}

void RoverStatusCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "RoverStatusCb")) return;
    std::vector<RoverCopy> rovers = SnapshotRovers();
    Json::Value data(Json::arrayValue);
    for (const RoverCopy& rover : rovers) data.append(UserNameObject(rover.userName));
    HttpReplyJson(request, INSPECTOR_STATUS_OK, Counted(INSPECTOR_MSG_ROVERS, data.size()).c_str(), data,
                  "RoverStatusCb");
}

void StationInfoCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "StationInfoCb")) return;
    std::set<std::string> mounts;
    if (!HttpInspector_CollectTexts(root, "MountPoint", false, &mounts)) {
        HttpInspector_ReplyMalformed(request, "StationInfoCb", "data is not a list of filter objects");
        return;
    }
    // One view of both registries, so each base's rovers are those bound to
    // it at the moment its record was read.
    std::vector<StationCopy> stations;
    std::vector<RoverCopy> rovers;
    {
        BaseRoverGuard guard;
        stations = CopyOnlineStations();
        rovers = CopyRovers();
    }

    int64_t now = static_cast<int64_t>(time(nullptr));
    Json::Value data(Json::arrayValue);
    for (const StationCopy& station : stations) {
        if (!mounts.empty() && !Contains(mounts, station.mountPoint)) continue;
        Json::Value names(Json::arrayValue);
        for (const RoverCopy& rover : rovers) {
            if (rover.boundChannelID == station.channelID) names.append(UserNameObject(rover.userName));
        }
        Json::Value object(Json::objectValue);
        object["MountPoint"] = HttpInspector_Text(station.mountPoint);
        object["Format"] = HttpInspector_Text(station.format);
        object["Status"] = station.state;
        object["OnlineSec"] = static_cast<Json::Int64>(now - station.loginTime);
        object["Coord_B"] = station.latitude;
        object["Coord_L"] = station.longitude;
        object["Coord_H"] = station.height;
        object["OnlineTime"] = HttpInspector_Text(station.loginTimeText);
        object["IP"] = HttpInspector_Text(station.ip);
        object["Port"] = station.port;
        object["RoverNum"] = static_cast<Json::UInt>(names.size());
        object["RoverName"] = names.empty() ? Json::Value() : names;
        data.append(object);
    }
    HttpReplyJson(request, INSPECTOR_STATUS_OK, Counted(INSPECTOR_MSG_STATIONS, data.size()).c_str(), data,
                  "StationInfoCb");
}

void RoverInfoCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "RoverInfoCb")) return;
    std::set<std::string> mounts, names;
    if (!HttpInspector_CollectTexts(root, "MountPoint", false, &mounts) ||
        !HttpInspector_CollectTexts(root, "UserName", false, &names)) {
        HttpInspector_ReplyMalformed(request, "RoverInfoCb", "data is not a list of filter objects");
        return;
    }
    std::vector<RoverCopy> rovers = SnapshotRovers();

    int64_t now = static_cast<int64_t>(time(nullptr));
    bool all = mounts.empty() && names.empty();
    Json::Value data(Json::arrayValue);
    for (const RoverCopy& rover : rovers) {
        if (!all && !Contains(mounts, rover.mountPoint) && !Contains(names, rover.userName)) continue;
        Json::Value object(Json::objectValue);
        object["UserName"] = HttpInspector_Text(rover.userName);
        object["MountPoint"] = HttpInspector_Text(rover.mountPoint);
        object["UsePoint"] = HttpInspector_Text(rover.mountPoint);
        object["Status"] = rover.fixQuality;
        object["SatNum"] = rover.satellites;
        object["OnlineSec"] = static_cast<Json::Int64>(now - rover.loginTime);
        object["Coord_B"] = rover.latitude;
        object["Coord_L"] = rover.longitude;
        object["Coord_H"] = rover.height;
        object["DiffDelay"] = rover.diffAge;
        object["OnlineTime"] = HttpInspector_Text(rover.loginTimeText);
        object["Distance"] = rover.distance;
        object["RoverSpeed"] = rover.speed;
        object["IP"] = HttpInspector_Text(rover.ip);
        object["Port"] = rover.port;
        data.append(object);
    }
    HttpReplyJson(request, INSPECTOR_STATUS_OK, Counted(INSPECTOR_MSG_ROVER_INFO, data.size()).c_str(), data,
                  "RoverInfoCb");
}
