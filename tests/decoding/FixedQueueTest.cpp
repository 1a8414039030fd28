#include "decoding/FixedQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Concurrent::FixedQueue;

namespace {

std::string Unread(const FixedQueue& q)
{
    return std::string(reinterpret_cast<const char*>(q.GetHead()), q.Unread());
}

const unsigned char* U(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

}  // namespace

TEST(FixedQueue, PushPopAndCompaction)
{
    FixedQueue q(10);
    EXPECT_EQ(10u, q.WhiteSpace());
    EXPECT_FALSE(q.Push(U("x"), 0));
    EXPECT_TRUE(q.Push(U("abcdef"), 6));
    q.Pop(2);
    EXPECT_EQ("cdef", Unread(q));
    EXPECT_EQ(4u, q.WhiteSpace());

    // Does not fit behind the write position: the unread bytes move first.
    EXPECT_TRUE(q.Push(U("ghijk"), 5));
    EXPECT_EQ("cdefghijk", Unread(q));
    EXPECT_EQ(0u, q.ReadPosition());
    EXPECT_EQ(9u, q.WritePosition());

    EXPECT_FALSE(q.Push(U("lm"), 2));  // one byte of room only
    EXPECT_EQ("cdefghijk", Unread(q));
    EXPECT_FALSE(q.Push(U("0123456789A"), 11));  // larger than the queue

    q.Pop(100);  // more than is unread
    EXPECT_EQ(0u, q.Unread());
    q.MoveToHead();
    EXPECT_EQ(0u, q.ReadPosition());
    EXPECT_EQ(0u, q.WritePosition());
    EXPECT_TRUE(q.Push(U("0123456789"), 10));  // exactly the capacity
    EXPECT_EQ(0u, q.WhiteSpace());
    q.MoveToHead();  // full of unread bytes: nothing to move
    EXPECT_EQ("0123456789", Unread(q));
}

TEST(FixedQueue, FiftyThousandUnreadAndA2048ByteChunk)
{
    FixedQueue q;
    ASSERT_EQ(51200u, q.Capacity());
    std::vector<unsigned char> bytes(50000, 'a');
    ASSERT_TRUE(q.Push(bytes.data(), 50000));
    std::vector<unsigned char> chunk(2048, 'b');
    EXPECT_FALSE(q.Push(chunk.data(), chunk.size()));
    EXPECT_EQ(50000u, q.Unread());

    // After a partial read the same chunk fits once compacted.
    q.Pop(1000);
    EXPECT_TRUE(q.Push(chunk.data(), chunk.size()));
    EXPECT_EQ(0u, q.ReadPosition());
    EXPECT_EQ(51048u, q.Unread());
}
