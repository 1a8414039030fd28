#include "decoding/NtripDecoding/NtripServerConfig.h"

#include "decoding/NtripDecoding/NtripServerKeys.h"
#include "runtime/ExeDir.h"
#include "runtime/Log.h"

#include <json/json.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace NtripDecoding {

namespace {

// The whole file; false when it cannot be opened or holds nothing.
bool ReadWholeFile(const char* path, std::string* text)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        return false;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) text->append(chunk, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed || text->empty()) {
        return false;
    }
    return true;
}

// A key as an integer; a missing key or one of another type reads as 0
// (asInt would throw on a text or an out-of-range number).
int IntOf(const Json::Value& section, const char* key)
{
    const Json::Value& v = section[key];
    if (v.isInt()) return v.asInt();
    if (v.isBool()) return v.asBool() ? 1 : 0;
    if (v.isDouble()) {
        double d = v.asDouble();
        if (d >= static_cast<double>(INT_MIN) && d <= static_cast<double>(INT_MAX)) return static_cast<int>(d);
    }
    return 0;
}

}  // namespace

bool GetFileFullPath(char* path, size_t size)
{
    if (!path || size == 0) return false;
    return ExeDir_FindFile(NTRIP_CONFIG_FILE_NAME, path, size, "NtripDecoding::GetFileFullPath");
}

bool LoadNtripServerConfig(NtripServerSection* config)
{
    if (!config) return false;
    memset(config, 0, sizeof(*config));
    char path[EXE_DIR_PATH_SIZE + 64];
    if (!GetFileFullPath(path, sizeof(path))) return false;
    return LoadNtripServerConfigFrom(path, config);
}

bool LoadNtripServerConfigFrom(const char* path, NtripServerSection* config)
{
    if (!config) return false;
    memset(config, 0, sizeof(*config));
    if (!path) return false;

    std::string text;
    if (!ReadWholeFile(path, &text)) return false;

    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        Log_Info(":Parse Json error.");
        return false;
    }

    // A root or section that is not an object has no keys to read.
    const Json::Value& top = root;
    if (!top.isObject() || !top["ntrip_server"].isObject()) return true;
    const Json::Value& section = top["ntrip_server"];
    if (section["ip"].isString()) snprintf(config->ip, sizeof(config->ip), "%s", section["ip"].asCString());
#define READ_NTRIP_KEY(key, kind, fallback) config->key = IntOf(section, #key);
    NTRIP_SERVER_SHARED_KEYS(READ_NTRIP_KEY)
#undef READ_NTRIP_KEY
    return true;
}

}  // namespace NtripDecoding
