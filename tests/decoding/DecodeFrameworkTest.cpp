#include "decoding/DecodeFramework.h"

#include "support/LogCapture.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

using namespace DFW;

namespace {

// Log lines of cases that do not read them go to a temporary folder.
const LogCapture kLogElsewhere;

// Frames of the test stream: one length byte, then that many payload bytes.
class FrameUnit : public Tarnek::LogRoot {
public:
    explicit FrameUnit(std::string p) : payload(std::move(p)) {}
    int GetKind() const override { return 2; }
    int GetType() const override { return 0; }
    Tarnek::LogRoot* Clone() const override { return new FrameUnit(payload); }
    std::string payload;
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<std::string> g_frames;
std::vector<size_t> g_decodeLengths;
void* g_context = nullptr;

bool FrameDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    *unit = nullptr;
    *consumed = 0;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        g_decodeLengths.push_back(length);
    }
    if (length < 1 || length < 1u + bytes[0]) return false;
    *unit = new FrameUnit(std::string(reinterpret_cast<const char*>(bytes) + 1, bytes[0]));
    *consumed = 1u + bytes[0];
    return true;
}

bool HoldDecode(const unsigned char*, size_t, Tarnek::LogRoot** unit, size_t* consumed)
{
    *unit = nullptr;
    *consumed = 0;
    return false;
}

void Dispatch(Tarnek::LogRoot* unit, void* context)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_frames.push_back(static_cast<FrameUnit*>(unit)->payload);
    g_context = context;
    delete unit;
    g_changed.notify_all();
}

std::string Frame(const std::string& payload)
{
    return std::string(1, static_cast<char>(payload.size())) + payload;
}

bool Write(DecodeFramework* f, const std::string& bytes)
{
    return f->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool WaitForFrames(size_t n)
{
    return WaitFor(g_mutex, g_changed, [n] { return g_frames.size() >= n; }, 10000);
}

// Drives DecodeOnce by hand, without a thread.
class ManualThread : public DecodeThread {
public:
    bool Start(DecodeSource* framework) override
    {
        m_framework = framework;
        return true;
    }
};

class DecodeFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        g_frames.clear();
        g_decodeLengths.clear();
        g_context = nullptr;
    }
};

}  // namespace

TEST_F(DecodeFrameworkTest, FramesAreDispatchedInOrderWithTheContext)
{
    LogCapture log;
    int context = 0;
    DecodeFramework* f = new DecodeFramework();
    ASSERT_TRUE(f->Init(FrameDecode, Dispatch, &context));
    EXPECT_FALSE(f->Init(FrameDecode, Dispatch, &context));
    ASSERT_TRUE(f->StartDecodeThread());

    // Three frames in one write: one wake-up decodes them all.
    ASSERT_TRUE(Write(f, Frame("one") + Frame("two") + Frame("three")));
    ASSERT_TRUE(WaitForFrames(3));

    // A frame split over two writes is decoded once its second part arrives.
    std::string split = Frame("split frame");
    ASSERT_TRUE(Write(f, split.substr(0, 4)));
    ASSERT_TRUE(Write(f, split.substr(4)));
    ASSERT_TRUE(WaitForFrames(4));

    // Many writes in a burst overrun the semaphore's maximum; none is lost.
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(Write(f, Frame("burst" + std::to_string(i))));
    ASSERT_TRUE(WaitForFrames(54));

    DecodeFramework_Destroy(&f);
    EXPECT_EQ(nullptr, f);
    std::lock_guard<std::mutex> guard(g_mutex);
    ASSERT_EQ(54u, g_frames.size());
    EXPECT_EQ("one", g_frames[0]);
    EXPECT_EQ("two", g_frames[1]);
    EXPECT_EQ("three", g_frames[2]);
    EXPECT_EQ("split frame", g_frames[3]);
    for (int i = 0; i < 50; ++i) EXPECT_EQ("burst" + std::to_string(i), g_frames[4 + i]);
    EXPECT_EQ(&context, g_context);
    EXPECT_TRUE(log.Has("DecodeThread::Run Start ,Decode Thread ID is "));
    EXPECT_TRUE(log.Has("DecodeThread::Run End ,Decode Thread ID is "));
    EXPECT_TRUE(log.Has("DFW::DecodeThread::Stop:start"));
    EXPECT_TRUE(log.Has("DFW::DecodeThread::Stop:end"));
    EXPECT_TRUE(log.Has("DFW::DecodeFramework_Destroy isDecodeThreadRunstop=true"));
}

TEST_F(DecodeFrameworkTest, DestroyingAWaitingThreadReturnsAfterItEnded)
{
    DecodeFramework* f = new DecodeFramework();
    ASSERT_TRUE(f->Init(FrameDecode, Dispatch, nullptr));
    ASSERT_TRUE(f->StartDecodeThread());
    DecodeFramework_Destroy(&f);
    EXPECT_EQ(nullptr, f);

    // Never started, or never initialised: destroying still returns.
    DecodeFramework* idle = new DecodeFramework();
    ASSERT_TRUE(idle->Init(FrameDecode, Dispatch, nullptr));
    DecodeFramework_Destroy(&idle);
    EXPECT_EQ(nullptr, idle);
    DecodeFramework* bare = new DecodeFramework();
    EXPECT_FALSE(bare->Write(reinterpret_cast<const unsigned char*>("x"), 1));
    DecodeFramework_Destroy(&bare);
    DecodeFramework_Destroy(&bare);
}

