// Copies of base, rover and connection records taken out of the registries,
// for the readers that answer lists of them (the control centre, the HTTP
// inspector): each function holds the registry locks only while it copies,
// so a list is filtered, built and sent with no lock held.
//
// Of the tables it is given, a function locks those it reads, in the order
// connection, base, rover, and leaves them in reverse. Without a connection
// table the copies carry no connection figures; rovers copied without a base
// table carry no serving base.
#pragma once

#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"

#include <cstdint>
#include <string>
#include <vector>

// The registries a snapshot may read; a null one is neither locked nor read.
struct RegistryTables {
    ConnInfoTable* conns;
    BaseTable* bases;
    RoverTable* rovers;
};

struct BaseSnapshot {
    BaseRecord base;
    bool hasConn;   // false when the channel had no connection record
    ConnInfo conn;  // zeroed without one
};

struct RoverSnapshot {
    RoverRecord rover;  // its password left empty: no list shows it
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

// Every online base (state 1), in bucket order.
void RegistrySnapshot_OnlineBases(const RegistryTables& tables, std::vector<BaseSnapshot>* out);

// One page of the online bases in login order, those whose mount point
// contains nameFilter (cut to a mount point's 99 characters) when it is not
// empty. *total: with a filter the records of any state whose name contains
// it, else the online bases.
void RegistrySnapshot_BasePage(const RegistryTables& tables, const StationPage& page, const std::string& nameFilter,
                               int* total, std::vector<BaseSnapshot>* out);

// Every rover, in bucket order; a rover is on a virtual mount when its
// mount point has a virtual-mount prefix.
void RegistrySnapshot_Rovers(const RegistryTables& tables, std::vector<RoverSnapshot>* out);

// The online bases and every rover as one view: both are copied under the
// same hold of the locks, so each base's rovers are those bound to it at the
// moment its record was read.
void RegistrySnapshot_OnlineBasesAndRovers(const RegistryTables& tables, std::vector<BaseSnapshot>* bases,
                                           std::vector<RoverSnapshot>* rovers);

// One page of the rovers in login order: those on the mount baseName
// (exactly, when not empty) of the user roverName (exactly, when not empty),
// both cut to 99 characters. A rover is on a virtual mount when its binding
// mode says so. *total: all rovers without a name; else the rovers served by
// baseName's base, of the user roverName, or of the user on that base.
void RegistrySnapshot_RoverPage(const RegistryTables& tables, const StationPage& page, const std::string& baseName,
                                const std::string& roverName, int* total, std::vector<RoverSnapshot>* out);

// Whether the position (0-based, among the matching records) lies in the page.
// The second result says the walk may stop.
bool StationPage_Takes(const StationPage& page, int64_t position, bool* done);
