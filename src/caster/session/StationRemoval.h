// The removal of a station on request of the control centre.
#pragma once

struct CasterScope;
class StationListDb;

// Closes the connection of the online base of that mount point and takes the
// name off the black list or, when it is not black-listed, off the white
// list. True when the base registry held a record of that name. Takes the
// base lock for the search only; runs on a control-centre thread.
bool RemoveBaseStation(const char* mountPoint);
// The same on the given registries, server and station lists.
bool RemoveBaseStation_In(const CasterScope& scope, StationListDb* lists, const char* mountPoint);
