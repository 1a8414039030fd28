// The command queue alone: pushes, the drain's order, pushes and drains from
// inside a run, what a free takes with it, and pushes racing a drain.
#include "net/CommandQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// channelID names the poster, subscriberID the sequence within it.
DecodingEvent* Event(uint64_t poster, uint64_t seq)
{
    DecodingEvent* event = DecodingEvent_Alloc();
    event->channelID = poster;
    event->subscriberID = seq;
    return event;
}

struct Runs {
    CommandQueue* queue = nullptr;
    std::vector<std::pair<uint64_t, uint64_t>> seen;
    // What the run does besides recording (push more, drain again).
    void (*also)(Runs* runs, DecodingEvent* event) = nullptr;

    static void Run(DecodingEvent* event, void* context)
    {
        Runs* runs = static_cast<Runs*>(context);
        runs->seen.push_back({event->channelID, event->subscriberID});
        if (runs->also) runs->also(runs, event);
    }
    void Drain() { CommandQueue_Drain(queue, Run, this); }
};

class CommandQueueTest : public ::testing::Test {
protected:
    void SetUp() override { runs.queue = queue = CommandQueue_Create(); }
    void TearDown() override { CommandQueue_Free(queue); }
    CommandQueue* queue = nullptr;
    Runs runs;
};

}  // namespace

TEST_F(CommandQueueTest, DrainRunsEveryEventOnceInPushOrderAndEmptiesTheQueue)
{
    EXPECT_EQ(0u, CommandQueue_Count(queue));
    runs.Drain();  // an empty drain runs nothing
    EXPECT_TRUE(runs.seen.empty());

    for (uint64_t i = 1; i <= 5; ++i) CommandQueue_Push(queue, Event(1, i));
    EXPECT_EQ(5u, CommandQueue_Count(queue));
    runs.Drain();
    EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{1, 1}, {1, 2}, {1, 3}, {1, 4}, {1, 5}}), runs.seen);
    EXPECT_EQ(0u, CommandQueue_Count(queue));

    // The emptied queue links new events from its head again.
    CommandQueue_Push(queue, Event(2, 1));
    runs.Drain();
    EXPECT_EQ(6u, runs.seen.size());
    EXPECT_EQ((std::pair<uint64_t, uint64_t>{2, 1}), runs.seen.back());
}

// An event pushed by a run goes behind those already queued and runs in the
// same drain; a drain started from a run returns at once instead of running
// the current event again.
TEST_F(CommandQueueTest, EventsPushedAndDrainsStartedFromARunStayInTheOuterDrain)
{
    runs.also = [](Runs* r, DecodingEvent* event) {
        if (event->channelID == 1) CommandQueue_Push(r->queue, Event(9, event->subscriberID));
        r->Drain();
    };
    CommandQueue_Push(queue, Event(1, 1));
    CommandQueue_Push(queue, Event(1, 2));
    runs.Drain();
    EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{1, 1}, {1, 2}, {9, 1}, {9, 2}}), runs.seen);
    EXPECT_EQ(0u, CommandQueue_Count(queue));
}

// Unrun events and their chains go with the queue (the sanitizer build
// fails on a leak); a drained event's chain goes with the event.
TEST_F(CommandQueueTest, EventsAndTheirChainsAreFreedWhetherRunOrNot)
{
    std::string big(20000, 'x');
    for (int i = 0; i < 3; ++i) {
        DecodingEvent* event = Event(1, i);
        event->chain = CommonDataChain_Alloc();
        CommonDataChain_AppendAll(event->chain, big.data(), big.size());
        CommandQueue_Push(queue, event);
    }
    runs.also = [](Runs* r, DecodingEvent*) {
        DecodingEvent* late = Event(2, 0);
        late->chain = CommonDataChain_Alloc();
        CommandQueue_Push(r->queue, late);
        r->also = nullptr;
    };
    runs.Drain();
    EXPECT_EQ(4u, runs.seen.size());

    CommandQueue* other = CommandQueue_Create();
    DecodingEvent* unrun = Event(3, 0);
    unrun->chain = CommonDataChain_Alloc();
    CommonDataChain_AppendAll(unrun->chain, big.data(), big.size());
    CommandQueue_Push(other, unrun);
    CommandQueue_Free(other);
    DecodingEvent_Free(nullptr);
}

// Four threads push while this one drains: every event runs exactly once,
// and each thread's events in the order it pushed them.
TEST_F(CommandQueueTest, PushesRacingADrainRunOnceEachInEachPushersOrder)
{
    const unsigned pushers = 4, perPusher = 2000;
    std::atomic<unsigned> done{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < pushers; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned i = 0; i < perPusher; ++i) CommandQueue_Push(queue, Event(t, i));
            ++done;
        });
    }
    while (done.load() < pushers) runs.Drain();
    for (std::thread& t : threads) t.join();
    runs.Drain();

    ASSERT_EQ(size_t(pushers) * perPusher, runs.seen.size());
    std::vector<uint64_t> next(pushers, 0);
    for (const auto& [poster, seq] : runs.seen) {
        ASSERT_LT(poster, pushers);
        ASSERT_EQ(next[poster], seq) << "pusher " << poster;
        ++next[poster];
    }
    EXPECT_EQ(0u, CommandQueue_Count(queue));
}
