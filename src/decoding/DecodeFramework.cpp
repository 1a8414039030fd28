#include "decoding/DecodeFramework.h"

#include "runtime/Log.h"

namespace DFW {

DecodeFramework::DecodeFramework()
    : m_stopped(0),
      m_ring(nullptr),
      m_decode(nullptr),
      m_dispatch(nullptr),
      m_context(nullptr),
      m_highWater(0),
      m_lowWater(0),
      m_drained(nullptr),
      m_paused(false)
{
    if (!Platform_CreateSemaphore(&m_semaphore, 0, DECODE_SEMAPHORE_MAX)) {
        Log_Fatal("%s:CreateSemaphore fail, abort", "DFW::DecodeFramework::DecodeFramework");
    }
}

DecodeFramework::~DecodeFramework()
{
    // Joined: nothing of the thread runs any more, so nothing to wait for.
    m_thread.Stop();
    Platform_DestroySemaphore(&m_semaphore);
    delete m_ring;
}

bool DecodeFramework::Init(DecodeFunc decode, DispatchFunc dispatch, void* context)
{
    if (m_ring) return false;
    m_ring = new RingBuffer(RING_BUFFER_CAPACITY);
    m_decode = decode;
    m_dispatch = dispatch;
    m_context = context;
    return true;
}

bool DecodeFramework::StartDecodeThread()
{
    return m_thread.Start(this);
}

void DecodeFramework::SetBackPressure(size_t highWater, size_t lowWater, DrainedFunc drained)
{
    m_highWater = highWater;
    m_lowWater = lowWater < highWater ? lowWater : highWater;
    m_drained = drained;
}

bool DecodeFramework::Write(const unsigned char* bytes, size_t n, bool* pause)
{
    if (pause) *pause = false;
    if (!m_ring) return false;
    m_ring->Enter();
    bool ok = m_ring->Write(bytes, n);
    bool full = m_highWater > 0 && m_drained && m_ring->Unread() >= m_highWater;
    // Before the wake-up below: the thread that takes it sees the flag, so
    // a paused feeder is always told to read again.
    if (full) m_paused.store(true);
    m_ring->Leave();
    if (pause) *pause = full;
    // At the maximum the release is refused; a wake-up is pending then anyway.
    if (ok) Platform_ReleaseSemaphore(&m_semaphore, 1);
    return ok;
}

void DecodeFramework::AfterDecode(bool idle)
{
    if (!m_paused.load() || !m_drained) return;
    if (!idle && m_ring && m_ring->Unread() > m_lowWater) return;
    if (m_paused.exchange(false)) m_drained(m_context);
}

void DecodeFramework::StopDecodeThread()
{
    m_stopped = 0;
    m_thread.Stop();
    while (!m_thread.IsEnded()) {
        Log_Info("%s isRunstop=false", "DFW::DecodeFramework::StopDecodeThread");
        Platform_Sleep(1000);
    }
    m_stopped = 1;
}

void DecodeFramework_Destroy(DecodeFramework** framework)
{
    if (!framework || !*framework) return;
    (*framework)->StopDecodeThread();
    delete *framework;
    *framework = nullptr;
    Log_Info("%s isDecodeThreadRunstop=true", "DFW::DecodeFramework_Destroy");
}

}  // namespace DFW
