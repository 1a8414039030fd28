// The byte buffer between a connection's reader and its decode thread.
// Unread bytes lie between read and write; 0 <= read <= write <= capacity.
// Every operation takes the buffer's lock, which is re-entrant: a feeder may
// hold it (Enter/Leave) around a Write.
#pragma once

#include "runtime/Lock.h"

#include <cstddef>

namespace DFW {

static const size_t RING_BUFFER_CAPACITY = 100000;
// Dropped at once when unread bytes fill the buffer and none can be decoded.
static const size_t RING_BUFFER_DROP = 50000;

class RingBuffer {
public:
    explicit RingBuffer(size_t capacity = RING_BUFFER_CAPACITY);
    ~RingBuffer();
    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // Appends n bytes, compacting first when they do not fit behind the
    // write position. False (the bytes are dropped) for n = 0 or no room.
    bool Write(const unsigned char* bytes, size_t n);

    // Copies up to n unread bytes into out without consuming them.
    size_t Peek(unsigned char* out, size_t n);

    // Consumes up to n unread bytes; returns how many.
    size_t Consume(size_t n);

    // When the write position has reached the end, moves the unread bytes to
    // the start so the next write finds room.
    void Compact();

    size_t Unread();
    size_t Capacity() const { return m_capacity; }
    size_t ReadPosition();
    size_t WritePosition();

    void Enter() { m_lock.Enter(); }
    void Leave() { m_lock.Leave(); }

private:
    void CompactLocked();

    size_t m_capacity;
    size_t m_read;
    size_t m_write;
    unsigned char* m_storage;
    Lock m_lock;
};

}  // namespace DFW
