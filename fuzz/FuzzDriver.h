// Shared by the decoder fuzz targets: drives a decode function the way the
// decode executors do (bytes appended to a queue, decoded until nothing is
// consumed, consumed bytes dropped) and checks the decode contract on every
// call. Any breach traps, so libFuzzer reports it as a crash.
#pragma once

#include "decoding/LogRoot.h"
#include "runtime/Log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace FuzzDriver {

typedef void (*UnitCheck)(const Tarnek::LogRoot* unit);

inline void Require(bool condition)
{
    if (!condition) __builtin_trap();
}

// Log lines go to the scratch folder scripts/fuzz names, never into the
// working tree.
inline void InitLog()
{
    const char* prefix = getenv("VORLANE_FUZZ_LOG_PREFIX");
    Log_Init(prefix && *prefix ? prefix : "/tmp/vorlane-fuzz");
}

// One decode call on an exact-size copy, so that any read past the end is
// caught. Returns consumed.
inline size_t DecodeOnce(DecodeFunc decode, const unsigned char* bytes, size_t length, UnitCheck check)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[length ? length : 1]);
    if (length) memcpy(copy.get(), bytes, length);
    Tarnek::LogRoot* unit = reinterpret_cast<Tarnek::LogRoot*>(uintptr_t(1));  // must be reset
    size_t consumed = SIZE_MAX;
    bool got = decode(length ? copy.get() : nullptr, length, &unit, &consumed);
    Require(consumed != SIZE_MAX);
    Require(consumed <= length);
    Require(got == (unit != nullptr));
    if (unit) {
        check(unit);
        std::unique_ptr<Tarnek::LogRoot> clone(unit->Clone());
        Require(clone != nullptr);
        Require(clone->GetKind() == unit->GetKind() && clone->GetType() == unit->GetType());
        check(clone.get());
        delete unit;
    }
    return consumed;
}

// Feeds data in chunks of chunk bytes (0: all at once) through a queue.
inline void Drive(DecodeFunc decode, const uint8_t* data, size_t size, size_t chunk, UnitCheck check)
{
    std::vector<unsigned char> queue;
    size_t offset = 0;
    do {
        size_t n = chunk == 0 || size - offset < chunk ? size - offset : chunk;
        queue.insert(queue.end(), data + offset, data + offset + n);
        offset += n;
        while (!queue.empty()) {
            size_t consumed = DecodeOnce(decode, queue.data(), queue.size(), check);
            if (consumed == 0) break;
            queue.erase(queue.begin(), queue.begin() + static_cast<long>(consumed));
        }
    } while (offset < size);
}

// The input whole, then in small chunks whose size the input picks.
inline void DriveAll(DecodeFunc decode, const uint8_t* data, size_t size, UnitCheck check)
{
    Drive(decode, data, size, 0, check);
    if (size > 1) Drive(decode, data, size, 1 + data[size - 1] % 23, check);
}

}  // namespace FuzzDriver
