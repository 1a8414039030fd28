// "AuthCentre.json": where the authentication centre is, if there is one.
#pragma once

#include "config/ConfigRecords.h"

#include <cJSON.h>

#define AUTH_CENTRE_FILE "AuthCentre.json"

// Fills the record from the "auth_centre" section. No section: true with
// enabled 0 (no centre). A "url" string: copied, enabled 1. Else "ip" (string)
// and "port" (number) are both needed: the ip goes into both ip fields,
// enabled 1; without them the result is false. The record is not zeroed here.
bool GetAuthCentreJsonValue(const cJSON* json, AuthCentreConfig* record);

// Zeroes the record and loads it from the file at path. False, with the error
// line "Ntrip::LoadAuthCentreJsonValue:GetJsonObject: failed" or
// "...:GetAuthCentreJsonValue: failed", when the file does not load or the
// section is incomplete; the record then stays disabled.
bool LoadAuthCentreJsonFile(const char* path, AuthCentreConfig* record);

namespace Ntrip {
// LoadAuthCentreJsonFile on the file called name beside the executable.
bool LoadAuthCentreJsonValue(const char* name, AuthCentreConfig* record);
}  // namespace Ntrip
