#include "decoding/DecodeExecutor.h"

#include "platform/Thread.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Log lines of cases that do not read them go to a temporary folder.
const LogCapture kLogElsewhere;

// A unit holding one '\n'-terminated line.
class LineUnit : public Tarnek::LogRoot {
public:
    explicit LineUnit(std::string t) : text(std::move(t)) {}
    int GetKind() const override { return 1; }
    int GetType() const override { return 0; }
    Tarnek::LogRoot* Clone() const override { return new LineUnit(text); }
    std::string text;
};

struct Seen {
    std::mutex mutex;
    std::map<uint64_t, std::vector<std::string>> lines;
    std::map<uint64_t, long> threads;
    std::vector<size_t> lengths;  // what the decoder was given, in call order
    bool mixedThreads = false;
};

Seen* g_seen = nullptr;

bool LineDecode(const unsigned char* bytes, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    *unit = nullptr;
    *consumed = 0;
    {
        std::lock_guard<std::mutex> guard(g_seen->mutex);
        g_seen->lengths.push_back(length);
    }
    const void* nl = memchr(bytes, '\n', length);
    if (!nl) return false;
    size_t n = static_cast<const unsigned char*>(nl) - bytes + 1;
    *unit = new LineUnit(std::string(reinterpret_cast<const char*>(bytes), n - 1));
    *consumed = n;
    return true;
}

// Never consumes: everything stays queued.
bool HoldDecode(const unsigned char*, size_t length, Tarnek::LogRoot** unit, size_t* consumed)
{
    *unit = nullptr;
    *consumed = 0;
    std::lock_guard<std::mutex> guard(g_seen->mutex);
    g_seen->lengths.push_back(length);
    return false;
}

bool Record(Tarnek::LogRoot** unit, uint64_t channelID)
{
    LineUnit* line = static_cast<LineUnit*>(*unit);
    std::lock_guard<std::mutex> guard(g_seen->mutex);
    g_seen->lines[channelID].push_back(line->text);
    long tid = Platform_ThreadId();
    auto it = g_seen->threads.find(channelID);
    if (it == g_seen->threads.end()) {
        g_seen->threads[channelID] = tid;
    } else if (it->second != tid) {
        g_seen->mixedThreads = true;
    }
    delete line;
    *unit = nullptr;
    return true;
}

class DecodeExecutorTest : public ::testing::Test {
protected:
    void SetUp() override { g_seen = &seen_; }
    void TearDown() override { g_seen = nullptr; }

    static bool Push(DecodeExecutor* e, uint64_t channel, const std::string& bytes)
    {
        return DecodeExecutor_Push(e, channel, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                   "TestExecutor");
    }

    Seen seen_;
};

}  // namespace

TEST_F(DecodeExecutorTest, NewChannelsGoRoundTheWorkers)
{
    DecodeExecutor* e = DecodeExecutor_Create(2, LineDecode, Record);
    ASSERT_NE(nullptr, e->pool);
    for (uint64_t ch = 1; ch <= 5; ++ch) ASSERT_TRUE(Push(e, ch * 100, "x\n"));
    EXPECT_EQ(1, DecodeExecutor_WorkerOf(e, 100));
    EXPECT_EQ(0, DecodeExecutor_WorkerOf(e, 200));
    EXPECT_EQ(1, DecodeExecutor_WorkerOf(e, 300));
    EXPECT_EQ(0, DecodeExecutor_WorkerOf(e, 400));
    EXPECT_EQ(-1, DecodeExecutor_WorkerOf(e, 999));
    ASSERT_TRUE(Push(e, 100, "y\n"));  // an existing channel keeps its worker
    EXPECT_EQ(1, DecodeExecutor_WorkerOf(e, 100));
    DecodeExecutor_Destroy(e);
    EXPECT_EQ(seen_.threads[100], seen_.threads[300]);
    EXPECT_NE(seen_.threads[100], seen_.threads[200]);
    EXPECT_FALSE(seen_.mixedThreads);

    WorkerPool* pool = WorkerPool_Create(3);
    ASSERT_NE(nullptr, pool);
    pool->counter = 1000001;  // past the reset point the count starts again
    EXPECT_EQ(1, WorkerPool_NextWorker(pool));
    EXPECT_EQ(2, WorkerPool_NextWorker(pool));
    EXPECT_EQ(0, WorkerPool_NextWorker(pool));
    EXPECT_FALSE(WorkerPool_Post(pool, DecodeExecutor_RunTask, nullptr, 3));
    WorkerPool_Destroy(pool);
}

