#include "caster/registry/RoverTable.h"

#include "caster/registry/VirtualMount.h"
#include "runtime/FixedText.h"
#include "runtime/Lock.h"

#include <atomic>
#include <cstring>
#include <new>

static ::Lock& RoverLock()
{
    static ::Lock lock;
    return lock;
}

// Sequence numbers of rover records, shared by every table: first record 1.
static std::atomic<uint32_t> g_roverSequence{0};

static void TerminateTexts(RoverRecord* r)
{
    FixedText_Terminate(r->userName);
    FixedText_Terminate(r->password);
    FixedText_Terminate(r->mountPoint);
    FixedText_Terminate(r->loginTimeText);
    FixedText_Terminate(r->ip);
    FixedText_Terminate(r->boundBaseName);
    FixedText_Terminate(r->userKey);
}

RoverTable* RoverTable::Create() { return new (std::nothrow) RoverTable(); }

bool RoverTable::Add(RoverRecord* record)
{
    if (record == nullptr) return false;
    record->sequence = g_roverSequence.fetch_add(1) + 1;
    RoverRecord copy = *record;
    TerminateTexts(&copy);
    return registry_.Add(copy);
}

bool RoverTable::Remove(uint64_t channelID) { return registry_.Remove(channelID); }

RoverRecord* RoverTable::Find(uint64_t channelID) { return registry_.Find(channelID); }

bool RoverTable::Contains(uint64_t channelID) { return registry_.Find(channelID) != nullptr; }

RoverRecord* RoverTable::FindByName(const char* userName)
{
    if (userName == nullptr) return nullptr;
    RoverRecord* found = nullptr;
    registry_.ForEach([&](RoverRecord* r) {
        if (found == nullptr && strcmp(r->userName, userName) == 0) found = r;
    });
    return found;
}

RoverRecord* RoverTable::FindByText(const char* userKey)
{
    if (userKey == nullptr) return nullptr;
    RoverRecord* latest = nullptr;
    registry_.ForEach([&](RoverRecord* r) {
        if (strcmp(r->userKey, userKey) != 0) return;
        if (latest == nullptr || r->loginNumber > latest->loginNumber) latest = r;
    });
    return latest;
}

bool RoverTable::UpdateRecord(const RoverRecord* record)
{
    if (record == nullptr) return false;
    RoverRecord* latest = FindByText(record->userKey);
    if (latest == nullptr) return false;
    if (latest != record) {
        memmove(latest->userName, record->userName, sizeof latest->userName);
        FixedText_Terminate(latest->userName);
        latest->loginNumber = record->loginNumber;
    }
    return true;
}

// Whether the rover is served by the base of mount: a virtual-mount rover by
// the base it was bound to, any other by the mount it asked for.
static bool ServedBy(const RoverRecord* r, const char* mount)
{
    const char* served = VirtualMount_HasPrefix(r->mountPoint) ? r->boundBaseName : r->mountPoint;
    return strcmp(served, mount) == 0;
}

int RoverTable::CountUserOnMount(const char* mount, const char* userName)
{
    if (mount == nullptr || userName == nullptr) return 0;
    int n = 0;
    registry_.ForEach([&](RoverRecord* r) {
        if (strcmp(r->userName, userName) == 0 && ServedBy(r, mount)) ++n;
    });
    return n;
}

int RoverTable::CountOnBase(const char* mount)
{
    if (mount == nullptr) return 0;
    int n = 0;
    registry_.ForEach([&](RoverRecord* r) {
        if (ServedBy(r, mount)) ++n;
    });
    return n;
}

int RoverTable::CountByUser(const char* userName)
{
    if (userName == nullptr) return 0;
    int n = 0;
    for (RoverListItem* item = registry_.First(); item != nullptr; item = registry_.Next(item)) {
        if (strcmp(item->record->userName, userName) == 0) ++n;
    }
    return n;
}

int RoverTable::Count() { return registry_.Count(); }

RoverListItem* RoverTable::First() { return registry_.First(); }

RoverListItem* RoverTable::Next(RoverListItem* item) { return registry_.Next(item); }

void RoverTable::Lock() { RoverLock().Enter(); }

void RoverTable::Unlock() { RoverLock().Leave(); }
