#include "decoding/FixedQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(FixedQueue, StorageGrowsWithTheBytesHeldAndKeepsThemWhole)
{
    FixedQueue q;
    EXPECT_EQ(0u, q.StorageSize());
    EXPECT_EQ(0u, q.Unread());

    // A login request takes a small block, not the whole capacity.
    std::string request = "GET /MNT HTTP/1.1\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n";
    ASSERT_TRUE(q.Push(U(request.c_str()), request.size()));
    EXPECT_LE(q.StorageSize(), 1024u);
    q.Pop(request.size());

    // Consumed bytes are reused before the storage grows.
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(q.Push(U(request.c_str()), request.size()));
        q.Pop(request.size());
    }
    EXPECT_LE(q.StorageSize(), 1024u);

    // Growth keeps what is unread, byte for byte, up to the capacity.
    std::string stream;
    for (int i = 0; stream.size() < 51200; ++i) stream += static_cast<char>('a' + i % 26);
    stream.resize(51200);
    ASSERT_TRUE(q.Push(U(stream.c_str()), 3));
    for (size_t at = 3; at < stream.size(); at += 997) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(997, stream.size() - at));
        ASSERT_TRUE(q.Push(U(stream.c_str() + at), n));
    }
    EXPECT_EQ(stream, Unread(q));
    EXPECT_EQ(51200u, q.StorageSize());
    EXPECT_FALSE(q.Push(U("x"), 1));
}
