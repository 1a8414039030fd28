#include "decoding/DecodeThread.h"

#include "runtime/Log.h"

#include <cstdlib>

namespace DFW {

namespace {

unsigned DecodeThreadMain(void* arg)
{
    static_cast<DecodeThread*>(arg)->Run();
    return 0;
}

}  // namespace

DecodeThread::DecodeThread()
    : m_framework(nullptr),
      m_peek(nullptr),
      m_peekCapacity(DECODE_PEEK_CAPACITY),
      m_IsStop(false),
      m_thread(nullptr),
      m_ended(1)
{
    m_peek = static_cast<unsigned char*>(calloc(DECODE_PEEK_CAPACITY + 2, 1));
    if (!m_peek) Log_Fatal("%s:malloc error", "DFW::DecodeThread::DecodeThread");
}

DecodeThread::~DecodeThread()
{
    Stop();
    free(m_peek);
}

bool DecodeThread::IsStopping()
{
    ScopedLock guard(m_lock);
    return m_IsStop;
}

void DecodeThread::Run()
{
    int id = static_cast<int>(Platform_ThreadId());
    m_ended = 0;
    Log_Info("DecodeThread::Run Start ,Decode Thread ID is %d, m_IsStop is %d", id, IsStopping() ? 1 : 0);
    while (!IsStopping()) {
        Platform_WaitSemaphore(m_framework->Semaphore(), -1);
        while (DecodeOnce() != 0) {
            m_framework->AfterDecode(false);
            if (IsStopping()) {
                Log_Info("DecodeThread::m_IsStop = true ,Decode Thread ID is %d", id);
                break;
            }
        }
        m_framework->AfterDecode(true);
    }
    Log_Info("DecodeThread::Run End ,Decode Thread ID is %d", id);
    m_ended = 1;
}

int DecodeThread::DecodeOnce()
{
    if (!m_framework) return 0;
    RingBuffer* ring = m_framework->Ring();
    DecodeFunc decode = m_framework->Decode();
    if (!ring || !decode) return 0;

    // A write that ended exactly at the end leaves no room behind it: move
    // the unread bytes forward rather than lose them.
    ring->Compact();

    size_t count = ring->Peek(m_peek, m_peekCapacity);
    if (count < 2) return 0;

    Tarnek::LogRoot* unit = nullptr;
    size_t consumed = 0;
    bool got = decode(m_peek, count, &unit, &consumed);
    if (got && unit) {
        DispatchFunc dispatch = m_framework->Dispatch();
        if (dispatch) {
            dispatch(unit, m_framework->Context());
        } else {
            delete unit;
        }
    } else {
        delete unit;  // a unit without a true result has no owner
    }

    if (consumed > 0) {
        size_t taken = ring->Consume(consumed);
        return taken > 0 ? static_cast<int>(taken < 0x7FFFFFFF ? taken : 0x7FFFFFFF) : 0;
    }

    // Unread bytes fill the whole ring and none can be decoded: nothing could
    // ever be written again, so the oldest part goes.
    if (ring->Unread() == ring->Capacity()) {
        size_t dropped = ring->Consume(RING_BUFFER_DROP);
        Log_Warn("%s:ring full and undecodable, dropped %zu bytes", "DFW::DecodeThread::DecodeOnce", dropped);
        return static_cast<int>(dropped);
    }
    return 0;
}

void DecodeThread::Stop()
{
    {
        ScopedLock guard(m_lock);
        if (m_IsStop) return;
        m_IsStop = true;
    }
    if (m_framework) Platform_ReleaseSemaphore(m_framework->Semaphore(), 1);
    Log_Info("%s:start", "DFW::DecodeThread::Stop");
    if (m_thread) {
        Platform_JoinThread(m_thread);
        m_thread = nullptr;
    }
    Log_Info("%s:end", "DFW::DecodeThread::Stop");
}

bool WinDecodeThread::Start(DecodeSource* framework)
{
    if (!framework || m_thread) return false;
    m_framework = framework;
    m_ended = 0;
    bool ok = false;
    m_thread = Platform_BeginThread(DecodeThreadMain, static_cast<DecodeThread*>(this), true, &ok);
    if (!ok) {
        m_thread = nullptr;
        m_ended = 1;
        return false;
    }
    return true;
}

}  // namespace DFW