TEST_F(DecodeFrameworkTest, OneByteAloneIsNeverDecoded)
{
    DecodeFramework f;
    ASSERT_TRUE(f.Init(FrameDecode, Dispatch, nullptr));
    ManualThread thread;
    thread.Start(&f);
    ASSERT_TRUE(f.Ring()->Write(reinterpret_cast<const unsigned char*>("\0"), 1));
    EXPECT_EQ(0, thread.DecodeOnce());
    EXPECT_TRUE(g_decodeLengths.empty());
    ASSERT_TRUE(f.Ring()->Write(reinterpret_cast<const unsigned char*>("\0"), 1));
    EXPECT_EQ(1, thread.DecodeOnce());
    EXPECT_EQ((std::vector<size_t>{2}), g_decodeLengths);
    EXPECT_EQ(0, thread.DecodeOnce());  // one byte left
    thread.Stop();
}

TEST_F(DecodeFrameworkTest, AWriteEndingAtTheRingsEndLosesNoFrame)
{
    DecodeFramework f;
    ASSERT_TRUE(f.Init(FrameDecode, Dispatch, nullptr));
    ManualThread thread;
    thread.Start(&f);
    RingBuffer* ring = f.Ring();

    // 400 frames of 250 bytes fill the ring exactly.
    std::string all;
    for (int i = 0; i < 400; ++i) {
        std::string p = std::to_string(i);
        all += Frame(p + std::string(249 - p.size(), '.'));
    }
    ASSERT_EQ(RING_BUFFER_CAPACITY, all.size());
    ASSERT_TRUE(ring->Write(reinterpret_cast<const unsigned char*>(all.data()), all.size()));
    ASSERT_EQ(RING_BUFFER_CAPACITY, ring->WritePosition());

    // Decode half, then top the ring up to its end again.
    for (int i = 0; i < 200; ++i) ASSERT_EQ(250, thread.DecodeOnce());
    std::string more;
    for (int i = 400; i < 600; ++i) {
        std::string p = std::to_string(i);
        more += Frame(p + std::string(249 - p.size(), '.'));
    }
    ASSERT_TRUE(ring->Write(reinterpret_cast<const unsigned char*>(more.data()), more.size()));
    ASSERT_EQ(RING_BUFFER_CAPACITY, ring->WritePosition());

    int decoded = 200;
    while (thread.DecodeOnce() != 0) ++decoded;
    EXPECT_EQ(600, decoded);
    ASSERT_EQ(600u, g_frames.size());
    for (int i = 0; i < 600; ++i) ASSERT_EQ(0u, g_frames[i].find(std::to_string(i) + ".")) << i;

    // Nothing unread: no busy loop.
    EXPECT_EQ(0, thread.DecodeOnce());
    EXPECT_EQ(0u, ring->Unread());
    thread.Stop();
}

TEST_F(DecodeFrameworkTest, AFullRingThatCannotBeDecodedDropsItsOldestBytes)
{
    LogCapture log;
    DecodeFramework f;
    ASSERT_TRUE(f.Init(HoldDecode, Dispatch, nullptr));
    ManualThread thread;
    thread.Start(&f);
    RingBuffer* ring = f.Ring();

    std::string bytes(60000, 'a');
    ASSERT_TRUE(ring->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    EXPECT_EQ(0, thread.DecodeOnce());  // not full: it waits for more
    EXPECT_EQ(60000u, ring->Unread());
    EXPECT_FALSE(ring->Write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    ASSERT_TRUE(ring->Write(reinterpret_cast<const unsigned char*>(bytes.data()), 40000));
    EXPECT_EQ(50000, thread.DecodeOnce());
    EXPECT_EQ(50000u, ring->Unread());
    EXPECT_EQ(0, thread.DecodeOnce());
    EXPECT_TRUE(log.Has("ring full and undecodable, dropped 50000 bytes"));
    thread.Stop();
}

TEST(RingBuffer, WriteCompactsWhenNeeded)
{
    RingBuffer ring(10);
    const unsigned char* d = reinterpret_cast<const unsigned char*>("0123456789ABCDEF");
    EXPECT_FALSE(ring.Write(d, 0));
    EXPECT_FALSE(ring.Write(d, 11));
    ASSERT_TRUE(ring.Write(d, 8));
    EXPECT_EQ(3u, ring.Consume(3));
    ASSERT_TRUE(ring.Write(d + 8, 4));  // compacts first
    EXPECT_EQ(0u, ring.ReadPosition());
    EXPECT_EQ(9u, ring.WritePosition());
    unsigned char out[16] = {0};
    EXPECT_EQ(9u, ring.Peek(out, sizeof(out)));
    EXPECT_EQ(0, memcmp(out, "3456789AB", 9));
    EXPECT_EQ(4u, ring.Peek(out, 4));
    EXPECT_FALSE(ring.Write(d, 2));
    EXPECT_EQ(9u, ring.Consume(100));
    EXPECT_EQ(0u, ring.Unread());
}