TEST_F(DecodeExecutorTest, EachChannelIsDecodedInPushOrderAcrossChunks)
{
    DecodeExecutor* e = DecodeExecutor_Create(3, LineDecode, Record);
    const int kChannels = 7, kLines = 300;
    std::map<uint64_t, std::string> streams;
    for (int c = 1; c <= kChannels; ++c) {
        std::string s;
        for (int i = 0; i < kLines; ++i) s += "ch" + std::to_string(c) + "-line" + std::to_string(i) + "\n";
        streams[c] = s;
    }
    // Interleave the channels, cutting each stream into odd-sized chunks that
    // split lines anywhere.
    std::map<uint64_t, size_t> at;
    bool more = true;
    for (int round = 0; more; ++round) {
        more = false;
        for (auto& kv : streams) {
            size_t& pos = at[kv.first];
            if (pos >= kv.second.size()) continue;
            size_t n = 1 + (round * 7 + kv.first * 13) % 37;
            ASSERT_TRUE(Push(e, kv.first, kv.second.substr(pos, n)));
            pos += n;
            more = true;
        }
    }
    DecodeExecutor_Destroy(e);
    EXPECT_FALSE(seen_.mixedThreads);
    for (int c = 1; c <= kChannels; ++c) {
        const std::vector<std::string>& lines = seen_.lines[c];
        ASSERT_EQ(static_cast<size_t>(kLines), lines.size()) << c;
        for (int i = 0; i < kLines; ++i) {
            ASSERT_EQ("ch" + std::to_string(c) + "-line" + std::to_string(i), lines[i]);
        }
    }
}

TEST_F(DecodeExecutorTest, UnconsumedBytesWaitForTheNextChunk)
{
    DecodeExecutor* e = DecodeExecutor_Create(1, LineDecode, Record);
    ASSERT_TRUE(Push(e, 7, "ab"));
    ASSERT_TRUE(Push(e, 7, "c"));
    ASSERT_TRUE(Push(e, 7, "\nde\nf"));
    DecodeExecutor_Destroy(e);
    EXPECT_EQ((std::vector<std::string>{"abc", "de"}), seen_.lines[7]);
    // Each decode starts at the first unread byte with everything behind it.
    EXPECT_EQ((std::vector<size_t>{2, 3, 8, 4, 1}), seen_.lengths);
}

TEST_F(DecodeExecutorTest, OverflowDropsTheOlderHalfAndTheChunkThatDidNotFit)
{
    LogCapture log;
    DecodeExecutor* e = DecodeExecutor_Create(1, HoldDecode, Record);
    std::string chunk(5000, 'a');
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(Push(e, 1, chunk));
    ASSERT_TRUE(Push(e, 1, std::string(2048, 'b')));
    DecodeExecutor_Destroy(e);
    ASSERT_EQ(11u, seen_.lengths.size());
    EXPECT_EQ(50000u, seen_.lengths[9]);
    EXPECT_EQ(25000u, seen_.lengths[10]);
    EXPECT_TRUE(log.Has("queue of channel 1 full"));
}

TEST_F(DecodeExecutorTest, ChunksLargerThanOneBlockArriveWhole)
{
    DecodeExecutor* e = DecodeExecutor_Create(1, HoldDecode, Record);
    ASSERT_TRUE(Push(e, 1, std::string(12000, 'a')));
    DecodeExecutor_Destroy(e);
    EXPECT_EQ((std::vector<size_t>{12000}), seen_.lengths);
}

// A handler that gives a channel up: at its "stop" line the rest of what the
// channel queued is dropped undecoded, and so is what it pushes later, until
// its close gives it a fresh queue. Other channels go on.
namespace {

bool RecordUntilStop(Tarnek::LogRoot** unit, uint64_t channelID)
{
    bool stop = static_cast<LineUnit*>(*unit)->text == "stop";
    Record(unit, channelID);
    if (stop) DecodeExecutor_DropQueued();
    return true;
}

}  // namespace

TEST_F(DecodeExecutorTest, AHandlerDropsWhatItsChannelQueuedUntilTheClose)
{
    DecodeExecutor* e = DecodeExecutor_Create(1, LineDecode, RecordUntilStop);
    ASSERT_TRUE(Push(e, 1, "a\nstop\nb\nc\n"));
    ASSERT_TRUE(Push(e, 2, "x\n"));
    ASSERT_TRUE(Push(e, 1, "d\n"));
    DecodeExecutor_CloseChannel(e, 1);
    ASSERT_TRUE(Push(e, 1, "e\n"));
    ASSERT_TRUE(Push(e, 2, "y\n"));
    DecodeExecutor_Destroy(e);
    EXPECT_EQ((std::vector<std::string>{"a", "stop", "e"}), seen_.lines[1]);
    EXPECT_EQ((std::vector<std::string>{"x", "y"}), seen_.lines[2]);
}

TEST_F(DecodeExecutorTest, ACloseGivesTheNextPushAFreshQueue)
{
    DecodeExecutor* e = DecodeExecutor_Create(2, HoldDecode, Record);
    ASSERT_TRUE(Push(e, 5, "abc"));
    DecodeExecutor_CloseChannel(e, 5);
    EXPECT_EQ(-1, DecodeExecutor_WorkerOf(e, 5));
    DecodeExecutor_CloseChannel(e, 5);  // a second close finds nothing
    DecodeExecutor_CloseChannel(e, 6);
    ASSERT_TRUE(Push(e, 5, "X"));
    DecodeExecutor_Destroy(e);
    // The new entry may sit on the other worker, so the two decodes have no
    // order; the new queue holds only the new byte.
    std::sort(seen_.lengths.begin(), seen_.lengths.end());
    EXPECT_EQ((std::vector<size_t>{1, 3}), seen_.lengths);
}

