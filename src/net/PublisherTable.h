// The channels whose bytes are fanned out (publishers, the bases) and, for
// each, the ordered list of channels subscribed to it (the rovers).
//
// Thread safety: the table belongs to its server's loop thread. Every change
// runs there (the posted commands, the relay callbacks, NHServer_AddPublisher
// and NHServer_Subscribe), under the table's re-entrant lock, so that other
// threads may ask questions of it (NHServer_HasPublisher) under the same
// lock. The loop itself reads without the lock: nothing else changes the
// table, so the broadcast walks a publisher's list in place. FindPublisher
// and FindSubscriberList hand out pointers into the table: off the loop,
// hold PublisherTable_Lock (or a PublisherTableGuard) for as long as you use
// them.
//
// Each node knows the connection it names, when the table is given the
// server's connections: a broadcast writes to it without a look-up, and the
// connection's close unhooks it (the node stays until its unsubscription,
// and a write to it then finds no connection).
//
// Lock order (src/LOCKING.md): taken under the registries, and nothing but
// the log is taken while it is held.
#pragma once

#include "net/SubscriberNode.h"
#include "runtime/HashTable.h"
#include "runtime/Lock.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

struct TcpConnectionTable;

struct PublisherEntry {
    PublisherEntry* next;  // next entry of the bucket
    uint64_t reserved;
    uint64_t channelID;
    SubscriberNode* first;
    SubscriberNode** tail;  // the last node's next, or &first when empty
    // The nodes by subscriber: a login's subscription and a logout's
    // unsubscription do not walk a list of thousands. Made at the first node.
    std::unordered_map<uint64_t, SubscriberNode*>* bySubscriber;
};

struct PublisherTable {
    ChannelHashTable<PublisherEntry> entries;
    Lock lock;
    // Where the subscribers' connections are found at subscription; nullptr:
    // the nodes know none.
    TcpConnectionTable* connections = nullptr;
};

PublisherTable* PublisherTable_Create();
// Frees every entry and node and the table.
void PublisherTable_Free(PublisherTable* table);

void PublisherTable_Lock(PublisherTable* table);
void PublisherTable_Unlock(PublisherTable* table);

class PublisherTableGuard {
public:
    explicit PublisherTableGuard(PublisherTable* table) : table_(table) { PublisherTable_Lock(table_); }
    ~PublisherTableGuard() { PublisherTable_Unlock(table_); }
    PublisherTableGuard(const PublisherTableGuard&) = delete;
    PublisherTableGuard& operator=(const PublisherTableGuard&) = delete;

private:
    PublisherTable* table_;
};

// 1. A channel that is a publisher already keeps its entry and subscribers.
int AddPublisher(PublisherTable* table, uint64_t channelID);
// 1 removed (with all its subscriber nodes), 0 absent.
int RemovePublisher(PublisherTable* table, uint64_t channelID);
// Moves the entry and its subscriber list to a new ID: 1 moved, 0 absent.
// When the new ID is a publisher already, the old entry's subscribers are
// appended to its list (those not on it yet) and the old entry is removed.
int RekeyPublisher(PublisherTable* table, uint64_t oldChannelID, uint64_t newChannelID);
// 1 subscribed or already subscribed, 0 no such publisher.
int Subscribe(PublisherTable* table, uint64_t publisherID, uint64_t subscriberID);
// 1 removed, 0 no such publisher or subscriber.
int Unsubscribe(PublisherTable* table, uint64_t publisherID, uint64_t subscriberID);

// Pointers into the table: valid while the caller holds the lock.
PublisherEntry* FindPublisher(PublisherTable* table, uint64_t channelID);
// The address of the entry's first-subscriber field, or nullptr.
SubscriberNode** FindSubscriberList(PublisherTable* table, uint64_t channelID);

// Copies the subscribers of a publisher, in list order, into out (cleared
// first). False when there is no such publisher. Takes the lock itself, so a
// caller can walk the copy while taking other locks.
bool PublisherTable_CopySubscribers(PublisherTable* table, uint64_t channelID, std::vector<uint64_t>* out);

// Makes room for at least wanted entries by the registry growth rule.
int PublisherTable_Grow(PublisherTable* table, uint32_t wanted);
uint32_t PublisherTable_Count(PublisherTable* table);
