// The registries' chained hash table: fixed-size records linked in by a link
// field inside the record itself, prime bucket counts, growth at load 0.5.
//
// The table takes no lock; each owner guards its own table.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

static const int HASH_PRIME_COUNT = 26;
extern const uint32_t kHashPrimes[HASH_PRIME_COUNT];

// Records allowed before a table with p buckets grows: floor(p * 0.5).
inline uint32_t HashTable_LimitFor(uint32_t primes) { return primes / 2; }

// Bucket of a channelID: the key is taken mod 2^30 as a signed 64-bit number,
// then mod the bucket count as unsigned 32-bit.
inline uint32_t HashTable64_Hash(uint64_t key, uint32_t bucket_count)
{
    int64_t folded = static_cast<int64_t>(key) % 1073741824LL;
    return static_cast<uint32_t>(folded) % bucket_count;
}

// Traits name the key of a record, where its link field is and how keys hash:
//   typedef ... Key;
//   static Key KeyOf(const Record*);
//   static Record** LinkOf(Record*);
//   static uint32_t Hash(const Key&, uint32_t bucket_count);
//   static bool Equal(const Key&, const Key&);
template <typename Record, typename Traits>
class IntrusiveHashTable {
public:
    typedef typename Traits::Key Key;

    IntrusiveHashTable() = default;
    ~IntrusiveHashTable() { free(buckets_); }
    IntrusiveHashTable(const IntrusiveHashTable&) = delete;
    IntrusiveHashTable& operator=(const IntrusiveHashTable&) = delete;

    uint32_t Count() const { return count_; }
    uint32_t BucketCount() const { return bucket_count_; }
    uint32_t Limit() const { return limit_; }
    int PrimeIndex() const { return prime_index_; }
    bool HasBuckets() const { return buckets_ != nullptr; }

    // The link that points at the matching record, or the empty link at the
    // end of its chain; nullptr when the table has no buckets yet.
    Record** FindSlot(const Key& key)
    {
        if (!buckets_) return nullptr;
        Record** slot = &buckets_[Traits::Hash(key, bucket_count_)];
        while (*slot && !Traits::Equal(Traits::KeyOf(*slot), key)) slot = Traits::LinkOf(*slot);
        return slot;
    }

    Record* Find(const Key& key)
    {
        Record** slot = FindSlot(key);
        return slot ? *slot : nullptr;
    }

    // Puts the record at the head of its bucket, growing first when needed.
    // No duplicate check: a second record with the same key shadows the first.
    // False only when the table has no bucket array at all and none could be
    // made; a failed growth of an existing array still inserts.
    bool Insert(Record* record)
    {
        if (!buckets_ || count_ >= limit_) Grow(count_ + 1);
        if (!buckets_) return false;
        Record** head = &buckets_[Traits::Hash(Traits::KeyOf(record), bucket_count_)];
        *Traits::LinkOf(record) = *head;
        *head = record;
        ++count_;
        return true;
    }

    // Unlinks the record with the key and returns it (not freed), or nullptr.
    Record* Remove(const Key& key)
    {
        Record** slot = FindSlot(key);
        if (!slot || !*slot) return nullptr;
        Record* found = *slot;
        *slot = *Traits::LinkOf(found);
        *Traits::LinkOf(found) = nullptr;
        --count_;
        return found;
    }

    // 0, or -1 when no memory could be had (the table is left as it was).
    int Grow(uint32_t wanted)
    {
        if (prime_index_ == HASH_PRIME_COUNT - 1 || limit_ > wanted) return 0;
        int index = prime_index_ + 1;
        while (HashTable_LimitFor(kHashPrimes[index]) <= wanted && index < HASH_PRIME_COUNT - 1) {
            ++index;
        }
        uint32_t primes = kHashPrimes[index];

        Record** fresh = static_cast<Record**>(calloc(primes, sizeof(Record*)));
        if (fresh) {
            for (uint32_t b = 0; b < bucket_count_; ++b) {
                Record* r = buckets_[b];
                while (r) {
                    Record* next = *Traits::LinkOf(r);
                    Record** head = &fresh[Traits::Hash(Traits::KeyOf(r), primes)];
                    *Traits::LinkOf(r) = *head;
                    *head = r;
                    r = next;
                }
            }
            free(buckets_);
            buckets_ = fresh;
        } else {
            if (!buckets_) return -1;
            Record** grown = static_cast<Record**>(realloc(buckets_, primes * sizeof(Record*)));
            if (!grown) return -1;
            memset(grown + bucket_count_, 0, (primes - bucket_count_) * sizeof(Record*));
            for (uint32_t b = 0; b < bucket_count_; ++b) {
                Record** slot = &grown[b];
                while (*slot) {
                    Record* r = *slot;
                    uint32_t to = Traits::Hash(Traits::KeyOf(r), primes);
                    if (to == b) {
                        slot = Traits::LinkOf(r);
                        continue;
                    }
                    *slot = *Traits::LinkOf(r);
                    *Traits::LinkOf(r) = grown[to];
                    grown[to] = r;
                }
            }
            buckets_ = grown;
        }
        bucket_count_ = primes;
        prime_index_ = index;
        limit_ = HashTable_LimitFor(primes);
        return 0;
    }

    // Calls f(record) for every record; f may remove or free the record it is given.
    template <typename F>
    void ForEach(F f)
    {
        for (uint32_t b = 0; b < bucket_count_; ++b) {
            Record* r = buckets_[b];
            while (r) {
                Record* next = *Traits::LinkOf(r);
                f(r);
                r = next;
            }
        }
    }

    // Unlinks every record, handing each to release (which may free it).
    template <typename F>
    void Clear(F release)
    {
        for (uint32_t b = 0; b < bucket_count_; ++b) {
            Record* r = buckets_[b];
            buckets_[b] = nullptr;
            while (r) {
                Record* next = *Traits::LinkOf(r);
                *Traits::LinkOf(r) = nullptr;
                release(r);
                r = next;
            }
        }
        count_ = 0;
    }

private:
    Record** buckets_ = nullptr;
    uint32_t bucket_count_ = 0;
    uint32_t count_ = 0;
    uint32_t limit_ = 0;
    int prime_index_ = -1;
};

// Traits for records keyed by a 64-bit channelID in a field `channelID`,
// linked through a field `next`.
template <typename Record>
struct ChannelKeyTraits {
    typedef uint64_t Key;
    static Key KeyOf(const Record* r) { return r->channelID; }
    static Record** LinkOf(Record* r) { return &r->next; }
    static uint32_t Hash(const Key& k, uint32_t buckets) { return HashTable64_Hash(k, buckets); }
    static bool Equal(const Key& a, const Key& b) { return a == b; }
};

template <typename Record>
using ChannelHashTable = IntrusiveHashTable<Record, ChannelKeyTraits<Record>>;
