// The four registry routes: online stations and rovers, counted or in detail.
// Each handler copies the records out of the base and rover registries while
// it holds their locks (base before rover), then filters, builds and sends
// the JSON with no lock held.
#include "caster/centre/Vorlane.h"
#include "caster/registry/RegistrySnapshot.h"
#include "services/HttpInspectorRequest.h"
#include "services/HttpInspectorRoutes.h"

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace {

// The inspector reads no connection figures: only the base lock for the
// station routes, the rover lock for the rover routes.
RegistryTables BaseTables() { return RegistryTables{nullptr, GetBaseTable(), nullptr}; }
RegistryTables RoverTables() { return RegistryTables{nullptr, nullptr, GetRoverTable()}; }

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
    std::vector<BaseSnapshot> stations;
    RegistrySnapshot_OnlineBases(BaseTables(), &stations);
    Json::Value data(Json::arrayValue);
    for (const BaseSnapshot& station : stations) {
        Json::Value object(Json::objectValue);
        object["MountPoint"] = HttpInspector_Text(station.base.mountPoint);
        data.append(object);
    }
    HttpReplyJson(request, INSPECTOR_STATUS_OK, Counted(INSPECTOR_MSG_STATIONS, data.size()).c_str(), data,
                  "StationStatusCb");
}

void RoverStatusCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "RoverStatusCb")) return;
    std::vector<RoverSnapshot> rovers;
    RegistrySnapshot_Rovers(RoverTables(), &rovers);
    Json::Value data(Json::arrayValue);
    for (const RoverSnapshot& rover : rovers) data.append(UserNameObject(rover.rover.userName));
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
    std::vector<BaseSnapshot> stations;
    std::vector<RoverSnapshot> rovers;
    RegistrySnapshot_OnlineBasesAndRovers(RegistryTables{nullptr, GetBaseTable(), GetRoverTable()}, &stations,
                                          &rovers);

    int64_t now = static_cast<int64_t>(time(nullptr));
    Json::Value data(Json::arrayValue);
    for (const BaseSnapshot& copy : stations) {
        const BaseRecord& station = copy.base;
        if (!mounts.empty() && !Contains(mounts, station.mountPoint)) continue;
        Json::Value names(Json::arrayValue);
        for (const RoverSnapshot& rover : rovers) {
            if (rover.rover.boundChannelID == station.channelID) names.append(UserNameObject(rover.rover.userName));
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
    std::vector<RoverSnapshot> rovers;
    RegistrySnapshot_Rovers(RoverTables(), &rovers);

    int64_t now = static_cast<int64_t>(time(nullptr));
    bool all = mounts.empty() && names.empty();
    Json::Value data(Json::arrayValue);
    for (const RoverSnapshot& copy : rovers) {
        const RoverRecord& rover = copy.rover;
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
