#include "caster/session/SourceTableAnswer.h"

#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/relay/RelayAccountList.h"
#include "caster/session/ConnectionClosing.h"
#include "decoding/NEMADecoding/GgaDecode.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "decoding/NtripDecoding/SourceTable.h"
#include "net/NHServer.h"
#include "runtime/Log.h"
#include "runtime/TimeText.h"

#include <cstdio>
#include <cstring>
#include <memory>
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

CommonDataChain* BuildRelaySourceTable(RelayAccountList* pool)
{
    char date[32];
    GetTimeString(date, sizeof(date));

    std::unique_ptr<char[][RELAY_NAME_SIZE]> names;
    std::vector<const char*> pointers;
    int capacity = pool ? pool->MountNameCount() : 0;
    if (capacity > 0) {
        // Sized from the pool itself, so every name has its buffer.
        names.reset(new char[capacity][RELAY_NAME_SIZE]());
        int count = 0;
        if (pool->ListMountNames(names.get(), capacity, &count) == 0) {
            for (int i = 0; i < count && i < capacity; ++i) pointers.push_back(names[i]);
        }
    }
    return NtripDecoding::MakeSourceTableAs("XQN+Vorlane", "2023", date, pointers.data(),
                                            static_cast<int>(pointers.size()), false);
}

void SendSourceTable(const NtripDecoding::NtripGetSourceListRequest* request, uint64_t channelID)
{
    NHServer* server = GetNetServer();
    // With relay mounts configured the table lists them instead.
    RelayAccountList* pool = GetRelayAccountList();
    bool relayTable = pool && pool->MountNameCount() > 0;

    // The requester's position, decoded before the base lock is taken.
    std::unique_ptr<Tarnek::LogRoot> unit;
    const NEMADecoding::NEMA_GPGGA* position = nullptr;
    size_t ggaLength = relayTable ? 0 : strnlen(request->gga, sizeof(request->gga));
    if (ggaLength > 0) {
        Tarnek::LogRoot* decoded = nullptr;
        size_t consumed = 0;
        if (NEMADecoding::GgaDecode(reinterpret_cast<const unsigned char*>(request->gga), ggaLength, &decoded,
                                    &consumed)) {
            unit.reset(decoded);
            position = dynamic_cast<const NEMADecoding::NEMA_GPGGA*>(decoded);
        } else {
            delete decoded;
        }
    }

    // Only the names are taken under the lock; the table is built after it,
    // since its build reads the configuration file.
    std::vector<std::string> names;
    {
        BaseTable::Guard guard;
        BaseTable* bases = GetBaseTable();
        names = CopyNames(bases->OnlineNames());
        if (position) {
            std::vector<std::string> near =
                CopyNames(bases->NamesWithinRadius(position->latitude, position->longitude, SOURCE_TABLE_RADIUS_M));
            if (!near.empty()) names.swap(near);
        }
    }
    if (names.empty()) {
        Log_Info("Get sourcelist failed:find mountpoint error, channelID:%lld.", static_cast<long long>(channelID));
    }

    std::vector<const char*> pointers;
    pointers.reserve(names.size());
    for (const std::string& name : names) pointers.push_back(name.c_str());
    CommonDataChain* table =
        relayTable ? BuildRelaySourceTable(pool)
                   : NtripDecoding::MakeSourceTable(pointers.empty() ? nullptr : pointers.data(),
                                                    static_cast<int>(pointers.size()));
    if (table) {
        NHServer_PostSendChain(server, channelID, table);
        CommonDataChain_Free(table);
    }
    // Queued after the table, and run only once the table has reached the
    // peer: a large table is never cut. The connection is closing from now
    // on: nothing it sent behind its request is taken as another one.
    ConnectionClosing_PostAfterFlush(channelID);
}

}  // namespace Ntrip
