// Decodes one connection's byte stream on a thread of its own: the reader
// writes bytes into the ring buffer and releases the semaphore; the decode
// thread decodes what the bytes hold and hands each unit to the dispatcher.
//
// Life: construct -> Init -> StartDecodeThread -> Write ... ->
// DecodeFramework_Destroy (stops and joins the thread), or
// DecodeFramework_Retire where the caller must not wait for the thread.
//
// Back-pressure: with a high-water mark set, a Write that leaves that many
// unread bytes tells the feeder to stop reading; once the decode thread has
// brought them down to the low-water mark, or can decode nothing more, it
// calls the drained function with the context, once per pause.
#pragma once

#include "decoding/DecodeSource.h"
#include "decoding/DecodeThread.h"

#include <atomic>

namespace DFW {

// Wake-ups pending at most; each one decodes until nothing is consumed, so
// more would add nothing.
static const long DECODE_SEMAPHORE_MAX = 10;

// Called on the decode thread when a paused feeder may read again.
typedef void (*DrainedFunc)(void* context);

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

    // Before StartDecodeThread: the marks (highWater 0: none, the default)
    // and the function that tells a paused feeder to read again.
    void SetBackPressure(size_t highWater, size_t lowWater, DrainedFunc drained);

    // The feeder's step: append the bytes under the ring's lock, then wake
    // the thread. False when the bytes did not fit (they are dropped).
    // *pause (when given) is set when the unread bytes have reached the
    // high-water mark: the feeder stops reading until the drained call.
    bool Write(const unsigned char* bytes, size_t n, bool* pause = nullptr);

    void AfterDecode(bool idle) override;

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
    size_t m_highWater;
    size_t m_lowWater;
    DrainedFunc m_drained;
    // Set by the feeder before the wake-up of the write that reached the
    // high-water mark, cleared by the decode thread as it calls m_drained.
    std::atomic<bool> m_paused;
};

// Stops the thread, frees the framework and sets *framework to nullptr.
void DecodeFramework_Destroy(DecodeFramework** framework);

// Hands the framework to the reaper thread, which stops its decode thread,
// waits for it, frees it and then calls after(arg) (the owner's own
// clean-up, e.g. the context the dispatcher was given). Returns at once: for
// an event loop, which must never wait for a decode thread that may sit in a
// slow handler. A null framework only has after(arg) called, on the reaper.
void DecodeFramework_Retire(DecodeFramework* framework, void (*after)(void*), void* arg);

// Frameworks handed to the reaper and not yet freed.
size_t DecodeFramework_RetiredPending();

// Frees what the reaper still holds and joins it; a later Retire destroys
// in place. Run at a normal process exit (registered when the reaper starts).
void DecodeFramework_StopReaper();

}  // namespace DFW
