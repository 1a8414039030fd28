#include "control/CtrlStationLists.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "control/CtrlJson.h"
#include "net/NHServer.h"
#include "runtime/FixedText.h"
#include "runtime/Log.h"
#include "store/StationListDb.h"

#include <json/json.h>

#include <sstream>
#include <vector>

namespace {

const int MSG_ID_QUERY = 1000;
const int MSG_ID_UPDATE = 1001;
const int MSG_ID_INSERT = 1002;

Json::Value NamesOrNull(const std::vector<std::string>& names)
{
    if (names.empty()) return Json::Value(Json::nullValue);
    Json::Value array(Json::arrayValue);
    for (const std::string& name : names) array.append(name);
    return array;
}

// Closes the online base of that name (its close runs base offline on the
// caster loop) and marks its record black-listed, so a login racing the
// close is refused. Only the registry lookup runs under the base lock.
void CloseAndMarkBlack(const char* name)
{
    BaseTable::Guard guard;
    BaseRecord* base = GetBaseTable()->FindByName(name);
    if (base) {
        if (base->state == BASE_STATE_ONLINE) NHServer_PostClose(GetNetServer(), base->channelID);
        if (base->state != BASE_STATE_BLACKLISTED) base->state = BASE_STATE_BLACKLISTED;
    }
}

void ClearBlackMark(const char* name)
{
    BaseTable::Guard guard;
    BaseRecord* base = GetBaseTable()->FindByName(name);
    if (base && base->state == BASE_STATE_BLACKLISTED) base->state = BASE_STATE_CLEARED;
}

// The names of one member: its array's text elements. Numbers and booleans
// read as their text; arrays, objects, nulls and texts that go on past a NUL
// ("\u0000") name no station.
std::vector<std::string> NamesOf(const Json::Value& member, const char* who, const std::string& key)
{
    std::vector<std::string> names;
    if (!member.isArray()) return names;
    for (Json::ArrayIndex i = 0; i < member.size(); ++i) {
        const Json::Value& element = member[i];
        if (!element.isString() && !element.isNumeric() && !element.isBool()) {
            Log_Info("%s:element %u of %.32s is not a station name, skipped.", who, i, key.c_str());
            continue;
        }
        std::string name = element.asString();
        if (!FixedText_IsWhole(name)) {
            Log_Info("%s:element %u of %.32s holds a NUL byte, skipped.", who, i, key.c_str());
            continue;
        }
        names.push_back(name);
    }
    return names;
}

// The walk both list changes share; `insert` skips the membership tests.
std::string ChangeLists(const std::string& dataText, bool insert, const char* who)
{
    Json::Value root;
    if (!CtrlJson_Parse(dataText, &root)) {
        Log_Info("%s:Parse json error.", who);
        return "";
    }
    if (!root.isObject()) return "";
    StationListDb* lists = GetStationListDb();
    for (const std::string& key : root.getMemberNames()) {
        bool black = key == "blacklist";
        bool white = key == "whitelist";
        std::vector<std::string> names = NamesOf(root[key], who, key);
        if (!black && !white) continue;
        for (const std::string& name : names) {
            const char* n = name.c_str();
            if (black) {
                if (insert || !lists->IsBlack(n)) lists->AddBlack(n);
                if (insert || lists->IsWhite(n)) lists->DelWhite(n);
                CloseAndMarkBlack(n);
            } else {
                if (insert || !lists->IsWhite(n)) lists->AddWhite(n);
                if (insert || lists->IsBlack(n)) lists->DelBlack(n);
                ClearBlackMark(n);
            }
        }
    }
    return "";
}

}  // namespace

std::string RequestProcess_CommonMsgById(int msgId, const std::string& dataText)
{
    switch (msgId) {
    case MSG_ID_QUERY:
        return RequestProcess_Query_BWList();
    case MSG_ID_UPDATE:
        return RequestProcess_Update_BWList(dataText);
    case MSG_ID_INSERT:
        return RequestProcess_Insert_BWList(dataText);
    default:
        return "";
    }
}

std::string RequestProcess_Query_BWList()
{
    StationListDb* lists = GetStationListDb();
    Json::Value data(Json::objectValue);
    data["blacklist"] = NamesOrNull(lists->Blacklist());
    data["whitelist"] = NamesOrNull(lists->Whitelist());
    Json::Value answer(Json::objectValue);
    answer["MsgId"] = MSG_ID_QUERY;
    answer["MsgData"] = data;
    return answer.toStyledString();
}

std::string RequestProcess_Update_BWList(const std::string& dataText)
{
    return ChangeLists(dataText, false, "RequestProcess_Update_BWList");
}

std::string RequestProcess_Insert_BWList(const std::string& dataText)
{
    return ChangeLists(dataText, true, "RequestProcess_Insert_BWList");
}
