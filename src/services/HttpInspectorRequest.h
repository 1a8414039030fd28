// Reading the JSON bodies of the HTTP inspector: every check a request must
// pass before a handler touches the user store or the registries. JsonCpp
// asserts on members of the wrong type, so each value is type-checked here
// and a request that fails any check is malformed.
#pragma once

#include "store/UserRecord.h"

#include <json/json.h>

#include <set>
#include <string>

// The envelope's "status": 0 success, -1 not found or already present, -2
// malformed or failed.
enum {
    INSPECTOR_STATUS_OK = 0,
    INSPECTOR_STATUS_ABSENT = -1,
    INSPECTOR_STATUS_FAILED = -2,
};

// The inspector's own texts, in UTF-8.
#define INSPECTOR_MSG_MALFORMED "请求格式不正确"
#define INSPECTOR_MSG_NO_USER_NAME "没有设置用户名"
#define INSPECTOR_MSG_NO_PASSWORD "没有设置密码"
#define INSPECTOR_MSG_NO_USER_TYPE "没有设置用户类型"
#define INSPECTOR_MSG_ADDED "账号添加成功"
#define INSPECTOR_MSG_EXISTS "账号已存在"
#define INSPECTOR_MSG_ADD_FAILED "账号添加失败"
#define INSPECTOR_MSG_NO_SUCH_USER "账号不存在"
#define INSPECTOR_MSG_FOUND "查询成功"
#define INSPECTOR_MSG_STATIONS "在线基站数量:"
#define INSPECTOR_MSG_ROVERS "在线流动站数量:"
#define INSPECTOR_MSG_ROVER_INFO "在线流动站信息,数量:"

// Parses a request body up to its first NUL byte. True with *root when it is
// valid JSON whose root is an object with at least one member; anything else
// (empty, not JSON, cut short, an array or other root, {}) is malformed.
bool HttpInspector_ParseBody(const std::string& body, Json::Value* root);

// The texts of `member` of the elements of root's "data" array into *texts.
// An absent or null "data", and null members, add nothing. With
// missingIsEmpty an element lacking the member (or a null element) adds "";
// without it null and empty elements are skipped. False when "data" is not
// an array, an element is neither an object nor null, or the member is not
// a text or holds a NUL byte.
bool HttpInspector_CollectTexts(const Json::Value& root, const char* member, bool missingIsEmpty,
                                std::set<std::string>* texts);

// The account "/xqn_user/add" asks for: the first element of root's "data"
// array, into *out (zeroed first, texts cut to 199 bytes on a character
// boundary, enabled 1 only for a true or non-zero "Enabled"). Returns
// INSPECTOR_STATUS_OK, or INSPECTOR_STATUS_FAILED with *message: malformed,
// or the first required member missing ("UserName", "Password", "UserType",
// in that order), or the add-failed text for a type other than base (2) or
// rover (3): operator accounts are never made over HTTP. Malformed are also
// members of another type or out of range (an "Enabled" number beyond 32
// bits), texts that are not UTF-8 and an expiry time that is not a date of
// range (UserRecord_CheckTexts). *reason says why for the log (no secret).
int HttpInspector_UserToAdd(const Json::Value& root, UserRecord* out, const char** message, const char** reason);

// A text of a stored record or a registry as a JSON string that strict
// readers take: bytes that are not UTF-8 become '?' (Utf8_Clean).
Json::Value HttpInspector_Text(const char* text);

// The ten members of a user object from a user_tb row, texts cleaned.
Json::Value HttpInspector_UserObject(const UserRecord& user);
