// The two user routes: "/xqn_user/get" reads the user store, "/xqn_user/add"
// writes it and puts the new account into the caster's user table of its
// type, so it can log in at once. Operator accounts (type 1) are never shown
// and never made here: the port has no authentication of its own.
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseUserTable.h"
#include "caster/registry/RoverUserTable.h"
#include "runtime/Log.h"
#include "services/HttpInspectorRequest.h"
#include "services/HttpInspectorRoutes.h"
#include "store/UserDb.h"

#include <set>
#include <string>

namespace {

bool Shown(const UserRecord& user) { return user.type != USER_TYPE_OPERATOR; }

// Puts the stored account (read back for its id) into the user table of its
// type; the texts are the request's, as stored.
void LoadIntoUserTable(const UserRecord& added)
{
    UserRecordNode* rows = nullptr;
    if (UserDb_SelectByTypeName(added.type, added.name, &rows) != 1 || !rows) {
        Log_Warn("%s:stored user not read back", "UserAddCb");
        FreeUserList(rows);
        return;
    }
    UserRecord user = added;
    user.id = rows->record.id;
    FreeUserList(rows);
    if (user.type == USER_TYPE_ROVER) {
        RoverUser rover;
        RoverUser_FromUserRecord(&user, &rover);
        GetRoverUserTable()->Upsert(&rover);
    } else if (user.type == USER_TYPE_BASE) {
        BaseUser base;
        BaseUser_FromUserRecord(&user, &base);
        GetBaseUserTable()->Upsert(&base);
    }
}

}  // namespace

void UserAddCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "UserAddCb")) return;
    const Json::Value none(Json::arrayValue);
    UserRecord user;
    const char* message = nullptr;
    const char* reason = nullptr;
    if (HttpInspector_UserToAdd(root, &user, &message, &reason) != INSPECTOR_STATUS_OK) {
        HttpInspector_LogRefused(request, "UserAddCb", reason);
        HttpReplyJson(request, INSPECTOR_STATUS_FAILED, message, none);
        return;
    }
    int result = UserDb_Insert(&user);
    if (result == 1) {
        // Before the answer, so a client told "added" can log in at once.
        LoadIntoUserTable(user);
        Log_Info("%s:user %s of type %d added", "UserAddCb", user.name, user.type);
        HttpReplyJson(request, INSPECTOR_STATUS_OK, INSPECTOR_MSG_ADDED, none);
    } else if (result == -2) {
        HttpReplyJson(request, INSPECTOR_STATUS_ABSENT, INSPECTOR_MSG_EXISTS, none);
    } else {
        HttpReplyJson(request, INSPECTOR_STATUS_FAILED, INSPECTOR_MSG_ADD_FAILED, none);
    }
}

void UserGetCb(struct evhttp_request* request, void*)
{
    Json::Value root;
    if (!HttpInspector_ReadRequest(request, &root, "UserGetCb")) return;
    std::set<std::string> names;
    if (!HttpInspector_CollectTexts(root, "UserName", true, &names)) {
        HttpInspector_ReplyMalformed(request, "UserGetCb", "data is not a list of user objects");
        return;
    }
    Json::Value data(Json::arrayValue);
    if (!names.empty()) {
        for (const std::string& name : names) {
            UserRecord user = {};
            if (UserDb_SelectByName(name.c_str(), &user) == 1 && Shown(user)) {
                data.append(HttpInspector_UserObject(user));
            }
        }
    } else {
        UserRecordNode* list = nullptr;
        if (UserDb_SelectAllButAdmin(&list) == 1) {
            for (const UserRecordNode* node = list; node; node = node->next) {
                if (Shown(node->record)) data.append(HttpInspector_UserObject(node->record));
            }
        }
        FreeUserList(list);
    }
    if (data.empty()) {
        HttpReplyJson(request, INSPECTOR_STATUS_ABSENT, INSPECTOR_MSG_NO_SUCH_USER, Json::Value(Json::arrayValue));
    } else {
        HttpReplyJson(request, INSPECTOR_STATUS_OK, INSPECTOR_MSG_FOUND, data);
    }
}
