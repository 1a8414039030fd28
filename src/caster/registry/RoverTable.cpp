#include "caster/registry/RoverTable.h"

#include "caster/registry/VirtualMount.h"
#include "runtime/FixedText.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <new>

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
    if (!registry_.Add(copy)) return false;
    Index(registry_.Find(copy.channelID));
    return true;
}

bool RoverTable::Remove(uint64_t channelID)
{
    RoverRecord* stored = registry_.Find(channelID);
    if (stored == nullptr) return false;
    Unindex(stored);
    return registry_.Remove(channelID);
}

void RoverTable::Index(RoverRecord* r)
{
    byName_.emplace(r->userName, r);
    byKey_.emplace(r->userKey, r);
}

void RoverTable::Unindex(RoverRecord* r)
{
    Erase(&byName_, r->userName, r);
    Erase(&byKey_, r->userKey, r);
}

int RoverTable::CountIndexed(const std::unordered_multimap<std::string, RoverRecord*>& index, const char* name,
                             RoverRecord** last)
{
    int n = 0;
    auto range = index.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        // The name as stored now: the index is only a guide to the records.
        if (strcmp(it->second->userName, name) != 0) continue;
        ++n;
        if (last) *last = it->second;
    }
    return n;
}

void RoverTable::Erase(std::unordered_multimap<std::string, RoverRecord*>* index, const char* key, RoverRecord* r)
{
    auto range = index->equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == r) {
            index->erase(it);
            return;
        }
    }
    // Renamed in place behind the table's back: find it by its record, so
    // no entry is left pointing at a record that is about to be freed.
    for (auto it = index->begin(); it != index->end(); ++it) {
        if (it->second == r) {
            index->erase(it);
            return;
        }
    }
}

RoverRecord* RoverTable::Find(uint64_t channelID) { return registry_.Find(channelID); }

bool RoverTable::Contains(uint64_t channelID) { return registry_.Find(channelID) != nullptr; }

RoverRecord* RoverTable::FindByName(const char* userName)
{
    if (userName == nullptr) return nullptr;
    RoverRecord* only = nullptr;
    int matches = CountIndexed(byName_, userName, &only);
    if (matches <= 1) return only;
    RoverRecord* found = nullptr;
    registry_.ForEach([&](RoverRecord* r) {
        if (found == nullptr && strcmp(r->userName, userName) == 0) found = r;
    });
    return found;
}

RoverRecord* RoverTable::FindByText(const char* userKey)
{
    if (userKey == nullptr) return nullptr;
    auto range = byKey_.equal_range(userKey);
    RoverRecord* latest = nullptr;
    int atGreatest = 0;
    for (auto it = range.first; it != range.second; ++it) {
        RoverRecord* r = it->second;
        if (latest == nullptr || r->loginNumber > latest->loginNumber) {
            latest = r;
            atGreatest = 1;
        } else if (r->loginNumber == latest->loginNumber) {
            ++atGreatest;
        }
    }
    if (atGreatest <= 1) return latest;
    // Equal numbers: the first in bucket order, as the walk meets them.
    latest = nullptr;
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
        Erase(&byName_, latest->userName, latest);
        memmove(latest->userName, record->userName, sizeof latest->userName);
        FixedText_Terminate(latest->userName);
        byName_.emplace(latest->userName, latest);
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
    return CountIndexed(byName_, userName, nullptr);
}

int RoverTable::Count() { return registry_.Count(); }

RoverListItem* RoverTable::First() { return registry_.First(); }

RoverListItem* RoverTable::Next(RoverListItem* item) { return registry_.Next(item); }

