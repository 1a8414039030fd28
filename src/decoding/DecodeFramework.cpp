#include "decoding/DecodeFramework.h"

#include "runtime/Log.h"

namespace DFW {

DecodeFramework::DecodeFramework()
    : m_stopped(0), m_ring(nullptr), m_decode(nullptr), m_dispatch(nullptr), m_context(nullptr)
{
    if (!Platform_CreateSemaphore(&m_semaphore, 0, DECODE_SEMAPHORE_MAX)) {
        Log_Fatal("%s:CreateSemaphore fail, abort", "DFW::DecodeFramework::DecodeFramework");
    }
}

DecodeFramework::~DecodeFramework()
{
    m_thread.Stop();
    Platform_Sleep(10);
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

bool DecodeFramework::Write(const unsigned char* bytes, size_t n)
{
    if (!m_ring) return false;
    m_ring->Enter();
    bool ok = m_ring->Write(bytes, n);
    m_ring->Leave();
    // At the maximum the release is refused; a wake-up is pending then anyway.
    if (ok) Platform_ReleaseSemaphore(&m_semaphore, 1);
    return ok;
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
