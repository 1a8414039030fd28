#include "control/PppRaTable.h"

#include "platform/SteadyClock.h"
#include "runtime/Lock.h"
#include "runtime/Log.h"

#include <cstring>
#include <new>

namespace {

::Lock& PppRaLock()
{
    static ::Lock lock;
    return lock;
}

// The stored form of a record: the id list is always empty.
PppRaRecord Stored(const PppRaRecord& record)
{
    PppRaRecord copy = record;
    memset(copy.ids, 0, sizeof(copy.ids));
    copy.idCount = 0;
    copy.text[PPPRA_TEXT_SIZE - 1] = '\0';
    copy.stationIp[PPPRA_IP_SIZE - 1] = '\0';
    copy.externalIp[PPPRA_IP_SIZE - 1] = '\0';
    copy.sourceList[PPPRA_SOURCE_LIST_SIZE - 1] = '\0';
    return copy;
}

}  // namespace

PppRaTable* PppRaTable::Create() { return new (std::nothrow) PppRaTable(); }

PppRaTable::~PppRaTable()
{
    hash_.Clear([](PppRaNode* node) { delete node; });
}

void PppRaTable::Lock() { PppRaLock().Enter(); }
void PppRaTable::Unlock() { PppRaLock().Leave(); }

bool PppRaTable::Insert(PppRaNode* node) { return hash_.Insert(node); }

bool PppRaTable::Upsert(const PppRaRecord* record)
{
    if (!record) return false;
    uint32_t key = static_cast<uint32_t>(record->stationId);
    if (PppRaNode* node = hash_.Find(key)) {
        node->record = Stored(*record);
        return true;
    }
    if (hash_.Count() >= uint32_t(PPPRA_MAX_STATIONS)) {
        NoteRefused(record->stationId);
        return false;
    }
    PppRaNode* node = new (std::nothrow) PppRaNode;
    if (!node) return false;
    node->next = nullptr;
    node->key = key;
    node->record = Stored(*record);
    if (!Insert(node)) {
        delete node;
        return false;
    }
    return true;
}

void PppRaTable::NoteRefused(int32_t stationId)
{
    ++refusedSinceLog_;
    int64_t now = Platform_SteadyNowMs();
    if (refusalLogMs_ != 0 && now - refusalLogMs_ < PPPRA_REFUSAL_LOG_MS) return;
    Log_Warn("%s:%d stations held, the cap; report of new station %d not stored (%u refused since the last line)",
             "PppRaTable::Upsert", static_cast<int>(PPPRA_MAX_STATIONS), static_cast<int>(stationId),
             refusedSinceLog_);
    refusalLogMs_ = now;
    refusedSinceLog_ = 0;
}

bool PppRaTable::Update(const PppRaRecord* record)
{
    if (!record || !hash_.HasBuckets()) return false;
    PppRaNode* node = hash_.Find(static_cast<uint32_t>(record->stationId));
    if (!node) return false;
    node->record = Stored(*record);
    return true;
}

std::unique_ptr<PppRaRecord> PppRaTable::Remove(int32_t stationId)
{
    uint32_t key = static_cast<uint32_t>(stationId);
    PppRaNode* found = hash_.Find(key);
    if (!found) return nullptr;
    // The copy first: without memory the record stays rather than vanish unreported.
    std::unique_ptr<PppRaRecord> record(new (std::nothrow) PppRaRecord(found->record));
    if (!record) return nullptr;
    delete hash_.Remove(key);
    return record;
}

PppRaRecord* PppRaTable::Find(int32_t stationId)
{
    PppRaNode* node = hash_.Find(static_cast<uint32_t>(stationId));
    return node ? &node->record : nullptr;
}

int PppRaTable::Count() const { return static_cast<int>(hash_.Count()); }
