// The root of every decoded unit. Handlers tell units apart by family (kind)
// and type within the family, then downcast.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Tarnek {

// Families of decoded units.
enum LogKind {
    LOG_KIND_NTRIP = 20000,
    LOG_KIND_NMEA = 21000,
    LOG_KIND_MANAGEMENT = 22000,
    LOG_KIND_RTCM3 = 24000,
};

class LogRoot {
public:
    virtual ~LogRoot();
    virtual int GetKind() const = 0;
    virtual int GetType() const = 0;
    // A field-by-field copy, or nullptr when memory is short.
    virtual LogRoot* Clone() const = 0;
};

// Base of the management units of the control-centre link.
class SessionMsg : public LogRoot {
public:
    int GetKind() const override { return LOG_KIND_MANAGEMENT; }
};

}  // namespace Tarnek

// The decode contract shared by the executors, the decode threads and the
// control-centre link.
//
// A decode function looks at the bytes waiting for one channel. It returns
// true when a unit came out (*unit is then set and owned by the caller).
// *consumed is set on every call, also when the result is false: how many
// leading bytes the caller drops. 0 means: wait for more bytes.
typedef bool (*DecodeFunc)(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit,
                           size_t* consumed);

// Handles one unit for a channel and deletes it (*unit may be set to nullptr).
typedef bool (*HandleFunc)(Tarnek::LogRoot** unit, uint64_t channelID);

namespace DFW {

// A decode thread hands each unit to its dispatcher together with the user
// context given at set-up; the dispatcher deletes the unit.
typedef void (*DispatchFunc)(Tarnek::LogRoot* unit, void* context);

}  // namespace DFW
