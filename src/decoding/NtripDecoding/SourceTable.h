// The source table of the online bases, as the caster port sends it.
#pragma once

#include "runtime/CommonDataChain.h"

namespace NtripDecoding {

// A new chain owned by the caller: the table listing names[0 .. count-1],
// followed by "NEAREST" when the configuration's broadcast_nearest is 1.
CommonDataChain* MakeSourceTable(const char* const* names, int count);

// The same table with the decision on "NEAREST" already taken.
CommonDataChain* MakeSourceTableWith(const char* const* names, int count, bool listNearest);

// The same table with the server product, its version and the date line
// given by the caller, for callers that announce themselves differently.
CommonDataChain* MakeSourceTableAs(const char* product, const char* version, const char* date,
                                   const char* const* names, int count, bool listNearest);

}  // namespace NtripDecoding
