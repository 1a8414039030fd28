// The byte queue of one decode channel. Unread bytes lie between the read and
// the write position; 0 <= read <= write <= capacity. Only the channel's
// worker touches it, so it has no lock.
//
// The capacity is the most the queue ever holds; its storage starts small and
// grows by doubling when bytes do not fit, so a channel that only ever sends a
// login or a few sentences (every idle rover) keeps a few hundred bytes, not
// the whole capacity.
#pragma once

#include <cstdint>

namespace Concurrent {

static const uint32_t FIXED_QUEUE_CAPACITY = 51200;

class FixedQueue {
public:
    explicit FixedQueue(uint32_t capacity = FIXED_QUEUE_CAPACITY);
    ~FixedQueue();
    FixedQueue(const FixedQueue&) = delete;
    FixedQueue& operator=(const FixedQueue&) = delete;

    // Appends n bytes, compacting first when they do not fit behind the write
    // position. False for n = 0 or when they still do not fit.
    bool Push(const unsigned char* bytes, uint32_t n);

    // Moves the unread bytes to the start of the storage (both positions to 0
    // when nothing is unread).
    void MoveToHead();

    // Drops up to n unread bytes.
    void Pop(uint32_t n);

    // The first unread byte; valid until the next Push.
    const unsigned char* GetHead() const;

    // Room behind the write position, up to the capacity.
    uint32_t WhiteSpace() const;

    uint32_t Unread() const { return m_write - m_read; }
    uint32_t Capacity() const { return m_capacity; }
    uint32_t ReadPosition() const { return m_read; }
    uint32_t WritePosition() const { return m_write; }
    // Bytes of storage held now (at most the capacity).
    uint32_t StorageSize() const { return m_allocated; }

private:
    // Makes the storage hold at least `need` bytes (need <= capacity).
    void Reserve(uint32_t need);

    uint32_t m_capacity;
    uint32_t m_allocated;
    uint32_t m_read;
    uint32_t m_write;
    unsigned char* m_storage;
};

}  // namespace Concurrent
