#include "caster/registry/RoverUserTable.h"

#include "platform/LocalTime.h"
#include "runtime/FixedText.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"
#include "runtime/LogText.h"
#include "store/UserTimeText.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

static ::Lock& RoverUserLock()
{
    static ::Lock lock;
    return lock;
}

static RoverUser Terminated(const RoverUser* user)
{
    RoverUser copy = *user;
    FixedText_Terminate(copy.name);
    FixedText_Terminate(copy.password);
    FixedText_Terminate(copy.expiredatetime);
    FixedText_Terminate(copy.firstonlinetime);
    return copy;
}

void RoverUser_FromUserRecord(const UserRecord* row, RoverUser* out)
{
    if (out == nullptr) return;
    memset(out, 0, sizeof *out);
    if (row == nullptr) return;
    out->id = static_cast<uint32_t>(row->id);
    FixedText_Copy(out->name, sizeof out->name, row->name);
    FixedText_Copy(out->password, sizeof out->password, row->password);
    FixedText_Copy(out->expiredatetime, sizeof out->expiredatetime, row->expiredatetime);
    out->activation = row->activation;
    out->activationperiod = row->activationperiod;
    FixedText_Copy(out->firstonlinetime, sizeof out->firstonlinetime, row->firstonlinetime);
}

RoverUserTable* RoverUserTable::Create(RoverUserFirstLoginWriter writer)
{
    return new (std::nothrow) RoverUserTable(writer);
}

bool RoverUserTable::Insert(const RoverUser* user)
{
    if (user == nullptr) return false;
    ScopedLock guard(RoverUserLock());
    return users_.Put(Terminated(user));
}

bool RoverUserTable::Upsert(const RoverUser* user)
{
    if (user == nullptr) return false;
    RoverUser copy = Terminated(user);
    ScopedLock guard(RoverUserLock());
    users_.PutReplacingName(copy);
    return true;
}

bool RoverUserTable::Remove(const RoverUser* user)
{
    if (user == nullptr) return false;
    RemoveById(user->id);
    return true;
}

bool RoverUserTable::RemoveById(uint32_t id)
{
    ScopedLock guard(RoverUserLock());
    return users_.Erase(id);
}

bool RoverUserTable::Verify(const char* name, const char* password, int* error)
{
    int code = ROVER_USER_NO_SUCH_USER;
    bool ok = false;
    if (password == nullptr) {
        code = ROVER_USER_BAD_PASSWORD;
    } else if (name != nullptr) {
        ScopedLock guard(RoverUserLock());
        const RoverUser* first = nullptr;
        users_.ForEach([&](const RoverUser* r) {
            if (ok || strcmp(r->name, name) != 0) return;
            if (first == nullptr) first = r;
            if (strcmp(r->password, password) == 0) ok = true;
        });
        if (!ok && first != nullptr) code = ROVER_USER_BAD_PASSWORD;
    }
    if (!ok && error != nullptr) *error = code;
    return ok;
}

bool RoverUserTable::Modify(const RoverUser* user)
{
    if (user == nullptr) return false;
    RoverUser copy = Terminated(user);
    ScopedLock guard(RoverUserLock());
    RoverUser* stored = users_.Find(copy.id);
    if (stored == nullptr) return false;
    if (strcmp(stored->password, copy.password) != 0) {
        *stored = copy;
        return true;
    }
    if (strcmp(stored->expiredatetime, copy.expiredatetime) != 0) {
        *stored = copy;
        stored->activation = 0;
        return true;
    }
    return false;
}

// Reads an account's date text as local time. False when the text is not a
// date with every field in range: such an account is never taken as valid.
static bool ParseUserTime(const char* text, time_t* out)
{
    UserTime fields;
    if (!UserTime_Parse(text, &fields)) return false;
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = fields.year - 1900;
    t.tm_mon = fields.month - 1;
    t.tm_mday = fields.day;
    t.tm_hour = fields.hour;
    t.tm_min = fields.minute;
    t.tm_sec = fields.second;
    t.tm_isdst = -1;
    *out = mktime(&t);
    return *out != static_cast<time_t>(-1);
}

