#include "caster/registry/ConnInfoTable.h"

#include "runtime/FixedText.h"

#include <new>

ConnInfoTable* ConnInfoTable::Create() { return new (std::nothrow) ConnInfoTable(); }

bool ConnInfoTable::Add(const ConnInfo* record)
{
    if (record == nullptr) return false;
    ConnInfo copy = *record;
    FixedText_Terminate(copy.ip);
    return registry_.Add(copy);
}

bool ConnInfoTable::Remove(uint64_t channelID) { return registry_.Remove(channelID); }

ConnInfo* ConnInfoTable::Find(uint64_t channelID) { return registry_.Find(channelID); }

bool ConnInfoTable::Contains(uint64_t channelID) { return registry_.Find(channelID) != nullptr; }

int ConnInfoTable::Count() { return registry_.Count(); }
