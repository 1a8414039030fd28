#include "caster/registry/BaseUserTable.h"

#include "runtime/FixedText.h"
#include "runtime/Lock.h"

#include <cstring>
#include <new>

static ::Lock& BaseUserLock()
{
    static ::Lock lock;
    return lock;
}

static BaseUser Terminated(const BaseUser* user)
{
    BaseUser copy = *user;
    FixedText_Terminate(copy.name);
    FixedText_Terminate(copy.password);
    return copy;
}

void BaseUser_FromUserRecord(const UserRecord* row, BaseUser* out)
{
    if (out == nullptr) return;
    memset(out, 0, sizeof *out);
    if (row == nullptr) return;
    out->id = static_cast<uint32_t>(row->id);
    FixedText_Copy(out->name, sizeof out->name, row->name);
    FixedText_Copy(out->password, sizeof out->password, row->password);
}

BaseUserTable* BaseUserTable::Create() { return new (std::nothrow) BaseUserTable(); }

bool BaseUserTable::Insert(const BaseUser* user)
{
    if (user == nullptr) return false;
    ScopedLock guard(BaseUserLock());
    return users_.Put(Terminated(user));
}

bool BaseUserTable::Upsert(const BaseUser* user)
{
    if (user == nullptr) return false;
    BaseUser copy = Terminated(user);
    ScopedLock guard(BaseUserLock());
    users_.PutReplacingName(copy);
    return true;
}

bool BaseUserTable::Verify(const char* name, const char* password)
{
    if (name == nullptr || password == nullptr) return false;
    ScopedLock guard(BaseUserLock());
    return users_.FindIf([&](const BaseUser* r) {
        return strcmp(r->name, name) == 0 && strcmp(r->password, password) == 0;
    }) != nullptr;
}

bool BaseUserTable::Modify(const BaseUser* user)
{
    if (user == nullptr) return false;
    BaseUser copy = Terminated(user);
    ScopedLock guard(BaseUserLock());
    BaseUser* stored = users_.Find(copy.id);
    if (stored == nullptr || strcmp(stored->password, copy.password) == 0) return false;
    *stored = copy;
    return true;
}

bool BaseUserTable::Remove(const BaseUser* user)
{
    if (user == nullptr) return false;
    RemoveById(user->id);
    return true;
}

bool BaseUserTable::RemoveById(uint32_t id)
{
    ScopedLock guard(BaseUserLock());
    return users_.Erase(id);
}

int BaseUserTable::LoadRows(const UserRecordNode* rows)
{
    int n = 0;
    for (const UserRecordNode* node = rows; node != nullptr; node = node->next) {
        if (node->record.type != USER_TYPE_BASE) continue;
        BaseUser user;
        BaseUser_FromUserRecord(&node->record, &user);
        if (Insert(&user)) ++n;
    }
    return n;
}

bool BaseUserTable::Get(uint32_t id, BaseUser* out)
{
    ScopedLock guard(BaseUserLock());
    return users_.CopyOut(id, out);
}

int BaseUserTable::Count()
{
    ScopedLock guard(BaseUserLock());
    return users_.Count();
}
