#include "decoding/FixedQueue.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <cstring>

namespace Concurrent {

FixedQueue::FixedQueue(uint32_t capacity) : m_capacity(capacity), m_read(0), m_write(0), m_storage(nullptr)
{
    m_storage = static_cast<unsigned char*>(malloc(capacity ? capacity : 1));
    if (!m_storage) Log_Fatal("%s:malloc error", "Concurrent::FixedQueue::FixedQueue");
}

FixedQueue::~FixedQueue()
{
    free(m_storage);
}

bool FixedQueue::Push(const unsigned char* bytes, uint32_t n)
{
    if (n == 0 || !bytes) return false;
    if (n > m_capacity || m_capacity - m_write < n) {
        MoveToHead();
        if (n > m_capacity || m_capacity - m_write < n) return false;
    }
    if (m_write + n > m_capacity) Log_Fatal("%s:length out of bound", "Concurrent::FixedQueue::Push");
    memcpy(m_storage + m_write, bytes, n);
    m_write += n;
    return true;
}

void FixedQueue::MoveToHead()
{
    if (m_write > m_capacity) Log_Fatal("%s:length  out of bound", "Concurrent::FixedQueue::MoveToHead");
    if (m_read == m_write) {
        m_read = 0;
        m_write = 0;
        return;
    }
    uint32_t unread = m_write - m_read;
    if (unread == m_capacity || m_read == 0) return;
    memmove(m_storage, m_storage + m_read, unread);
    m_read = 0;
    m_write = unread;
}

void FixedQueue::Pop(uint32_t n)
{
    if (m_read > m_write) Log_Fatal("%s:index is null", "Concurrent::FixedQueue::Pop");
    uint32_t unread = m_write - m_read;
    m_read += n < unread ? n : unread;
}

const unsigned char* FixedQueue::GetHead() const
{
    if (!m_storage) Log_Fatal("%s:buffer is null", "Concurrent::FixedQueue::GetHead");
    return m_storage + m_read;
}

uint32_t FixedQueue::WhiteSpace() const
{
    if (m_write > m_capacity) Log_Fatal("%s:space is invaild", "Concurrent::FixedQueue::WhiteSpace");
    return m_capacity - m_write;
}

}  // namespace Concurrent
