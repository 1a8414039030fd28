#include "caster/relay/AuthCentre.h"

#include "config/AuthCentreFile.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"

#include <curl/curl.h>
#include <json/json.h>

#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

namespace AuthCentre {

int GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
        if (result != CURLE_OK) Log_Error("%s:curl_global_init: %s", "AuthCentre::GlobalInit", curl_easy_strerror(result));
    });
    return 0;
}

int LoadConfig(AuthCentreConfig* record, const char* fileName)
{
    if (!record) return -1;
    memset(record, 0, sizeof(*record));
    if (!fileName || !Ntrip::LoadAuthCentreJsonValue(fileName, record)) {
        memset(record, 0, sizeof(*record));
        return -1;
    }
    return 0;
}

size_t WriteCallback(char* data, size_t size, size_t count, void* reply)
{
    std::string* text = static_cast<std::string*>(reply);
    size_t bytes = size * count;
    if (!text || text->size() + bytes > AUTH_CENTRE_REPLY_MAX) return 0;
    text->append(data, bytes);
    return bytes;
}

bool ParseReplyCode(const char* body, size_t length, int* code)
{
    if (!body || !code) return false;
    // The reader throws on what it will not read (nesting past its stack
    // limit, say): the centre's text is foreign, so that is a refusal too.
    try {
        Json::CharReaderBuilder builder;
        Json::CharReaderBuilder::strictMode(&builder.settings_);  // one object, nothing after it, no duplicate keys
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        if (!reader->parse(body, body + length, &root, &errors)) return false;
        if (!root.isObject() || !root.isMember("code")) return false;
        const Json::Value& value = root["code"];
        if ((value.type() != Json::intValue && value.type() != Json::uintValue) || !value.isInt()) return false;
        *code = value.asInt();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

namespace {

struct EasyHandle {
    CURL* curl = nullptr;
    struct curl_slist* headers = nullptr;
    ~EasyHandle()
    {
        if (headers) curl_slist_free_all(headers);
        if (curl) curl_easy_cleanup(curl);
    }
};

}  // namespace

int Post(const AuthCentreConfig* record, const char* name, const char* password, const char* node,
         long connectTimeoutMs, long totalTimeoutMs)
{
    static const char* kWhere = "AuthCentre::Post";
    if (!record || record->enabled == 0) return -1;
    char url[sizeof(record->url) + 1];
    snprintf(url, sizeof(url), "%.*s", static_cast<int>(strnlen(record->url, sizeof(record->url))), record->url);
    if (!url[0]) {
        Log_Info("%s:the centre has no url, user %s refused", kWhere, LogText_Escape(name).c_str());
        return -1;
    }

    Json::Value request;
    request["name"] = name ? name : "";
    request["password"] = password ? password : "";
    request["node"] = node ? node : "";
    Json::FastWriter writer;
    const std::string body = writer.write(request);

    EasyHandle handle;
    handle.curl = curl_easy_init();
    if (!handle.curl) {
        Log_Error("%s:curl_easy_init failed", kWhere);
        return -1;
    }
    handle.headers = curl_slist_append(nullptr, "Content-Type: application/json");
    if (!handle.headers) return -1;
    std::string reply;
    CURL* curl = handle.curl;
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, handle.headers);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    // Worker threads call this: no signals, and a centre that hangs must not
    // hold a login for ever.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, totalTimeoutMs);

    CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        Log_Info("%s:%s: %s, user %s refused", kWhere, url, curl_easy_strerror(result),
                 LogText_Escape(name).c_str());
        return -1;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        Log_Info("%s:%s: HTTP status %ld, user %s refused", kWhere, url, status, LogText_Escape(name).c_str());
        return -1;
    }
    int code = -1;
    if (!ParseReplyCode(reply.data(), reply.size(), &code)) {
        Log_Info("%s:%s: the reply holds no integer \"code\", user %s refused", kWhere, url, LogText_Escape(name).c_str());
        return -1;
    }
    return code;
}

}  // namespace AuthCentre
