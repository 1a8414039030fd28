#include "config/VorlaneConfig.h"

#include "config/ConfigPath.h"
#include "config/JsonFile.h"
#include "decoding/NtripDecoding/NtripServerKeys.h"
#include "runtime/FixedText.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

Lock& VorlaneConfig_FileLock()
{
    static Lock lock;
    return lock;
}

namespace {

// A fixed-size record field as text, safe even when the field is full.
std::string FieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

// Text key: the string, or fallback when absent (a key of another type is
// reported and counts as absent).
void ReadText(const cJSON* section, const char* sectionName, const char* key, const char* fallback,
              char* dst, size_t size)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(section, key);
    if (item && !cJSON_IsString(item)) {
        Log_Warn("VorlaneConfig:%s.%s is not a string, default used", sectionName, key);
        item = nullptr;
    }
    FixedText_Copy(dst, size, item ? item->valuestring : fallback);
}

// Number key: its integer value, or fallback when absent; *present tells
// which.
int ReadNumber(const cJSON* section, const char* sectionName, const char* key, int fallback,
               bool* present = nullptr)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(section, key);
    if (item && !cJSON_IsNumber(item)) {
        Log_Warn("VorlaneConfig:%s.%s is not a number, default used", sectionName, key);
        item = nullptr;
    }
    if (present) *present = item != nullptr;
    return item ? item->valueint : fallback;
}

// A flag that is 1 only when the key holds exactly 1.
int ReadFlag(const cJSON* section, const char* sectionName, const char* key, int fallback)
{
    bool present = false;
    int value = ReadNumber(section, sectionName, key, fallback, &present);
    if (!present) return fallback;
    return value == 1 ? 1 : 0;
}

// The section object under key, created (or replacing a non-object) when
// missing. *existed tells whether a usable section stood in the file.
cJSON* EnsureSection(cJSON* root, const char* key, bool* existed)
{
    cJSON* section = cJSON_GetObjectItemCaseSensitive(root, key);
    *existed = cJSON_IsObject(section);
    if (*existed) return section;
    section = cJSON_CreateObject();
    if (!section) return nullptr;
    if (cJSON_GetObjectItemCaseSensitive(root, key)) {
        cJSON_ReplaceItemInObjectCaseSensitive(root, key, section);
    } else {
        cJSON_AddItemToObject(root, key, section);
    }
    return section;
}

void PutCtrl(cJSON* section, const CtrlCenterConfig* ctrl)
{
    JsonSetStringItem(section, "ip", FieldText(ctrl->ip, sizeof(ctrl->ip)).c_str(), 30);
    JsonSetNumberItem(section, "port", ctrl->port);
}

void PutNtrip(cJSON* section, const NtripServerConfig* ntrip)
{
    JsonSetStringItem(section, "ip", FieldText(ntrip->ip, sizeof(ntrip->ip)).c_str(), 30);
#define PUT_NTRIP_KEY(key, kind, fallback) JsonSetNumberItem(section, #key, ntrip->key);
    NTRIP_SERVER_SHARED_KEYS(PUT_NTRIP_KEY)
#undef PUT_NTRIP_KEY
}

// An integer key of "ntrip_server" as the key table says it reads.
int ReadNtripKey(const cJSON* section, const char* key, int kind, int fallback)
{
    const char* name = "ntrip_server";
    if (kind == NTRIP_KEY_FLAG) return ReadFlag(section, name, key, fallback);
    int value = ReadNumber(section, name, key, fallback);
    if (kind == NTRIP_KEY_PROTOCOL) return value == 2 ? 2 : 1;
    if (kind == NTRIP_KEY_NONZERO && value == 0) return fallback;
    return value;
}

void PutHttp(cJSON* section, const HttpServerConfig* http)
{
    JsonSetStringItem(section, "ip", FieldText(http->ip, sizeof(http->ip)).c_str(), 30);
    JsonSetNumberItem(section, "port", http->port);
    JsonSetStringItem(section, "salt", FieldText(http->salt, sizeof(http->salt)).c_str(), 32);
}

