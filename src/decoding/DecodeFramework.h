// Decodes one connection's byte stream on a thread of its own: the reader
// writes bytes into the ring buffer and releases the semaphore; the decode
// thread decodes what the bytes hold and hands each unit to the dispatcher.
//
// Life: construct -> Init -> StartDecodeThread -> Write ... ->
// DecodeFramework_Destroy (stops and joins the thread).
#pragma once

#include "decoding/DecodeSource.h"
#include "decoding/DecodeThread.h"

namespace DFW {

// Wake-ups pending at most; each one decodes until nothing is consumed, so
// more would add nothing.
static const long DECODE_SEMAPHORE_MAX = 10;

class DecodeFramework : public DecodeSource {
public:
    DecodeFramework();
    ~DecodeFramework() override;
    DecodeFramework(const DecodeFramework&) = delete;
    DecodeFramework& operator=(const DecodeFramework&) = delete;

    // Makes the ring buffer and keeps the three values. True; false when
    // called a second time.
    bool Init(DecodeFunc decode, DispatchFunc dispatch, void* context);

    // Starts the decode thread.
    bool StartDecodeThread();

    // The feeder's step: append the bytes under the ring's lock, then wake
    // the thread. False when the bytes did not fit (they are dropped).
    bool Write(const unsigned char* bytes, size_t n);

    // Stops the decode thread and waits until it has ended.
    void StopDecodeThread();

    WinDecodeThread* Thread() { return &m_thread; }
    RingBuffer* Ring() override { return m_ring; }
    PlatformSemaphore* Semaphore() override { return &m_semaphore; }
    DecodeFunc Decode() const override { return m_decode; }
    DispatchFunc Dispatch() const override { return m_dispatch; }
    void* Context() const override { return m_context; }
    bool IsStopped() const { return m_stopped != 0; }

private:
    int m_stopped;  // 1 once the thread has been stopped, 0 while stopping
    RingBuffer* m_ring;
    DecodeFunc m_decode;
    DispatchFunc m_dispatch;
    void* m_context;
    WinDecodeThread m_thread;
    PlatformSemaphore m_semaphore;
};

// Stops the thread, frees the framework and sets *framework to nullptr.
void DecodeFramework_Destroy(DecodeFramework** framework);

}  // namespace DFW
