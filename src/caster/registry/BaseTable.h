// The base registry: one BaseRecord per base station whose connection is open
// (a logged-in base or a verified relay), keyed by channel ID, with an
// insertion list in login order and the name and distance searches.
//
// Locking: one process-wide critical section for every BaseTable, re-entrant,
// held through a BaseTable::Guard (RegistryLock.h). Every
// operation expects the caller to hold it; records, list items and the names
// of a BaseNameList are valid only while it is held.
// Lock order wherever several are held: connection registry (ConnInfoTable),
// then base registry, then rover registry (RoverTable); release in reverse.
#pragma once

#include "caster/registry/ChannelRegistry.h"
#include "caster/registry/RegistryLock.h"

#include <cstdint>
#include <string>
#include <unordered_map>

enum {
    BASE_MOUNT_SIZE = 100,  // at most 99 characters
    BASE_FORMAT_SIZE = 16,
    BASE_TIME_TEXT_SIZE = 30,
    BASE_IP_SIZE = 30,
};

// BaseRecord::state
enum {
    BASE_STATE_CLEARED = 0,      // taken off the black list while its close is pending
    BASE_STATE_ONLINE = 1,
    BASE_STATE_BLACKLISTED = 2,  // black-listed while its close is pending
};

// Longest name list: the online-name and radius searches stop here.
enum { BASE_NAME_LIST_MAX = 1000 };

struct BaseRecord {
    uint32_t sequence;                 // from a process-wide counter, first record 1
    char mountPoint[BASE_MOUNT_SIZE];
    char format[BASE_FORMAT_SIZE];     // "RTCM3" once the first station position arrived
    double latitude;                   // degrees, 0 until the first 1005/1006
    double longitude;
    double height;                     // metres
    uint64_t channelID;                // the key
    char loginTimeText[BASE_TIME_TEXT_SIZE];
    int64_t loginTime;                 // seconds since 1970
    char ip[BASE_IP_SIZE];
    int32_t port;
    int32_t roverCount;                // rovers bound to this base
    int32_t positionPending;           // 1 from each login until the first position
    int32_t state;                     // BASE_STATE_*
    int32_t keepAliveOff;              // 1 for a relay base: never sent the keep-alive
};

typedef RegistryItem<BaseRecord> BaseListItem;

// Result of a name search. The names live in one process-wide area that the
// next search overwrites: use them while the base lock is held.
struct BaseNameList {
    int found;     // 1 when at least one name was copied
    char** names;  // count texts
    int count;
};

class BaseTable {
public:
    // Holds the process-wide base lock for its scope.
    class Guard : public RegistryLockGuard {
    public:
        Guard() : RegistryLockGuard(REGISTRY_LOCK_BASE) {}
    };

    static BaseTable* Create();
    ~BaseTable() = default;

    // Takes the next sequence number into *record (also when refused), then
    // stores a copy and appends it to the insertion list. False for a null
    // record or a channel already present.
    bool Add(BaseRecord* record);
    // False when absent; else unlinks the record from the hash and the list and frees it.
    bool Remove(uint64_t channelID);
    BaseRecord* Find(uint64_t channelID);
    bool Contains(uint64_t channelID);

    // Moves the stored record of record->channelID to newChannelID and writes
    // the new channel into the stored record and into *record. False when the
    // old channel is absent or the new one already holds another base.
    bool ChangeId(BaseRecord* record, uint64_t newChannelID);

    // The first record in bucket order whose mount point equals name exactly
    // (any state); null when none or name is null. A name index answers it
    // without a walk; the walk decides only between records of one name.
    BaseRecord* FindByName(const char* name);

    // Mount points of the records with state 1, in bucket order, at most 1000.
    BaseNameList OnlineNames();
    // The same for records within radiusMetres (inclusive) of the point.
    BaseNameList NamesWithinRadius(double latitude, double longitude, double radiusMetres);

    // The online base nearest to the point; ties go to the one met later in
    // bucket order. *distance gets its distance, or 99999999.99 (and null is
    // returned) when no base is online. distance may be null.
    BaseRecord* Nearest(double latitude, double longitude, double* distance);

    int Count();
    // Records with state 1 and a channel ID above 0.
    int CountOnline();
    // Records of any state whose mount point contains text (null counts none).
    int CountNameContains(const char* text);

    // The insertion list in login order: First, then Next until null. Take
    // Next before removing the item's record.
    BaseListItem* First();
    BaseListItem* Next(BaseListItem* item);

    // f(BaseRecord*) for every record in bucket order; f may remove the one it is given.
    template <typename F>
    void ForEach(F f)
    {
        registry_.ForEach(f);
    }

private:
    BaseTable() = default;
    ChannelRegistry<BaseRecord> registry_;
    // Mount point -> stored record, in step with Add and Remove (a record's
    // mount point never changes once stored).
    std::unordered_multimap<std::string, BaseRecord*> byName_;
};

// No best distance yet: what Nearest reports when no base is online.
static const double BASE_NO_DISTANCE = 99999999.99;