void PutWarning(cJSON* section, const WarningConfig* warning)
{
    JsonSetStringItem(section, "url", FieldText(warning->url, sizeof(warning->url)).c_str(), 200);
    JsonSetNumberItem(section, "warnInterval", warning->warnInterval);
    JsonSetNumberItem(section, "dataCountInterval", warning->dataCountInterval);
    JsonSetNumberItem(section, "dataLimit", warning->dataLimit);
    JsonSetNumberItem(section, "enableWarn", warning->enableWarn);
}

}  // namespace

bool GetVorlaneJsonValue(const cJSON* json, NtripServerConfig* ntrip, CtrlCenterConfig* ctrl)
{
    if (!json || !ntrip || !ctrl) return false;
    memset(ntrip, 0, sizeof(*ntrip));
    memset(ctrl, 0, sizeof(*ctrl));

    const cJSON* c = JsonGetSection(json, "ctrl_center_server");
    const cJSON* n = JsonGetSection(json, "ntrip_server");
    if (!c || !n) return false;

    ReadText(c, "ctrl_center_server", "ip", CONFIG_DEFAULT_IP, ctrl->ip, sizeof(ctrl->ip));
    ctrl->port = ReadNumber(c, "ctrl_center_server", "port", CONFIG_DEFAULT_CTRL_PORT);

    ReadText(n, "ntrip_server", "ip", CONFIG_DEFAULT_IP, ntrip->ip, sizeof(ntrip->ip));
#define READ_NTRIP_KEY(key, kind, fallback) ntrip->key = ReadNtripKey(n, #key, kind, fallback);
    NTRIP_SERVER_INT_KEYS(READ_NTRIP_KEY)
#undef READ_NTRIP_KEY
    return true;
}

bool GetHttpServerJsonVale(const cJSON* json, HttpServerConfig* http)
{
    if (!json || !http) return false;
    memset(http, 0, sizeof(*http));
    // An absent section reads like an empty one: every default applies.
    const cJSON* h = JsonGetSection(json, "http_server");
    ReadText(h, "http_server", "ip", CONFIG_DEFAULT_HTTP_IP, http->ip, sizeof(http->ip));
    http->port = ReadNumber(h, "http_server", "port", CONFIG_DEFAULT_HTTP_PORT);
    ReadText(h, "http_server", "salt", CONFIG_DEFAULT_SALT, http->salt, sizeof(http->salt));
    return true;
}

bool GetWarningJsonValue(const cJSON* json, WarningConfig* warning)
{
    if (!json || !warning) return false;
    memset(warning, 0, sizeof(*warning));
    const cJSON* w = JsonGetSection(json, "warning");
    if (!w) return false;
    ReadText(w, "warning", "url", "", warning->url, sizeof(warning->url));
    warning->warnInterval = ReadNumber(w, "warning", "warnInterval", 0);
    warning->dataCountInterval = ReadNumber(w, "warning", "dataCountInterval", 0);
    warning->dataLimit = ReadNumber(w, "warning", "dataLimit", 0);
    warning->enableWarn = ReadNumber(w, "warning", "enableWarn", 0);
    return true;
}

bool LoadJsonConfigFile(const char* path, CtrlCenterConfig* ctrl, NtripServerConfig* ntrip,
                        HttpServerConfig* http, std::string* problem)
{
    const char* me = "Ntrip::LoadJsonConfig";
    std::string why;
    cJSON* json = LoadJsonFile(path, &why);
    const std::string file = std::string("the configuration ") + (path ? path : VORLANE_CONFIG_FILE) + " ";
    if (!json) {
        Log_Error("%s:GetJsonObject: failed", me);
        if (problem) *problem = file + why;
        return false;
    }
    bool ok = true;
    if (!GetVorlaneJsonValue(json, ntrip, ctrl)) {
        Log_Error("%s:GetVorlaneJsonValue: failed", me);
        if (problem) *problem = file + "has no \"ctrl_center_server\" or \"ntrip_server\" object";
        ok = false;
    } else if (!GetHttpServerJsonVale(json, http)) {
        Log_Error("%s:GetHttpServerJsonVale: failed", me);
        if (problem) *problem = file + "cannot be read into its records";
        ok = false;
    }
    cJSON_Delete(json);
    return ok;
}

