// A framework whose consumer falls behind: the feeder is told to stop
// reading at the high-water mark and to read again once the decode thread
// has caught up; and a framework handed to the reaper, which frees it after
// its thread has finished the unit it was in, while the caller goes on.
#include "decoding/DecodeFramework.h"

#include "support/LogCapture.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

using namespace DFW;

namespace {

const LogCapture kLogElsewhere;

class Unit : public Tarnek::LogRoot {
public:
    int GetKind() const override { return 2; }
    int GetType() const override { return 0; }
    Tarnek::LogRoot* Clone() const override { return new Unit(); }
};

// Frames of the stream: one length byte and that many bytes.
bool Decode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    *unit = nullptr;
    *consumed = 0;
    if (length < 1 || length < 1u + bytes[0]) return false;
    *unit = new Unit();
    *consumed = 1u + bytes[0];
    return true;
}

// A dispatcher that holds every unit until the gate opens, like a handler
// sitting in a slow store.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int dispatched = 0;
    std::vector<void*> drained;
    int freed = 0;

    template <typename Pred>
    bool WaitFor(Pred pred)
    {
        return ::WaitFor(mutex, changed, pred, 10000);
    }
    void Open()
    {
        std::lock_guard<std::mutex> guard(mutex);
        open = true;
        changed.notify_all();
    }
};
Gate* g_gate = nullptr;

void HeldDispatch(Tarnek::LogRoot* unit, void*)
{
    delete unit;
    std::unique_lock<std::mutex> guard(g_gate->mutex);
    ++g_gate->dispatched;
    g_gate->changed.notify_all();
    g_gate->changed.wait(guard, [] { return g_gate->open; });
}

void Drained(void* context)
{
    std::lock_guard<std::mutex> guard(g_gate->mutex);
    g_gate->drained.push_back(context);
    g_gate->changed.notify_all();
}

void Freed(void* arg)
{
    Gate* gate = static_cast<Gate*>(arg);
    std::lock_guard<std::mutex> guard(gate->mutex);
    ++gate->freed;
    gate->changed.notify_all();
}

bool WriteFrame(DecodeFramework* f, size_t payload, bool* pause)
{
    std::string frame(1, static_cast<char>(payload));
    frame += std::string(payload, 'x');
    return f->Write(reinterpret_cast<const unsigned char*>(frame.data()), frame.size(), pause);
}

class FrameworkHandOffTest : public ::testing::Test {
protected:
    void SetUp() override { g_gate = &gate; }
    void TearDown() override { g_gate = nullptr; }
    Gate gate;
};

}  // namespace

TEST_F(FrameworkHandOffTest, TheFeederPausesAtTheHighMarkAndIsToldOnceToReadAgain)
{
    int context = 0;
    DecodeFramework* f = new DecodeFramework();
    ASSERT_TRUE(f->Init(Decode, HeldDispatch, &context));
    f->SetBackPressure(1000, 300, Drained);
    ASSERT_TRUE(f->StartDecodeThread());

    // The thread holds the first frame; the rest pile up in the ring.
    bool pause = true;
    ASSERT_TRUE(WriteFrame(f, 99, &pause));
    EXPECT_FALSE(pause);
    ASSERT_TRUE(gate.WaitFor([&] { return gate.dispatched == 1; }));
    int written = 1;
    while (!pause && written < 50) {
        ASSERT_TRUE(WriteFrame(f, 99, &pause));
        ++written;
    }
    ASSERT_TRUE(pause) << "never asked to pause";
    EXPECT_EQ(10, written) << "paused at 1000 unread bytes (the held frame counts until it is handled)";
    {
        std::lock_guard<std::mutex> guard(gate.mutex);
        EXPECT_TRUE(gate.drained.empty()) << "told to read while still behind";
    }

    gate.Open();
    ASSERT_TRUE(gate.WaitFor([&] { return gate.dispatched == written && gate.drained.size() == 1; }));
    EXPECT_EQ(&context, gate.drained[0]);

    // Below the mark nothing is paused, and nothing more is told.
    ASSERT_TRUE(WriteFrame(f, 99, &pause));
    EXPECT_FALSE(pause);
    ASSERT_TRUE(gate.WaitFor([&] { return gate.dispatched == written + 1; }));
    DecodeFramework_Destroy(&f);
    std::lock_guard<std::mutex> guard(gate.mutex);
    EXPECT_EQ(1u, gate.drained.size());
}

TEST_F(FrameworkHandOffTest, ARetiredFrameworkIsFreedAfterItsUnitWhileTheCallerGoesOn)
{
    DecodeFramework* f = new DecodeFramework();
    ASSERT_TRUE(f->Init(Decode, HeldDispatch, nullptr));
    ASSERT_TRUE(f->StartDecodeThread());
    bool pause = false;
    ASSERT_TRUE(WriteFrame(f, 10, &pause));
    ASSERT_TRUE(gate.WaitFor([&] { return gate.dispatched == 1; }));

    // The thread sits in its dispatch: the retire returns all the same.
    DecodeFramework_Retire(f, Freed, &gate);
    {
        std::lock_guard<std::mutex> guard(gate.mutex);
        EXPECT_EQ(0, gate.freed);
    }
    EXPECT_EQ(1u, DecodeFramework_RetiredPending());

    gate.Open();
    ASSERT_TRUE(gate.WaitFor([&] { return gate.freed == 1; }));
    for (int i = 0; i < 1000 && DecodeFramework_RetiredPending() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(0u, DecodeFramework_RetiredPending());

    // Without a framework only the owner's clean-up runs.
    DecodeFramework_Retire(nullptr, Freed, &gate);
    EXPECT_TRUE(gate.WaitFor([&] { return gate.freed == 2; }));
}
