#include "config/AuthCentreFile.h"

#include "config/ConfigPath.h"
#include "config/JsonFile.h"
#include "runtime/Log.h"

#include <cstdio>
#include <cstring>

bool GetAuthCentreJsonValue(const cJSON* json, AuthCentreConfig* record)
{
    if (!json || !record) return false;
    const cJSON* section = JsonGetSection(json, "auth_centre");
    if (!section) {
        record->enabled = 0;
        return true;
    }
    const cJSON* url = cJSON_GetObjectItemCaseSensitive(section, "url");
    if (cJSON_IsString(url)) {
        snprintf(record->url, sizeof(record->url), "%s", url->valuestring);
        record->enabled = 1;
        return true;
    }
    const cJSON* ip = cJSON_GetObjectItemCaseSensitive(section, "ip");
    const cJSON* port = cJSON_GetObjectItemCaseSensitive(section, "port");
    if (!cJSON_IsString(ip) || !cJSON_IsNumber(port)) return false;
    snprintf(record->ip, sizeof(record->ip), "%s", ip->valuestring);
    snprintf(record->ip2, sizeof(record->ip2), "%s", ip->valuestring);
    record->port = port->valueint;
    record->enabled = 1;
    return true;
}

bool LoadAuthCentreJsonFile(const char* path, AuthCentreConfig* record)
{
    const char* me = "Ntrip::LoadAuthCentreJsonValue";
    if (!record) return false;
    memset(record, 0, sizeof(*record));
    cJSON* json = LoadJsonFile(path);
    if (!json) {
        Log_Error("%s:GetJsonObject: failed", me);
        return false;
    }
    bool ok = GetAuthCentreJsonValue(json, record);
    cJSON_Delete(json);
    if (!ok) {
        // A half-filled record must not count as a configured centre.
        memset(record, 0, sizeof(*record));
        Log_Error("%s:GetAuthCentreJsonValue: failed", me);
    }
    return ok;
}

bool Ntrip::LoadAuthCentreJsonValue(const char* name, AuthCentreConfig* record)
{
    if (!record) return false;
    memset(record, 0, sizeof(*record));
    char path[CONFIG_PATH_SIZE];
    if (!name || !Ntrip::GetFileFullPath(name, path, sizeof(path))) return false;
    return LoadAuthCentreJsonFile(path, record);
}