bool Ntrip::LoadJsonConfig(CtrlCenterConfig* ctrl, NtripServerConfig* ntrip, HttpServerConfig* http,
                           std::string* problem)
{
    char path[CONFIG_PATH_SIZE];
    if (!Ntrip::GetFileFullPath(VORLANE_CONFIG_FILE, path, sizeof(path))) {
        if (problem) *problem = "the path of " VORLANE_CONFIG_FILE " beside the executable is not known";
        return false;
    }
    return LoadJsonConfigFile(path, ctrl, ntrip, http, problem);
}

bool Ntrip::LoadWarningJsonConfig(WarningConfig* warning)
{
    if (!warning) return false;
    memset(warning, 0, sizeof(*warning));
    char path[CONFIG_PATH_SIZE];
    if (!Ntrip::GetFileFullPath(VORLANE_CONFIG_FILE, path, sizeof(path))) return false;
    cJSON* json = LoadJsonFile(path);
    bool ok = json && GetWarningJsonValue(json, warning);
    cJSON_Delete(json);
    return ok;
}

bool WriteJsonConfig(const char* path, const NtripServerConfig* ntrip, const CtrlCenterConfig* ctrl,
                     const HttpServerConfig* http)
{
    if (!path || !ntrip || !ctrl || !http) return false;
    ScopedLock guard(VorlaneConfig_FileLock());

    cJSON* root = LoadJsonFile(path);
    if (root && !cJSON_IsObject(root)) {
        Log_Warn("WriteJsonConfig:%s does not hold a JSON object, writing a new one", path);
        cJSON_Delete(root);
        root = nullptr;
    }
    if (!root) root = cJSON_CreateObject();
    if (!root) return false;

    bool ok = true;
    bool existed = false;
    cJSON* c = EnsureSection(root, "ctrl_center_server", &existed);
    if (c) PutCtrl(c, ctrl);
    cJSON* n = EnsureSection(root, "ntrip_server", &existed);
    if (n) {
        if (existed) {
            Log_Info("BaseLoginMode:%d, RoverLoginMode:%d, broadcast_Nearest:%d, rover_gga_log:%d",
                     ntrip->base_login_mode, ntrip->rover_login_mode, ntrip->broadcast_nearest,
                     ntrip->rover_gga_log);
        }
        PutNtrip(n, ntrip);
    }
    cJSON* h = EnsureSection(root, "http_server", &existed);
    if (h) PutHttp(h, http);
    ok = c && n && h;

    if (!ok) errno = ENOMEM;
    ok = ok && JsonWriteFile(path, root);
    int error = errno;
    cJSON_Delete(root);
    if (!ok) {
        Log_Error("WriteJsonConfig:%s not written", path);
        errno = error;
    }
    return ok;
}

bool SaveJsonConfig(const CtrlCenterConfig* ctrl, const NtripServerConfig* ntrip,
                    const HttpServerConfig* http, std::string* problem)
{
    char path[CONFIG_PATH_SIZE];
    if (!Ntrip::GetFileFullPath(VORLANE_CONFIG_FILE, path, sizeof(path))) {
        if (problem) *problem = "the path of " VORLANE_CONFIG_FILE " beside the executable is not known";
        return false;
    }
    if (WriteJsonConfig(path, ntrip, ctrl, http)) return true;
    if (problem) *problem = std::string("the configuration ") + path + " cannot be written (" + strerror(errno) + ")";
    return false;
}

bool WriteWarningJsonConfig(const char* path, const WarningConfig* warning)
{
    if (!path || !warning) return false;
    ScopedLock guard(VorlaneConfig_FileLock());

    cJSON* root = LoadJsonFile(path);
    if (!root || !cJSON_IsObject(root)) {
        Log_Error("WriteWarningJsonConfig:%s does not load", path);
        cJSON_Delete(root);
        return false;
    }
    bool existed = false;
    cJSON* w = EnsureSection(root, "warning", &existed);
    if (w) PutWarning(w, warning);
    bool ok = w && JsonWriteFile(path, root);
    cJSON_Delete(root);
    if (!ok) Log_Error("WriteWarningJsonConfig:%s not written", path);
    return ok;
}