static time_t LocalNow(PlatformLocalTime* now)
{
    Platform_GetLocalTime(now);
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = now->year - 1900;
    t.tm_mon = now->month - 1;
    t.tm_mday = now->day;
    t.tm_hour = now->hour;
    t.tm_min = now->minute;
    t.tm_sec = now->second;
    t.tm_isdst = -1;
    return mktime(&t);
}

bool RoverUserTable::IsValid(const char* name)
{
    UserRecord firstLogin;
    if (!IsValid(name, &firstLogin)) return false;
    if (firstLogin.id != 0) StoreFirstLogin(&firstLogin);
    return true;
}

void RoverUserTable::StoreFirstLogin(const UserRecord* row)
{
    if (row == nullptr || row->id == 0) return;
    if (writer_ == nullptr) {
        Log_Warn("RoverUserTable::IsValid:first login of id %d not stored, no user store", row->id);
        return;
    }
    int result = writer_(row);
    if (result != 1) Log_Warn("RoverUserTable::IsValid:first login of id %d not stored, result %d", row->id, result);
}

bool RoverUserTable::IsValid(const char* name, UserRecord* deferred)
{
    if (deferred != nullptr) memset(deferred, 0, sizeof *deferred);
    if (name == nullptr) return false;
    ScopedLock guard(RoverUserLock());
    PlatformLocalTime nowFields;
    const time_t now = LocalNow(&nowFields);
    RoverUser* firstLogin = nullptr;
    bool valid = false;
    users_.ForEach([&](RoverUser* r) {
        if (valid || firstLogin != nullptr || strcmp(r->name, name) != 0) return;
        if (r->activation == 1 && r->firstonlinetime[0] == '\0') {
            // A period that no date arithmetic can hold is refused, not started.
            if (!UserPeriod_IsValid(r->activationperiod)) return;
            firstLogin = r;
            return;
        }
        time_t at = 0;
        const int64_t period = static_cast<int64_t>(r->activationperiod) * 86400;
        if (r->activation == 1 && UserPeriod_IsValid(r->activationperiod) &&
            ParseUserTime(r->firstonlinetime, &at) && static_cast<int64_t>(at) + period > static_cast<int64_t>(now)) {
            valid = true;
            return;
        }
        if (ParseUserTime(r->expiredatetime, &at) && at > now) valid = true;
    });
    if (valid) return true;
    if (firstLogin == nullptr) return false;

    // First login of an activation account: its life starts now and ends at
    // the midnight activationperiod days on.
    snprintf(firstLogin->firstonlinetime, sizeof firstLogin->firstonlinetime, "%d/%d/%d %d:%d:%d",
             nowFields.year, nowFields.month, nowFields.day, nowFields.hour, nowFields.minute,
             nowFields.second);
    struct tm end;
    memset(&end, 0, sizeof end);
    end.tm_year = nowFields.year - 1900;
    end.tm_mon = nowFields.month - 1;
    end.tm_mday = nowFields.day + firstLogin->activationperiod;
    end.tm_hour = 12;  // away from midnight, so a daylight-saving shift cannot change the date
    end.tm_isdst = -1;
    mktime(&end);
    snprintf(firstLogin->expiredatetime, sizeof firstLogin->expiredatetime, "%d/%d/%d %02d:%02d:%02d",
             end.tm_year + 1900, end.tm_mon + 1, end.tm_mday, 0, 0, 0);

    if (deferred == nullptr) return true;
    deferred->id = static_cast<int32_t>(firstLogin->id);
    FixedText_Copy(deferred->expiredatetime, sizeof deferred->expiredatetime, firstLogin->expiredatetime);
    FixedText_Copy(deferred->firstonlinetime, sizeof deferred->firstonlinetime, firstLogin->firstonlinetime);
    return true;
}

int RoverUserTable::LoadRows(const UserRecordNode* rows)
{
    int n = 0;
    for (const UserRecordNode* node = rows; node != nullptr; node = node->next) {
        if (node->record.type != USER_TYPE_ROVER) continue;
        RoverUser user;
        RoverUser_FromUserRecord(&node->record, &user);
        if (Insert(&user)) ++n;
    }
    return n;
}

bool RoverUserTable::Get(uint32_t id, RoverUser* out)
{
    ScopedLock guard(RoverUserLock());
    return users_.CopyOut(id, out);
}

int RoverUserTable::Count()
{
    ScopedLock guard(RoverUserLock());
    return users_.Count();
}
