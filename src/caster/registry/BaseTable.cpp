#include "caster/registry/BaseTable.h"

#include "runtime/FixedText.h"
#include "runtime/GreatCircle.h"

#include <atomic>
#include <cstring>
#include <new>


// Sequence numbers of base records, shared by every table: first record 1.
static std::atomic<uint32_t> g_baseSequence{0};

// The one result area of the name searches, guarded by the base lock.
static char g_nameArea[BASE_NAME_LIST_MAX][BASE_MOUNT_SIZE];
static char* g_namePointers[BASE_NAME_LIST_MAX];

static void TerminateTexts(BaseRecord* r)
{
    FixedText_Terminate(r->mountPoint);
    FixedText_Terminate(r->format);
    FixedText_Terminate(r->loginTimeText);
    FixedText_Terminate(r->ip);
}

BaseTable* BaseTable::Create()
{
    BaseTable* table = new (std::nothrow) BaseTable();
    if (table == nullptr) return nullptr;
    Guard guard;
    if (g_namePointers[0] == nullptr) {
        for (int i = 0; i < BASE_NAME_LIST_MAX; ++i) g_namePointers[i] = g_nameArea[i];
    }
    return table;
}

bool BaseTable::Add(BaseRecord* record)
{
    if (record == nullptr) return false;
    record->sequence = g_baseSequence.fetch_add(1) + 1;
    BaseRecord copy = *record;
    TerminateTexts(&copy);
    if (!registry_.Add(copy)) return false;
    BaseRecord* stored = registry_.Find(copy.channelID);
    byName_.emplace(stored->mountPoint, stored);
    return true;
}

bool BaseTable::Remove(uint64_t channelID)
{
    BaseRecord* stored = registry_.Find(channelID);
    if (stored == nullptr) return false;
    auto range = byName_.equal_range(stored->mountPoint);
    auto at = byName_.end();
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == stored) at = it;
    }
    // Renamed in place behind the table's back: found by its record, so no
    // entry is left pointing at a freed record.
    for (auto it = byName_.begin(); at == byName_.end() && it != byName_.end(); ++it) {
        if (it->second == stored) at = it;
    }
    if (at != byName_.end()) byName_.erase(at);
    return registry_.Remove(channelID);
}

BaseRecord* BaseTable::Find(uint64_t channelID) { return registry_.Find(channelID); }

bool BaseTable::Contains(uint64_t channelID) { return registry_.Find(channelID) != nullptr; }

bool BaseTable::ChangeId(BaseRecord* record, uint64_t newChannelID)
{
    if (record == nullptr) return false;
    if (!registry_.Rekey(record->channelID, newChannelID)) return false;
    record->channelID = newChannelID;
    return true;
}

BaseRecord* BaseTable::FindByName(const char* name)
{
    if (name == nullptr) return nullptr;
    auto range = byName_.equal_range(name);
    BaseRecord* only = nullptr;
    int matches = 0;
    for (auto it = range.first; it != range.second; ++it) {
        // The name as stored now: the index is only a guide to the records.
        if (strcmp(it->second->mountPoint, name) != 0) continue;
        only = it->second;
        ++matches;
    }
    if (matches <= 1) return only;
    BaseRecord* found = nullptr;
    registry_.ForEach([&](BaseRecord* r) {
        if (found == nullptr && strcmp(r->mountPoint, name) == 0) found = r;
    });
    return found;
}

// Copies the mount points of the online records that pass keep() into the
// shared area.
template <typename Keep>
static BaseNameList CollectNames(ChannelRegistry<BaseRecord>& registry, Keep keep)
{
    BaseNameList list{0, g_namePointers, 0};
    registry.ForEach([&](BaseRecord* r) {
        if (list.count >= BASE_NAME_LIST_MAX) return;
        if (r->state != BASE_STATE_ONLINE || !keep(r)) return;
        // The whole mount point fits the slot: a name cut short would be
        // listed under a mount no base serves.
        FixedText_Copy(g_nameArea[list.count], BASE_MOUNT_SIZE, r->mountPoint);
        ++list.count;
    });
    list.found = list.count > 0 ? 1 : 0;
    return list;
}

BaseNameList BaseTable::OnlineNames()
{
    return CollectNames(registry_, [](const BaseRecord*) { return true; });
}

BaseNameList BaseTable::NamesWithinRadius(double latitude, double longitude, double radiusMetres)
{
    return CollectNames(registry_, [&](const BaseRecord* r) {
        return GreatCircleDistance(latitude, longitude, r->latitude, r->longitude) <= radiusMetres;
    });
}

BaseRecord* BaseTable::Nearest(double latitude, double longitude, double* distance)
{
    double best = BASE_NO_DISTANCE;
    BaseRecord* nearest = nullptr;
    registry_.ForEach([&](BaseRecord* r) {
        if (r->state != BASE_STATE_ONLINE) return;
        double d = GreatCircleDistance(latitude, longitude, r->latitude, r->longitude);
        if (d <= best) {
            best = d;
            nearest = r;
        }
    });
    if (distance != nullptr) *distance = best;
    return best == BASE_NO_DISTANCE ? nullptr : nearest;
}

int BaseTable::Count() { return registry_.Count(); }

int BaseTable::CountOnline()
{
    int n = 0;
    registry_.ForEach([&](BaseRecord* r) {
        if (r->state == BASE_STATE_ONLINE && r->channelID > 0) ++n;
    });
    return n;
}

int BaseTable::CountNameContains(const char* text)
{
    if (text == nullptr) return 0;
    int n = 0;
    for (BaseListItem* item = registry_.First(); item != nullptr; item = registry_.Next(item)) {
        if (strstr(item->record->mountPoint, text) != nullptr) ++n;
    }
    return n;
}

BaseListItem* BaseTable::First() { return registry_.First(); }

BaseListItem* BaseTable::Next(BaseListItem* item) { return registry_.Next(item); }

