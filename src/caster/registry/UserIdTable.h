// Storage of the user tables: records keyed by their 32-bit user id in the
// runtime's chained hash table (bucket = id mod the bucket count), each
// record owned by the table. One record per id: storing an id again replaces
// the old record, so a deleted or renamed account can never linger behind a
// newer record of the same id.
//
// The storage takes no lock; the user tables document theirs.
#pragma once

#include "runtime/HashTable.h"

#include <cstdint>
#include <cstring>
#include <new>

template <typename Record>
struct UserIdNode {
    uint32_t id;
    UserIdNode* next;
    Record* record;
};

template <typename Record>
struct UserIdTraits {
    typedef uint32_t Key;
    static Key KeyOf(const UserIdNode<Record>* n) { return n->id; }
    static UserIdNode<Record>** LinkOf(UserIdNode<Record>* n) { return &n->next; }
    static uint32_t Hash(const Key& k, uint32_t buckets) { return k % buckets; }
    static bool Equal(const Key& a, const Key& b) { return a == b; }
};

template <typename Record>
class UserIdTable {
public:
    typedef UserIdNode<Record> Node;

    UserIdTable() = default;
    ~UserIdTable()
    {
        hash_.Clear([](Node* node) {
            delete node->record;
            delete node;
        });
    }
    UserIdTable(const UserIdTable&) = delete;
    UserIdTable& operator=(const UserIdTable&) = delete;

    // Stores a copy of the record under record.id, replacing any record of
    // that id. False when memory runs out.
    bool Put(const Record& record)
    {
        Node* node = hash_.Find(record.id);
        if (node != nullptr) {
            *node->record = record;
            return true;
        }
        node = new (std::nothrow) Node;
        Record* copy = new (std::nothrow) Record(record);
        if (node == nullptr || copy == nullptr) {
            delete node;
            delete copy;
            return false;
        }
        node->id = record.id;
        node->next = nullptr;
        node->record = copy;
        if (!hash_.Insert(node)) {
            delete copy;
            delete node;
            return false;
        }
        return true;
    }

    Record* Find(uint32_t id)
    {
        Node* node = hash_.Find(id);
        return node ? node->record : nullptr;
    }

    // Frees the record of the id; false when there is none.
    bool Erase(uint32_t id)
    {
        Node* node = hash_.Remove(id);
        if (node == nullptr) return false;
        delete node->record;
        delete node;
        return true;
    }

    // Copies the record of the id into *out (may be null); false when there
    // is none.
    bool CopyOut(uint32_t id, Record* out)
    {
        Record* stored = Find(id);
        if (stored == nullptr) return false;
        if (out != nullptr) *out = *stored;
        return true;
    }

    // Stores the record under its id after dropping a record of the same name
    // under another id, so a renamed or re-created account is never listed
    // twice. Names compare case-sensitively.
    void PutReplacingName(const Record& record)
    {
        Record* same = FindIf([&](const Record* r) { return strcmp(r->name, record.name) == 0; });
        if (same != nullptr && same->id != record.id) Erase(same->id);
        Put(record);
    }

    // The first record in bucket order for which match(record) holds, or null.
    template <typename M>
    Record* FindIf(M match)
    {
        Record* found = nullptr;
        hash_.ForEach([&](Node* node) {
            if (found == nullptr && match(node->record)) found = node->record;
        });
        return found;
    }

    // f(Record*) for every record in bucket order.
    template <typename F>
    void ForEach(F f)
    {
        hash_.ForEach([&](Node* node) { f(node->record); });
    }

    int Count() const { return static_cast<int>(hash_.Count()); }

private:
    IntrusiveHashTable<Node, UserIdTraits<Record>> hash_;
};
