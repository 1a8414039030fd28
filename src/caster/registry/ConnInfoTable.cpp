#include "caster/registry/ConnInfoTable.h"

#include "net/NHServer.h"
#include "runtime/FixedText.h"

#include <new>

ConnInfo ConnInfo_Figures(const ConnInfo& record)
{
    ConnInfo copy = record;
    copy.traffic = nullptr;
    if (!record.traffic) return copy;
    ConnTrafficFigures figures = ConnTraffic_Read(record.traffic);
    if (!figures.counting) return copy;
    copy.bytesSent = figures.bytesSent;
    copy.outputRate = figures.outputRate;
    copy.lastActivity = figures.lastWriteS;
    copy.lastActivityMs = figures.lastWriteMs;
    return copy;
}

ConnInfoTable* ConnInfoTable::Create() { return new (std::nothrow) ConnInfoTable(); }

ConnInfoTable::~ConnInfoTable()
{
    registry_.ForEach([](ConnInfo* record) {
        ConnTraffic_Release(record->traffic);
        record->traffic = nullptr;
    });
}

bool ConnInfoTable::Add(const ConnInfo* record)
{
    if (record == nullptr) return false;
    ConnInfo copy = *record;
    FixedText_Terminate(copy.ip);
    return registry_.Add(copy);
}

bool ConnInfoTable::Remove(uint64_t channelID)
{
    ConnInfo* record = registry_.Find(channelID);
    if (!record) return false;
    ConnTraffic_Release(record->traffic);
    record->traffic = nullptr;
    return registry_.Remove(channelID);
}

ConnInfo* ConnInfoTable::Find(uint64_t channelID) { return registry_.Find(channelID); }

bool ConnInfoTable::Contains(uint64_t channelID) { return registry_.Find(channelID) != nullptr; }

int ConnInfoTable::Count() { return registry_.Count(); }
