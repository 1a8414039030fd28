#include "decoding/RingBuffer.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <cstring>

namespace DFW {

RingBuffer::RingBuffer(size_t capacity) : m_capacity(capacity), m_read(0), m_write(0), m_storage(nullptr)
{
    m_storage = static_cast<unsigned char*>(malloc(capacity ? capacity : 1));
    if (!m_storage) Log_Fatal("%s:malloc error", "DFW::RingBuffer::RingBuffer");
}

RingBuffer::~RingBuffer()
{
    free(m_storage);
}

void RingBuffer::CompactLocked()
{
    size_t unread = m_write - m_read;
    if (m_read == 0 || unread == m_capacity) return;
    memmove(m_storage, m_storage + m_read, unread);
    m_read = 0;
    m_write = unread;
}

bool RingBuffer::Write(const unsigned char* bytes, size_t n)
{
    if (n == 0 || !bytes) return false;
    ScopedLock guard(m_lock);
    if (n > m_capacity || m_capacity - m_write < n) {
        CompactLocked();
        if (n > m_capacity || m_capacity - m_write < n) return false;
    }
    memcpy(m_storage + m_write, bytes, n);
    m_write += n;
    return true;
}

size_t RingBuffer::Peek(unsigned char* out, size_t n)
{
    if (!out) return 0;
    ScopedLock guard(m_lock);
    size_t unread = m_write - m_read;
    size_t take = n < unread ? n : unread;
    memcpy(out, m_storage + m_read, take);
    return take;
}

size_t RingBuffer::Consume(size_t n)
{
    ScopedLock guard(m_lock);
    size_t unread = m_write - m_read;
    size_t take = n < unread ? n : unread;
    m_read += take;
    if (m_read == m_write) {
        m_read = 0;
        m_write = 0;
    }
    return take;
}

void RingBuffer::Compact()
{
    ScopedLock guard(m_lock);
    if (m_write == m_capacity) CompactLocked();
}

size_t RingBuffer::Unread()
{
    ScopedLock guard(m_lock);
    return m_write - m_read;
}

size_t RingBuffer::ReadPosition()
{
    ScopedLock guard(m_lock);
    return m_read;
}

size_t RingBuffer::WritePosition()
{
    ScopedLock guard(m_lock);
    return m_write;
}

}  // namespace DFW
