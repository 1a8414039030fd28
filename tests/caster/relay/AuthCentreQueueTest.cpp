// The authentication centre's queue: an ask is posted only when it is still
// wanted at its turn, every ask is told once what became of it, a full queue
// answers at once, and nothing an ask throws ends a centre thread.
#include "caster/relay/AuthCentreQueue.h"
#include "caster/relay/HeldCentreQueue.h"

#include "caster/relay/AuthCentre.h"
#include "support/FakeAuthCentre.h"
#include "support/LogCapture.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// What one ask was told, and where its "still wanted" test ran.
struct Told {
    std::atomic<int> times{0};
    std::atomic<int> outcome{-1};
    std::atomic<int> code{0};
    std::atomic<int> wantedCalls{0};
    std::thread::id wantedOn;
};

class AuthCentreQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
        AuthCentre::GlobalInit();
        record_ = HeldCentreQueue::RecordFor(centre_.Url());
    }

    // An ask of name to the answering centre, wanted while *wanted holds.
    void Ask(const std::string& name, Told* told, std::atomic<bool>* wanted)
    {
        AuthCentreQueue_Ask(
            &record_, name, "pw", "1",
            [told, wanted] {
                told->wantedOn = std::this_thread::get_id();
                ++told->wantedCalls;
                return wanted->load();
            },
            [told](AuthCentreOutcome outcome, int code) {
                told->outcome = outcome;
                told->code = code;
                ++told->times;
            });
    }

    static bool WaitTold(const Told& told) { return WaitFor([&] { return told.times.load() > 0; }, 20000, 5); }

    LogCapture log_;
    FakeAuthCentre centre_{FakeAuthCentre::Answer{}};
    AuthCentreConfig record_;
};

}  // namespace

// Three asks wait behind busy threads. One stops being wanted meanwhile and
// one never was: both are told "not asked" and never reach the centre; the
// third is posted and answered.
TEST_F(AuthCentreQueueTest, AnAskNoLongerWantedAtItsTurnIsToldSoAndNeverPosted)
{
    HeldCentreQueue held;
    ASSERT_TRUE(held.Hold());
    Told left, never, stays;
    std::atomic<bool> leftWanted{true}, neverWanted{false}, staysWanted{true};
    Ask("left", &left, &leftWanted);
    Ask("never", &never, &neverWanted);
    Ask("stays", &stays, &staysWanted);
    leftWanted = false;  // its rover leaves while it waits
    EXPECT_EQ(0, left.wantedCalls.load()) << "asked whether wanted only at its turn";

    ASSERT_TRUE(held.Release());
    ASSERT_TRUE(WaitTold(left) && WaitTold(never) && WaitTold(stays));
    EXPECT_EQ(AUTH_CENTRE_NOT_ASKED, left.outcome.load());
    EXPECT_EQ(AUTH_CENTRE_NOT_ASKED, never.outcome.load());
    EXPECT_EQ(-1, left.code.load());
    EXPECT_EQ(AUTH_CENTRE_ANSWERED, stays.outcome.load());
    EXPECT_EQ(0, stays.code.load());
    for (const Told* told : {&left, &never, &stays}) {
        EXPECT_EQ(1, told->times.load());
        EXPECT_EQ(1, told->wantedCalls.load());
        EXPECT_NE(std::this_thread::get_id(), told->wantedOn) << "asked on a centre thread";
    }
    EXPECT_EQ(1u, centre_.RequestCount());
    EXPECT_EQ(1u, centre_.RequestCountOf("stays"));
}

// With the threads busy and AUTH_CENTRE_QUEUE_MAX asks waiting, the next one
// is told "queue full" before the call returns. The waiting asks are no
// longer wanted when the threads come free: none of them is posted, and
// their places are free again.
TEST_F(AuthCentreQueueTest, AFullQueueAnswersAtOnceAndDroppedAsksFreeTheirPlaces)
{
    HeldCentreQueue held;
    ASSERT_TRUE(held.Hold());
    held.Fill();
    Told over;
    std::atomic<bool> wanted{true};
    Ask("over", &over, &wanted);
    EXPECT_EQ(1, over.times.load()) << "told before the call returned";
    EXPECT_EQ(AUTH_CENTRE_QUEUE_FULL, over.outcome.load());
    EXPECT_EQ(-1, over.code.load());
    EXPECT_EQ(0, over.wantedCalls.load());

    ASSERT_TRUE(held.Release());
    EXPECT_EQ(AUTH_CENTRE_QUEUE_MAX, held.FillersDropped());
    EXPECT_EQ(0u, held.FillersPosted());

    Told next;
    Ask("next", &next, &wanted);
    ASSERT_TRUE(WaitTold(next));
    EXPECT_EQ(AUTH_CENTRE_ANSWERED, next.outcome.load());
    EXPECT_EQ(0, next.code.load());
}

