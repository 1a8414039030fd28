// "VorlaneConfig.json": the service sections read at start-up and written
// back, and the "warning" section written on request of the control centre.
//
// Every write rereads the file, changes only the keys it owns and replaces the
// file atomically; other sections and keys stay as they were. Writers are
// serialized by one process-wide lock, so two control connections changing
// different sections at once cannot lose each other's change.
#pragma once

#include "config/ConfigRecords.h"
#include "runtime/Lock.h"

#include <cJSON.h>

#include <string>

#define VORLANE_CONFIG_FILE "VorlaneConfig.json"

// The one lock of the file's read-modify-write (re-entrant). The writers below
// take it themselves; a caller that must make a write and what follows it one
// step (write, then apply to the live records) holds it around both, and
// readers of the records such a step changes hold it too.
Lock& VorlaneConfig_FileLock();

// Fills both records (zeroed first) from "ctrl_center_server" and
// "ntrip_server". False when an argument is null or either section is missing
// (or not an object). A key of the wrong type counts as absent.
bool GetVorlaneJsonValue(const cJSON* json, NtripServerConfig* ntrip, CtrlCenterConfig* ctrl);

// Fills the record (zeroed first) from "http_server"; an absent section gives
// all defaults. False only for null arguments.
bool GetHttpServerJsonVale(const cJSON* json, HttpServerConfig* http);

// Fills the record (zeroed first) from "warning"; absent keys read 0 and "".
// False when an argument is null or the section is missing.
bool GetWarningJsonValue(const cJSON* json, WarningConfig* warning);

// Loads the three records from the file at path; on failure logs
// "Ntrip::LoadJsonConfig:GetJsonObject: failed" (or GetVorlaneJsonValue /
// GetHttpServerJsonVale) and returns false, with *problem (when given) a
// line for the operator: "the configuration PATH is missing", "... is
// unreadable (REASON)", "... is not valid JSON (WHERE)" or "... has no
// \"ctrl_center_server\" or \"ntrip_server\" object".
bool LoadJsonConfigFile(const char* path, CtrlCenterConfig* ctrl, NtripServerConfig* ntrip,
                        HttpServerConfig* http, std::string* problem = nullptr);

namespace Ntrip {
// LoadJsonConfigFile on "VorlaneConfig.json" beside the executable.
bool LoadJsonConfig(CtrlCenterConfig* ctrl, NtripServerConfig* ntrip, HttpServerConfig* http,
                    std::string* problem = nullptr);
// The "warning" section of "VorlaneConfig.json" beside the executable into
// the record (zeroed first); false, leaving it zeroed, when the file does not
// load or has no such section.
bool LoadWarningJsonConfig(WarningConfig* warning);
}  // namespace Ntrip

// Writes the three service sections into the file at path: present keys are
// updated in place, missing keys and sections are added. rover_distance_limit
// is never written. A file that does not load is replaced by a new object with
// the three sections. False for null arguments or when the write fails (errno
// then says why); the old file is then whole.
bool WriteJsonConfig(const char* path, const NtripServerConfig* ntrip, const CtrlCenterConfig* ctrl,
                     const HttpServerConfig* http);

// WriteJsonConfig on "VorlaneConfig.json" beside the executable. On failure
// *problem (when given) is a line for the operator: "the configuration PATH
// cannot be written (REASON)".
bool SaveJsonConfig(const CtrlCenterConfig* ctrl, const NtripServerConfig* ntrip,
                    const HttpServerConfig* http, std::string* problem = nullptr);

// Writes the "warning" section alone into the file at path, which must load.
// False otherwise or when the write fails.
bool WriteWarningJsonConfig(const char* path, const WarningConfig* warning);
