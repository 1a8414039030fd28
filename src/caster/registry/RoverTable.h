// The rover registry: one RoverRecord per logged-in rover, keyed by channel
// ID, with an insertion list in login order, the per-user searches and the
// rover counts of the control centre's queries.
//
// Locking: one process-wide critical section for every RoverTable,
// re-entrant, held through a RoverTable::Guard (RegistryLock.h).
// Every operation expects the caller to hold it; records and list items are
// valid only while it is held.
// Lock order wherever several are held: connection registry (ConnInfoTable),
// then base registry (BaseTable), then rover registry; release in reverse.
#pragma once

#include "caster/registry/ChannelRegistry.h"
#include "caster/registry/RegistryLock.h"

#include <cstdint>
#include <string>
#include <unordered_map>

enum {
    ROVER_USER_SIZE = 50,
    ROVER_PASSWORD_SIZE = 50,
    ROVER_MOUNT_SIZE = 100,  // at most 99 characters
    ROVER_TIME_TEXT_SIZE = 30,
    ROVER_IP_SIZE = 30,
};

// The time of one GGA fix as the rover record keeps it.
struct RoverGgaTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    double second;
};

// RoverRecord::bindingMode
enum {
    ROVER_BIND_NAMED = 0,    // the mount of an ordinary base
    ROVER_BIND_NEAREST = 1,  // a virtual mount: the nearest online base
    ROVER_BIND_RELAY = 2,    // a relay mount served from another caster
};

struct RoverRecord {
    uint32_t sequence;                    // from a process-wide counter, first record 1
    char userName[ROVER_USER_SIZE];       // login name, or "%s~%d" for further rovers of an account
    char password[ROVER_PASSWORD_SIZE];
    char mountPoint[ROVER_MOUNT_SIZE];    // the mount asked for (a relay's "%s-%d" once started)
    double latitude;                      // degrees, last GGA
    double longitude;
    double height;                        // metres: altitude + geoid separation
    double previousEcef[3];               // earth-centred x, y, z before the last GGA
    double ecef[3];                       // of the last GGA
    double diffAge;
    double distance;                      // metres to the base bound or named
    uint64_t channelID;                   // the key
    RoverGgaTime ggaTime;
    RoverGgaTime previousGgaTime;
    double speed;                         // metres per second
    int32_t bindingMode;                  // ROVER_BIND_*
    int32_t fixQuality;                   // -1 until the first GGA
    int32_t satellites;
    char loginTimeText[ROVER_TIME_TEXT_SIZE];
    int64_t loginTime;
    int64_t lastRecheckMs;                // steady ms of the last authentication-centre check of a relay rover
    char ip[ROVER_IP_SIZE];
    int32_t port;
    uint64_t boundChannelID;              // base whose stream the rover receives; 0 for none
    double boundLatitude;                 // position when last bound
    double boundLongitude;
    char boundBaseName[ROVER_MOUNT_SIZE]; // mount of the base last bound to
    int32_t loginNumber;                  // 1, or N of "%s~%d"
    char userKey[ROVER_USER_SIZE];        // the plain account name
    int32_t relayFlag;                    // 1 once the rover's relay was started
    int32_t recheckAsking;                // 1 while the authentication centre is checking it again
    // The line of a nearest rover that has not moved far, written at most
    // once a minute (caster/binding/NearestBinding.cpp):
    int64_t stillLineMs;                  // steady ms it was last written
    uint64_t stillLineChannel;            // the bound channel then; 0: write the next one at once
    uint32_t stillLinesLeftOut;           // left out since
};

typedef RegistryItem<RoverRecord> RoverListItem;

class RoverTable {
public:
    // Holds the process-wide rover lock for its scope.
    class Guard : public RegistryLockGuard {
    public:
        Guard() : RegistryLockGuard(REGISTRY_LOCK_ROVER) {}
    };

    static RoverTable* Create();
    ~RoverTable() = default;

    // As BaseTable::Add, with the rovers' own sequence counter.
    bool Add(RoverRecord* record);
    bool Remove(uint64_t channelID);
    RoverRecord* Find(uint64_t channelID);
    bool Contains(uint64_t channelID);

    // The first rover in bucket order whose user name equals name; null when none.
    // The searches by name and key below use the indexes; only a choice
    // between equals walks the buckets.
    RoverRecord* FindByName(const char* userName);
    // The rover of the account userKey with the greatest login number (on a
    // tie the first in bucket order); null when none.
    RoverRecord* FindByText(const char* userKey);
    // Gives the user name and login number of *record to the latest rover of
    // its account (FindByText of record->userKey). False for a null record or
    // when the account has no rover.
    bool UpdateRecord(const RoverRecord* record);

    // Rovers of the user served by the base of mount: a virtual-mount rover
    // counts by the base it is bound to, any other by the mount it asked for.
    int CountUserOnMount(const char* mount, const char* userName);
    // Rovers served by the base of mount, counted the same way.
    int CountOnBase(const char* mount);
    // Rovers whose user name equals userName.
    int CountByUser(const char* userName);
    int Count();

    // The insertion list in login order: First, then Next until null. Take
    // Next before removing the item's record.
    RoverListItem* First();
    RoverListItem* Next(RoverListItem* item);

    // f(RoverRecord*) for every record in bucket order; f may remove the one it is given.
    template <typename F>
    void ForEach(F f)
    {
        registry_.ForEach(f);
    }

private:
    RoverTable() = default;
    void Index(RoverRecord* r);
    void Unindex(RoverRecord* r);
    static void Erase(std::unordered_multimap<std::string, RoverRecord*>* index, const char* key, RoverRecord* r);
    // Indexed records whose user name is name now; *last (may be null) gets one.
    static int CountIndexed(const std::unordered_multimap<std::string, RoverRecord*>& index, const char* name,
                            RoverRecord** last);

    ChannelRegistry<RoverRecord> registry_;
    // User name and per-user key -> stored records, in step with Add, Remove
    // and UpdateRecord (the only operation that renames a stored rover), so
    // that logins and logouts find an account's rovers without a walk.
    std::unordered_multimap<std::string, RoverRecord*> byName_;
    std::unordered_multimap<std::string, RoverRecord*> byKey_;
};
