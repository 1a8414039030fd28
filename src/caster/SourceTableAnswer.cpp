#include "caster/SourceTableAnswer.h"

#include "caster/BaseTable.h"
#include "caster/Vorlane.h"
#include "decoding/NEMADecoding/GgaDecode.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "decoding/NtripDecoding/SourceTable.h"
#include "net/NHServer.h"
#include "runtime/Log.h"

#include <cstring>
#include <string>
#include <vector>

namespace Ntrip {

namespace {

// The names of a search live in the registry's shared area, which the next
// search overwrites: keep a copy.
std::vector<std::string> CopyNames(const BaseNameList& list)
{
    std::vector<std::string> names;
    for (int i = 0; list.found && i < list.count; ++i) names.emplace_back(list.names[i]);
    return names;
}

}  // namespace

void SendSourceTable(const NtripDecoding::NtripGetSourceListRequest* request, uint64_t channelID)
{
    NHServer* server = GetNetServer();
    BaseTable::Lock();
    BaseTable* bases = GetBaseTable();
    std::vector<std::string> names = CopyNames(bases->OnlineNames());
    if (names.empty()) {
        Log_Info("Get sourcelist failed:find mountpoint error, channelID:%lld.", static_cast<long long>(channelID));
    }

    // With relay mounts configured the table lists them instead; that table
    // joins with the relay-account pool.
    size_t ggaLength = strnlen(request->gga, sizeof(request->gga));
    if (ggaLength > 0) {
        Tarnek::LogRoot* unit = nullptr;
        size_t consumed = 0;
        if (NEMADecoding::GgaDecode(reinterpret_cast<const unsigned char*>(request->gga), ggaLength, &unit,
                                    &consumed) &&
            unit) {
            NEMADecoding::NEMA_GPGGA* position = dynamic_cast<NEMADecoding::NEMA_GPGGA*>(unit);
            if (position) {
                std::vector<std::string> near = CopyNames(
                    bases->NamesWithinRadius(position->latitude, position->longitude, SOURCE_TABLE_RADIUS_M));
                if (!near.empty()) names.swap(near);
            }
        }
        delete unit;
    }

    std::vector<const char*> pointers;
    pointers.reserve(names.size());
    for (const std::string& name : names) pointers.push_back(name.c_str());
    CommonDataChain* table =
        NtripDecoding::MakeSourceTable(pointers.empty() ? nullptr : pointers.data(), static_cast<int>(pointers.size()));
    if (table) {
        NHServer_PostSendChain(server, channelID, table);
        CommonDataChain_Free(table);
    }
    BaseTable::Unlock();
    // Queued after the table, and run only once the table has reached the
    // peer: a large table is never cut.
    NHServer_PostCloseAfterFlush(server, channelID);
}

}  // namespace Ntrip
