// The storage shared by the connection, base and rover registries: records
// keyed by channel ID in the runtime's chained hash table, each record owned
// by the registry (copied in, handed out by pointer), and an insertion list
// that gives the records in the order they were added.
//
// The registry takes no lock; the table classes built on it document theirs.
#pragma once

#include "runtime/HashTable.h"

#include <cstdint>
#include <new>

// One element of the insertion list; `record` is the same record the hash
// node points at.
template <typename Record>
struct RegistryItem {
    RegistryItem* prev;
    RegistryItem* next;
    Record* record;
};

template <typename Record>
struct RegistryNode {
    uint64_t channelID;  // the hash key
    RegistryNode* next;  // the bucket chain
    Record* record;
    RegistryItem<Record>* item;
};

template <typename Record>
class ChannelRegistry {
public:
    typedef RegistryItem<Record> Item;
    typedef RegistryNode<Record> Node;

    ChannelRegistry()
    {
        sentinel_.prev = &sentinel_;
        sentinel_.next = &sentinel_;
        sentinel_.record = nullptr;
    }
    ~ChannelRegistry()
    {
        hash_.Clear([](Node* node) { Release(node); });
    }
    ChannelRegistry(const ChannelRegistry&) = delete;
    ChannelRegistry& operator=(const ChannelRegistry&) = delete;

    // Stores a copy of the record under record.channelID and appends it to the
    // insertion list. False when the channel is present or memory runs out.
    bool Add(const Record& record)
    {
        if (hash_.Find(record.channelID) != nullptr) return false;
        Node* node = new (std::nothrow) Node;
        Item* item = new (std::nothrow) Item;
        Record* copy = new (std::nothrow) Record(record);
        if (node == nullptr || item == nullptr || copy == nullptr) {
            delete node;
            delete item;
            delete copy;
            return false;
        }
        node->channelID = record.channelID;
        node->next = nullptr;
        node->record = copy;
        node->item = item;
        item->record = copy;
        if (!hash_.Insert(node)) {
            delete node;
            delete item;
            delete copy;
            return false;
        }
        item->prev = sentinel_.prev;
        item->next = &sentinel_;
        sentinel_.prev->next = item;
        sentinel_.prev = item;
        return true;
    }

    // Unlinks and frees the record of the channel; false when absent.
    bool Remove(uint64_t channelID)
    {
        Node* node = hash_.Remove(channelID);
        if (node == nullptr) return false;
        Release(node);
        return true;
    }

    Record* Find(uint64_t channelID)
    {
        Node* node = hash_.Find(channelID);
        return node ? node->record : nullptr;
    }

    // Moves the record of oldID under newID and writes newID into it. False
    // when oldID is absent, or when newID already holds another record: two
    // records under one key would leave one of them unreachable for good.
    bool Rekey(uint64_t oldID, uint64_t newID)
    {
        Node* node = hash_.Find(oldID);
        if (node == nullptr) return false;
        if (oldID == newID) return true;
        if (hash_.Find(newID) != nullptr) return false;
        hash_.Remove(oldID);
        node->channelID = newID;
        node->record->channelID = newID;
        if (!hash_.Insert(node)) {
            // Cannot happen once the table has buckets; keep the record reachable.
            node->channelID = oldID;
            node->record->channelID = oldID;
            hash_.Insert(node);
            return false;
        }
        return true;
    }

    int Count() const { return static_cast<int>(hash_.Count()); }

    // The insertion list, oldest first; null past the end.
    Item* First() { return sentinel_.next == &sentinel_ ? nullptr : sentinel_.next; }
    Item* Next(Item* item)
    {
        if (item == nullptr || item->next == &sentinel_) return nullptr;
        return item->next;
    }

    // Calls f(record) for every record in bucket order; f may remove the
    // record it is given.
    template <typename F>
    void ForEach(F f)
    {
        hash_.ForEach([&](Node* node) { f(node->record); });
    }

private:
    static void Release(Node* node)
    {
        Item* item = node->item;
        item->prev->next = item->next;
        item->next->prev = item->prev;
        delete node->record;
        delete item;
        delete node;
    }

    ChannelHashTable<Node> hash_;
    Item sentinel_;
};