TEST_F(DecodeExecutorTest, AnExecutorWithoutWorkersRefusesPushes)
{
    LogCapture log;
    for (int count : {0, -1, 101}) {
        DecodeExecutor* e = DecodeExecutor_Create(count, LineDecode, Record);
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(nullptr, e->pool);
        EXPECT_FALSE(Push(e, 1, "x\n"));
        EXPECT_FALSE(DecodeExecutor_PushData(e, reinterpret_cast<const unsigned char*>("x\n"), 1, 2));
        DecodeExecutor_CloseChannel(e, 1);
        DecodeExecutor_Destroy(e);
    }
    EXPECT_TRUE(log.Has("DecodeExecutor_Push:TestExecutor has no workers"));
    EXPECT_FALSE(Push(nullptr, 1, "x\n"));
    EXPECT_TRUE(seen_.lengths.empty());

    DecodeExecutor* full = DecodeExecutor_Create(100, LineDecode, Record);
    EXPECT_NE(nullptr, full->pool);
    DecodeExecutor_Destroy(full);
}

namespace {

struct HandedOff {
    std::mutex mutex;
    std::map<uint64_t, std::string> bytes;
    std::map<uint64_t, size_t> left;
};

HandedOff* g_handed = nullptr;

void RecordHandOff(uint64_t channelID, const unsigned char* bytes, size_t length)
{
    std::lock_guard<std::mutex> guard(g_handed->mutex);
    g_handed->bytes[channelID].append(reinterpret_cast<const char*>(bytes), length);
}

void RecordLeave(uint64_t channelID, size_t length)
{
    std::lock_guard<std::mutex> guard(g_handed->mutex);
    g_handed->left[channelID] += length;
}

// A "login" line hands its channel on; a "hold" line is decoded and
// handled, and leaves the channel to be handed on from elsewhere.
bool RecordUntilLogin(Tarnek::LogRoot** unit, uint64_t channelID)
{
    bool login = static_cast<LineUnit*>(*unit)->text == "login";
    Record(unit, channelID);
    if (login) DecodeExecutor_HandOffQueued();
    return true;
}

}  // namespace

// What follows a login in its chunk, and every later chunk, goes to the
// hand-off in order, never to the decoder; every byte pushed is told as
// gone once, decoded or handed off.
TEST_F(DecodeExecutorTest, AHandlerHandsOnWhatFollowsItsRequestAndEveryLaterByte)
{
    HandedOff handed;
    g_handed = &handed;
    DecodeExecutor* e = DecodeExecutor_Create(2, LineDecode, RecordUntilLogin);
    DecodeExecutor_SetHandOff(e, RecordHandOff, RecordLeave);
    const std::string first = "a\nlogin\nb\npartial";
    ASSERT_TRUE(Push(e, 1, first));
    ASSERT_TRUE(Push(e, 1, "\nc\n"));
    ASSERT_TRUE(Push(e, 2, "x\n"));
    // A channel whose login was decided elsewhere: what it queued meanwhile
    // (undecodable here) and what follows are handed on.
    ASSERT_TRUE(Push(e, 3, "hold\nno line yet"));
    DecodeExecutor_HandOff(e, 3);
    ASSERT_TRUE(Push(e, 3, "+more"));
    DecodeExecutor_HandOff(e, 99);  // no such channel: nothing
    DecodeExecutor_Destroy(e);
    g_handed = nullptr;
    EXPECT_EQ((std::vector<std::string>{"a", "login"}), seen_.lines[1]);
    EXPECT_EQ("b\npartial\nc\n", handed.bytes[1]);
    EXPECT_EQ(first.size() + 3, handed.left[1]);
    EXPECT_EQ((std::vector<std::string>{"x"}), seen_.lines[2]);
    EXPECT_EQ(0u, handed.bytes.count(2));
    EXPECT_EQ(2u, handed.left[2]);
    EXPECT_EQ((std::vector<std::string>{"hold"}), seen_.lines[3]);
    EXPECT_EQ("no line yet+more", handed.bytes[3]);
    EXPECT_EQ(std::string("hold\nno line yet+more").size(), handed.left[3]);
}

// Dropped bytes leave too: a channel's count never keeps bytes it will not see.
TEST_F(DecodeExecutorTest, DroppedBytesAreToldAsGone)
{
    HandedOff handed;
    g_handed = &handed;
    DecodeExecutor* e = DecodeExecutor_Create(1, LineDecode, RecordUntilStop);
    DecodeExecutor_SetHandOff(e, RecordHandOff, RecordLeave);
    ASSERT_TRUE(Push(e, 1, "a\nstop\nb\n"));
    ASSERT_TRUE(Push(e, 1, "dropped\n"));
    DecodeExecutor_Destroy(e);
    g_handed = nullptr;
    EXPECT_EQ(std::string("a\nstop\nb\ndropped\n").size(), handed.left[1]);
    EXPECT_EQ(0u, handed.bytes.count(1));
}