// Answers and "still wanted" tests that throw, more of them than there are
// threads: each is logged, an ask whose test threw is told it failed, and
// the threads go on to answer the next ask.
TEST_F(AuthCentreQueueTest, NothingAnAskThrowsEndsACentreThread)
{
    const int kThrowing = 2 * AUTH_CENTRE_QUEUE_THREADS;
    std::atomic<int> threw{0};
    for (int i = 0; i < kThrowing; ++i) {
        AuthCentreQueue_Ask(&record_, "throws", "pw", "1", nullptr, [&threw, i](AuthCentreOutcome, int) {
            ++threw;
            if (i % 2) throw std::runtime_error("an answer that throws");
            throw 7;  // not even a std::exception
        });
    }
    Told failed;
    AuthCentreQueue_Ask(
        &record_, "wanted-throws", "pw", "1", []() -> bool { throw std::runtime_error("a test that throws"); },
        [&failed](AuthCentreOutcome outcome, int code) {
            failed.outcome = outcome;
            failed.code = code;
            ++failed.times;
        });
    ASSERT_TRUE(WaitFor([&] { return threw.load() == kThrowing; }, 20000, 5));
    ASSERT_TRUE(WaitTold(failed));
    EXPECT_EQ(AUTH_CENTRE_FAILED, failed.outcome.load());
    EXPECT_EQ(-1, failed.code.load());
    EXPECT_EQ(1, failed.times.load());

    // Every thread is still there: as many asks as threads, all held at once.
    HeldCentreQueue held;
    EXPECT_TRUE(held.Hold()) << "a centre thread ended";
    ASSERT_TRUE(held.Release());
    Told after;
    std::atomic<bool> wanted{true};
    Ask("after", &after, &wanted);
    ASSERT_TRUE(WaitTold(after));
    EXPECT_EQ(AUTH_CENTRE_ANSWERED, after.outcome.load());
    EXPECT_EQ(0, after.code.load());
    EXPECT_EQ(0u, centre_.RequestCountOf("wanted-throws"));
    EXPECT_TRUE(log_.Has("AuthCentreQueue_Serve:check of throws failed: an answer that throws"));
    EXPECT_TRUE(log_.Has("AuthCentreQueue_Serve:check of throws failed\n"));
    EXPECT_TRUE(log_.Has("AuthCentreQueue_Serve:check of wanted-throws failed: a test that throws"));
}

// The stop of an orderly exit: the asks still waiting and any asked after it
// are told "not asked" and never posted; the checks in flight, whose centre
// answers after it, are told so; the threads are joined once those checks
// have ended, and not before.
TEST_F(AuthCentreQueueTest, TheStopTellsTheWaitingAsksAndJoinsTheThreadsOnceTheirChecksEnd)
{
    HeldCentreQueue held;
    ASSERT_TRUE(held.Hold());
    std::atomic<bool> wanted{true};
    Told waiting, late;
    Ask("waiting", &waiting, &wanted);
    EXPECT_FALSE(AuthCentreQueue_Stop(300)) << "joined threads still held by the centre";
    ASSERT_TRUE(WaitTold(waiting));
    EXPECT_EQ(AUTH_CENTRE_NOT_ASKED, waiting.outcome.load());
    Ask("late", &late, &wanted);
    EXPECT_EQ(1, late.times.load()) << "an ask after the stop waits";
    EXPECT_EQ(AUTH_CENTRE_NOT_ASKED, late.outcome.load());
    EXPECT_TRUE(held.Release());
    EXPECT_EQ(AUTH_CENTRE_QUEUE_THREADS, held.ToldStopped()) << "an answer after the stop was acted on";
    EXPECT_TRUE(AuthCentreQueue_Stop(20000));
    EXPECT_EQ(0u, centre_.RequestCount());
    EXPECT_EQ(0, waiting.wantedCalls.load() + late.wantedCalls.load());
}
