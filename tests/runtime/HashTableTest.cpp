#include "runtime/HashTable.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
struct Rec {
    uint64_t channelID;
    Rec* next;
    int value;
};
typedef ChannelHashTable<Rec> Table;
}  // namespace

TEST(HashTable, NewTableFindsNothingWithoutBuckets)
{
    Table t;
    EXPECT_EQ(nullptr, t.Find(5));
    EXPECT_EQ(nullptr, t.FindSlot(5));
    EXPECT_FALSE(t.HasBuckets());
    EXPECT_EQ(-1, t.PrimeIndex());
    EXPECT_EQ(nullptr, t.Remove(5));
}

TEST(HashTable, GrowsThroughThePrimesAtHalfLoad)
{
    Table t;
    std::vector<Rec> recs(200);
    struct Point {
        uint32_t inserted, buckets, limit;
    } points[] = {{1, 53, 26}, {26, 53, 26}, {27, 97, 48}, {48, 97, 48}, {49, 193, 96}, {97, 389, 194}};
    uint32_t n = 0;
    for (const Point& p : points) {
        while (n < p.inserted) {
            recs[n] = Rec{n * 7 + 1, nullptr, static_cast<int>(n)};
            ASSERT_TRUE(t.Insert(&recs[n]));
            ++n;
        }
        EXPECT_EQ(p.buckets, t.BucketCount()) << "after " << n;
        EXPECT_EQ(p.limit, t.Limit()) << "after " << n;
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(&recs[i], t.Find(i * 7 + 1));
    }
    EXPECT_EQ(n, t.Count());
}

TEST(HashTable, ChannelKeysFoldModulo2To30)
{
    EXPECT_EQ(HashTable64_Hash(5, 53), HashTable64_Hash(1073741824ULL + 5, 53));
    EXPECT_EQ(5u, HashTable64_Hash(5, 97));
    // The fold is signed: a key with the top bit set keeps a negative remainder,
    // which the unsigned cast then reduces.
    uint64_t big = 0x8000000000000005ULL;
    int64_t folded = static_cast<int64_t>(big) % 1073741824LL;
    EXPECT_EQ(static_cast<uint32_t>(folded) % 53u, HashTable64_Hash(big, 53));
}

TEST(HashTable, DuplicatesShadowAndRemoveUnlinksInOrder)
{
    Table t;
    Rec a{9, nullptr, 1}, b{9, nullptr, 2}, c{62, nullptr, 3};  // 62 = 9 + 53: same bucket
    t.Insert(&a);
    t.Insert(&b);
    t.Insert(&c);
    EXPECT_EQ(&b, t.Find(9));
    EXPECT_EQ(&b, t.Remove(9));
    EXPECT_EQ(&a, t.Find(9));
    EXPECT_EQ(&c, t.Find(62));
    EXPECT_EQ(2u, t.Count());
    int seen = 0;
    t.ForEach([&](Rec* r) { seen += r->value; });
    EXPECT_EQ(4, seen);
    t.Clear([](Rec*) {});
    EXPECT_EQ(0u, t.Count());
    EXPECT_EQ(nullptr, t.Find(9));
}
