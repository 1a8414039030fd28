// What the base and rover lists answer with, copied out of the registries.
// Each function takes the connection, base and rover locks it needs (in
// that order), copies the matching records with their connection figures
// and releases the locks; building and sending the reply happens after, so
// the caster loop never waits on a list being encoded.
#pragma once

#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"

#include <cstdint>
#include <string>
#include <vector>

struct CasterScope;

struct BaseSnapshot {
    BaseRecord base;
    bool hasConn;   // false when the channel had no connection record
    ConnInfo conn;  // zeroed without one
};

struct RoverSnapshot {
    RoverRecord rover;
    bool hasConn;
    ConnInfo conn;
    // The base that serves the rover: its bound base on a virtual mount,
    // else the mount it asked for.
    char servingBase[BASE_MOUNT_SIZE];
    bool servingOnline;  // that base is registered with state 1
    char servingFormat[BASE_FORMAT_SIZE];
    double servingLatitude;
    double servingLongitude;
    double servingHeight;
};

// Which page of a list: records at positions start .. start + count - 1 of
// the matching ones, in login order.
struct StationPage {
    int32_t start;
    int32_t count;
};

// Every online base, in bucket order.
void StationSnapshot_OnlineBases(const CasterScope& scope, std::vector<BaseSnapshot>* out);

// One page of the online bases in login order, those whose mount point
// contains nameFilter when it is not empty. *total: with a filter the
// records of any state whose name contains it, else the online bases.
void StationSnapshot_BasePage(const CasterScope& scope, const StationPage& page, const std::string& nameFilter,
                              int* total, std::vector<BaseSnapshot>* out);

// Every rover, in bucket order; a rover is on a virtual mount when its
// mount point has a virtual-mount prefix.
void StationSnapshot_Rovers(const CasterScope& scope, std::vector<RoverSnapshot>* out);

// One page of the rovers in login order: those on the mount baseName
// (exactly, when not empty) of the user roverName (exactly, when not empty).
// A rover is on a virtual mount when its binding mode says so. *total: all
// rovers without a name; else the rovers served by baseName's base, of the
// user roverName, or of the user on that base.
void StationSnapshot_RoverPage(const CasterScope& scope, const StationPage& page, const std::string& baseName,
                               const std::string& roverName, int* total, std::vector<RoverSnapshot>* out);

// Whether the position (0-based, among the matching records) lies in the page.
// The second result says the walk may stop.
bool StationPage_Takes(const StationPage& page, int64_t position, bool* done);
