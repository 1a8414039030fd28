// The answer to a "GET /" on the caster port: the source table of the
// online bases, or of those near the requester when it sent "Ntrip-GGA:".
#pragma once

#include "decoding/NtripDecoding/NtripLog.h"

#include <cstdint>

class RelayAccountList;
struct CommonDataChain;

namespace Ntrip {

// Radius around the requester's position within which bases are listed.
static const double SOURCE_TABLE_RADIUS_M = 100000.0;

// Runs on a login worker. Sends the table and closes the connection once
// the table has reached the peer, however large it is. With relay mounts
// configured the table lists them, and no base.
void SendSourceTable(const NtripDecoding::NtripGetSourceListRequest* request, uint64_t channelID);

// The table of the pool's relay mounts, in sorted order, with the server
// line "XQN+Vorlane/2023" and a dashed date; owned by the caller.
CommonDataChain* BuildRelaySourceTable(RelayAccountList* pool);

}  // namespace Ntrip
