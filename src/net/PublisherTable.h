// The channels whose bytes are fanned out (publishers, the bases) and, for
// each, the ordered list of channels subscribed to it (the rovers).
//
// Thread safety: the table has its own re-entrant lock, taken by every
// operation below and by the broadcast walk. The loop thread runs the posted
// commands and the relay callbacks against it, and a login worker may call
// the same operations directly (a base's relogin moves its publisher entry to
// the new connection). FindPublisher and FindSubscriberList hand out pointers
// into the table: hold PublisherTable_Lock (or a PublisherTableGuard) for as
// long as you use them, across a find, a walk and a rekey that belong
// together.
//
// Lock order (src/LOCKING.md): taken under the registries, and nothing but
// the log is taken while it is held; in particular the broadcast copies the
// subscriber list under the lock and writes to the subscribers after
// releasing it, so the write and close callbacks never run inside it.
#pragma once

#include "runtime/HashTable.h"
#include "runtime/Lock.h"

#include <cstdint>
#include <vector>

struct SubscriberNode {
    SubscriberNode* next;
    SubscriberNode** back;  // the field that points at this node
    uint64_t channelID;
};

struct PublisherEntry {
    PublisherEntry* next;  // next entry of the bucket
    uint64_t reserved;
    uint64_t channelID;
    SubscriberNode* first;
    SubscriberNode** tail;  // the last node's next, or &first when empty
};

struct PublisherTable {
    ChannelHashTable<PublisherEntry> entries;
    Lock lock;
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
