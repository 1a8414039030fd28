#include "decoding/FixedQueue.h"

#include "runtime/Log.h"

#include <cstdlib>
#include <cstring>

namespace Concurrent {

namespace {

// A login request or a handful of sentences fits; larger streams double up
// from here.
const uint32_t kFirstStorage = 512;

}  // namespace

FixedQueue::FixedQueue(uint32_t capacity)
    : m_capacity(capacity), m_allocated(0), m_read(0), m_write(0), m_storage(nullptr)
{
}

FixedQueue::~FixedQueue()
{
    free(m_storage);
}

void FixedQueue::Reserve(uint32_t need)
{
    if (need <= m_allocated) return;
    uint32_t size = m_allocated ? m_allocated : kFirstStorage;
    while (size < need) size = size > m_capacity / 2 ? m_capacity : size * 2;
    if (size > m_capacity) size = m_capacity;
    unsigned char* grown = static_cast<unsigned char*>(realloc(m_storage, size ? size : 1));
    if (!grown) Log_Fatal("%s:malloc error", "Concurrent::FixedQueue::Reserve");
    m_storage = grown;
    m_allocated = size;
}

bool FixedQueue::Push(const unsigned char* bytes, uint32_t n)
{
    if (n == 0 || !bytes) return false;
    if (n > m_capacity || m_capacity - m_write < n) {
        MoveToHead();
        if (n > m_capacity || m_capacity - m_write < n) return false;
    }
    if (m_write + n > m_allocated) {
        // Compacting first may spare the growth.
        if (m_read > 0) MoveToHead();
        Reserve(m_write + n);
    }
    if (m_write + n > m_allocated) Log_Fatal("%s:length out of bound", "Concurrent::FixedQueue::Push");
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
    static const unsigned char kEmpty = 0;
    return m_storage ? m_storage + m_read : &kEmpty;
}

uint32_t FixedQueue::WhiteSpace() const
{
    if (m_write > m_capacity) Log_Fatal("%s:space is invaild", "Concurrent::FixedQueue::WhiteSpace");
    return m_capacity - m_write;
}

}  // namespace Concurrent
