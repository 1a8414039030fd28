#include "services/HttpInspectorRequest.h"

#include "runtime/FixedText.h"
#include "runtime/Utf8Text.h"
#include "store/UserTimeText.h"

#include <cstring>
#include <exception>
#include <memory>

namespace {

bool IsNullOrEmpty(const Json::Value& value) { return value.isNull() || ((value.isObject() || value.isArray()) && value.empty()); }

// The "data" member of an object root; null when absent.
const Json::Value& DataOf(const Json::Value& root)
{
    static const Json::Value none;
    return root.isObject() && root.isMember("data") ? root["data"] : none;
}

// An optional text member: true when absent or null (dest stays empty) or a
// text (copied, cut); false for any other type.
bool CopyText(const Json::Value& user, const char* member, char* dest, size_t size)
{
    const Json::Value& value = user.isMember(member) ? user[member] : Json::Value::nullSingleton();
    if (value.isNull()) return true;
    if (!value.isString()) return false;
    // A JSON text may hold "\u0000": stored, it would be cut there and name
    // another account than the one asked for.
    if (!FixedText_IsWhole(value.asString())) return false;
    Utf8_CutCopy(dest, size, value.asCString());
    return true;
}

bool Has(const Json::Value& user, const char* member) { return user.isMember(member) && !user[member].isNull(); }

}  // namespace

bool HttpInspector_ParseBody(const std::string& body, Json::Value* root)
{
    const char* text = body.c_str();
    size_t length = strlen(text);  // up to the first NUL
    if (length == 0) return false;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string errors;
    try {
        if (!reader->parse(text, text + length, &parsed, &errors)) return false;
    } catch (const std::exception&) {
        return false;  // nested deeper than the reader's stack limit
    }
    if (!parsed.isObject() || parsed.empty()) return false;
    *root = std::move(parsed);
    return true;
}

bool HttpInspector_CollectTexts(const Json::Value& root, const char* member, bool missingIsEmpty,
                                std::set<std::string>* texts)
{
    const Json::Value& data = DataOf(root);
    if (data.isNull()) return true;
    if (!data.isArray()) return false;
    for (const Json::Value& element : data) {
        if (!element.isNull() && !element.isObject()) return false;
        if (IsNullOrEmpty(element)) {
            if (missingIsEmpty) texts->insert("");
            continue;
        }
        const Json::Value& value = element.isMember(member) ? element[member] : Json::Value::nullSingleton();
        if (value.isNull()) {
            if (missingIsEmpty) texts->insert("");
            continue;
        }
        if (!value.isString() || !FixedText_IsWhole(value.asString())) return false;
        texts->insert(value.asString());
    }
    return true;
}

int HttpInspector_UserToAdd(const Json::Value& root, UserRecord* out, const char** message, const char** reason)
{
    memset(out, 0, sizeof(*out));
    *message = INSPECTOR_MSG_MALFORMED;
    *reason = "no user object in data";
    const Json::Value& data = DataOf(root);
    if (!data.isArray() || data.empty()) return INSPECTOR_STATUS_FAILED;
    const Json::Value& user = data[0];
    if (!user.isObject() || user.empty()) return INSPECTOR_STATUS_FAILED;
    *reason = "a required member is missing";

    if (!Has(user, "UserName")) {
        *message = INSPECTOR_MSG_NO_USER_NAME;
        return INSPECTOR_STATUS_FAILED;
    }
    if (!Has(user, "Password")) {
        *message = INSPECTOR_MSG_NO_PASSWORD;
        return INSPECTOR_STATUS_FAILED;
    }
    if (!Has(user, "UserType")) {
        *message = INSPECTOR_MSG_NO_USER_TYPE;
        return INSPECTOR_STATUS_FAILED;
    }
    *reason = "a member has the wrong type";
    const Json::Value& type = user["UserType"];
    if (type.type() != Json::intValue && type.type() != Json::uintValue) return INSPECTOR_STATUS_FAILED;
    if (!user["UserName"].isString() || !user["Password"].isString()) return INSPECTOR_STATUS_FAILED;
    if (!CopyText(user, "UserName", out->name, sizeof(out->name)) ||
        !CopyText(user, "Password", out->password, sizeof(out->password)) ||
        !CopyText(user, "Contacts", out->contactperson, sizeof(out->contactperson)) ||
        !CopyText(user, "PhoneNum", out->contacttele, sizeof(out->contacttele)) ||
        !CopyText(user, "Mail", out->mail, sizeof(out->mail)) || !CopyText(user, "QQ", out->qq, sizeof(out->qq)) ||
        !CopyText(user, "Company", out->company, sizeof(out->company)) ||
        !CopyText(user, "ExpireTime", out->expiredatetime, sizeof(out->expiredatetime))) {
        return INSPECTOR_STATUS_FAILED;
    }
    if (out->name[0] == '\0') {
        *message = INSPECTOR_MSG_NO_USER_NAME;
        *reason = "a required member is missing";
        return INSPECTOR_STATUS_FAILED;
    }
    if (Has(user, "Enabled")) {
        // A boolean, or a number as the store's integer column holds it:
        // asInt() is only asked of a value isInt() vouches for.
        const Json::Value& enabled = user["Enabled"];
        if (enabled.isBool()) {
            out->enabled = enabled.asBool() ? 1 : 0;
        } else if ((enabled.type() == Json::intValue || enabled.type() == Json::uintValue) && enabled.isInt()) {
            out->enabled = enabled.asInt() != 0 ? 1 : 0;
        } else {
            *reason = "Enabled is neither a boolean nor a 32-bit integer";
            return INSPECTOR_STATUS_FAILED;
        }
    }
    switch (UserRecord_CheckTexts(out)) {
    case USER_TEXTS_OK:
        break;
    case USER_TEXTS_NOT_UTF8:
        *reason = "a text is not UTF-8";
        return INSPECTOR_STATUS_FAILED;
    case USER_TEXTS_BAD_TIME:
        *reason = "ExpireTime is not a date in range";
        return INSPECTOR_STATUS_FAILED;
    case USER_TEXTS_BAD_PERIOD:
        *reason = "the activation period is out of range";
        return INSPECTOR_STATUS_FAILED;
    }
    if (!type.isInt() || (type.asInt() != USER_TYPE_BASE && type.asInt() != USER_TYPE_ROVER)) {
        *message = INSPECTOR_MSG_ADD_FAILED;
        *reason = "UserType is neither base (2) nor rover (3)";
        return INSPECTOR_STATUS_FAILED;
    }
    out->type = type.asInt();
    *reason = "";
    return INSPECTOR_STATUS_OK;
}

Json::Value HttpInspector_Text(const char* text)
{
    return Json::Value(Utf8_Clean(text));
}

Json::Value HttpInspector_UserObject(const UserRecord& user)
{
    Json::Value object(Json::objectValue);
    object["UserName"] = HttpInspector_Text(user.name);
    object["Password"] = HttpInspector_Text(user.password);
    object["UserType"] = user.type;
    object["Contacts"] = HttpInspector_Text(user.contactperson);
    object["PhoneNum"] = HttpInspector_Text(user.contacttele);
    object["Mail"] = HttpInspector_Text(user.mail);
    object["QQ"] = HttpInspector_Text(user.qq);
    object["Company"] = HttpInspector_Text(user.company);
    object["ExpireTime"] = HttpInspector_Text(user.expiredatetime);
    object["Enabled"] = user.enabled != 0;
    return object;
}
