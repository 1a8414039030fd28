// The answer to a "GET /" on the caster port: the source table of the
// online bases, or of those near the requester when it sent "Ntrip-GGA:".
#pragma once

#include "decoding/NtripDecoding/NtripLog.h"

#include <cstdint>

namespace Ntrip {

// Radius around the requester's position within which bases are listed.
static const double SOURCE_TABLE_RADIUS_M = 100000.0;

// Runs on a login worker. Sends the table and closes the connection once
// the table has reached the peer, however large it is.
void SendSourceTable(const NtripDecoding::NtripGetSourceListRequest* request, uint64_t channelID);

}  // namespace Ntrip
