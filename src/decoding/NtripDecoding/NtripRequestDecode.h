// The login executor's decoder: the first bytes of a new caster connection
// become one login unit (base "SOURCE", rover "GET", source-table "GET /",
// or a rover's binary login frame).
#pragma once

#include "decoding/LogRoot.h"
#include "decoding/NtripDecoding/ByteSpan.h"
#include "decoding/NtripDecoding/NtripLog.h"

#include <cstddef>

namespace NtripDecoding {

// Bytes held while no request is complete; beyond that, the oldest whole
// lines are dropped that leave this many at most, or, without a line end in
// the newest NTRIP_HOLD_LIMIT, the oldest NTRIP_DROP_BYTES.
static const size_t NTRIP_HOLD_LIMIT = 2000;
static const size_t NTRIP_DROP_BYTES = 1000;

// Decodes one login request (decode contract). A header block that makes no
// request is consumed and yields nothing.
bool Ntrip1CasterDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed);

// The decode function of the caster's login executor: Ntrip1CasterDecode,
// except that a header block that makes no request comes out as an
// NtripUnknowLoginRequest, so that the caster can tell how many requests a
// connection sent that it did not understand.
bool NtripLoginDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed);

// "SOURCE <password> [/]<mount>" on the span's first line.
NtripServerLoginRequest* DecodeSourceRequest(ByteSpan span);

// "GET /<mount> ..." with its header lines, or "GET / ..." for the source
// table. The span is the header block from "GET" on.
NtripLog* DecodeGetRequest(ByteSpan span);

}  // namespace NtripDecoding
