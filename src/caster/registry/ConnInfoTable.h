// The connection registry: one ConnInfo per accepted or relay connection,
// keyed by channel ID, from the open callback to the close.
//
// Locking: one process-wide critical section for every ConnInfoTable,
// re-entrant, held through a ConnInfoTable::Guard (RegistryLock.h). Every
// operation expects the caller to hold it; records and the pointers Find
// hands out are valid only while it is held. Lock order wherever several are
// held: connection registry, then base registry (BaseTable), then rover
// registry (RoverTable); release in reverse.
#pragma once

#include "caster/registry/ChannelRegistry.h"
#include "caster/registry/RegistryLock.h"
#include "platform/SteadyClock.h"

#include <cstdint>

struct ConnTraffic;

enum { CONN_IP_SIZE = 29 };  // dotted address, at most 28 characters

// What is written to a rover is counted by the loop itself, with the
// connection, into `traffic`: the table's record holds one reference to it,
// and ConnInfo_Figures folds it into a copy's outputRate, bytesSent and
// lastActivity. The record's own three fields stay as the open left them.
struct ConnInfo {
    int64_t connectTime;     // seconds since 1970, set at open
    int32_t inputRate;       // bytes per second of the last chunk from an online base
    int32_t outputRate;      // bytes per second of the last write to a rover
    uint64_t bytesReceived;  // total read from an online base
    uint64_t bytesSent;      // total written to a rover
    int64_t lastActivity;    // seconds since 1970: open, then every base read and rover write
    int64_t lastDataMs;      // steady ms: open, then every base read; the base time-out is judged on it
    char ip[CONN_IP_SIZE];
    int32_t port;
    uint64_t channelID;      // the key
    int64_t lastKeepAlive;   // steady ms of the last keep-alive check of a base; 0 at open
    int64_t lastActivityMs;  // steady ms of lastActivity: the rates are measured on it
    int64_t openedMs;        // steady ms of the open: a connection that never logs in is closed by it
    int32_t outgoing;        // 1: a relay connection this caster made, never a login
    int32_t refusedRequests; // requests of a connection logging in that were refused or not understood
    int32_t closing;         // 1: its close is posted; what it sends meanwhile is dropped
    int32_t centreAsking;    // 1: the authentication centre is checking a login of it
    // Bytes read from it that are still in the login executor: while there
    // are, its reads queue behind them there, also once it is logged in.
    uint64_t loginQueued;
    ConnTraffic* traffic;    // the loop's count of what is written to it (a rover's), or nullptr
};

// A copy of the record with the loop's write figures folded in, its
// traffic pointer cleared (the copy outlives the lock). Under the lock.
ConnInfo ConnInfo_Figures(const ConnInfo& record);

// Steady-clock milliseconds, as lastDataMs, lastKeepAlive and lastActivityMs
// hold them: durations must not jump when the wall clock is set.
inline int64_t ConnInfo_NowMs() { return Platform_SteadyNowMs(); }

class ConnInfoTable {
public:
    typedef RegistryItem<ConnInfo> Item;

    // Holds the process-wide connection lock for its scope.
    class Guard : public RegistryLockGuard {
    public:
        Guard() : RegistryLockGuard(REGISTRY_LOCK_CONNECTION) {}
    };

    static ConnInfoTable* Create();
    ~ConnInfoTable();

    // False for a null record or a channel already present; else stores a
    // copy, which takes over the record's traffic reference (the caller's
    // stays the caller's when the add is refused).
    bool Add(const ConnInfo* record);
    // False when absent; else frees the record and its traffic reference.
    bool Remove(uint64_t channelID);
    ConnInfo* Find(uint64_t channelID);
    bool Contains(uint64_t channelID);
    int Count();

    // f(ConnInfo*) for every record in bucket order; f may remove the one it is given.
    template <typename F>
    void ForEach(F f)
    {
        registry_.ForEach(f);
    }

private:
    ConnInfoTable() = default;
    ChannelRegistry<ConnInfo> registry_;
};
