// The thread that decodes one framework's ring buffer: it sleeps on the
// framework's semaphore, and each wake-up decodes until nothing more is
// consumed.
#pragma once

#include "decoding/DecodeSource.h"
#include "platform/Thread.h"
#include "runtime/Lock.h"

#include <atomic>
#include <cstddef>

namespace DFW {

static const size_t DECODE_PEEK_CAPACITY = 20000;

class DecodeThread {
public:
    DecodeThread();
    virtual ~DecodeThread();
    DecodeThread(const DecodeThread&) = delete;
    DecodeThread& operator=(const DecodeThread&) = delete;

    // Starts the thread running Run over the framework's source; false when
    // it cannot.
    virtual bool Start(DecodeSource* framework) = 0;

    // The thread's body: wait, decode, until stopped.
    void Run();

    // One decode step. Non-zero only when bytes were consumed or dropped, so
    // the caller knows whether another step can make progress.
    int DecodeOnce();

    // Sets the stop flag, wakes the thread and waits for it to end. Only the
    // first call does anything. Never call it from the decode thread itself.
    void Stop();

    bool IsStopping();
    bool IsEnded() const { return m_ended.load() != 0; }

protected:
    DecodeSource* m_framework;
    unsigned char* m_peek;
    size_t m_peekCapacity;
    bool m_IsStop;  // under m_lock
    PlatformThread* m_thread;
    Lock m_lock;
    std::atomic<int> m_ended;  // 0 while Run runs, 1 otherwise
};

// The decode thread on the platform's threads.
class WinDecodeThread : public DecodeThread {
public:
    bool Start(DecodeSource* framework) override;
};

}  // namespace DFW
