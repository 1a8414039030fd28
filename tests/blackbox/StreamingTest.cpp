// A base's stream on its way to rovers: a relogin that takes the mount over
// under its rovers' feet, rovers logging in while the stream runs, the base
// keep-alive, and a rover that stops reading.
#include "blackbox/CasterFixture.h"
#include "blackbox/GnssFrames.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace NtripTexts;
using GnssFrames::CounterBytes;
using GnssFrames::CounterOffset;
using RawPeers::LoginBase;
using RawPeers::LoginRover;
using RawPeers::StaysQuiet;

// A new rover's subscription is made just after its reply: bytes a base
// sends in that instant may miss it. Tests that count every byte wait this
// long after a rover's reply before the base streams.
const int kSettleMs = 200;

class BlackboxStreaming : public CasterTest {};

TEST_F(BlackboxStreaming, SecondBaseTakesTheMountOverAndItsRoverKeepsReceiving)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("alice", "Alice-Pw-731"));

    TestClient first;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&first, "MNT1", "Base-Pw-1"));
    TestClient rover;
    std::string reply;
    ASSERT_TRUE(LoginRover(&rover, Port(), "MNT1", "alice", "Alice-Pw-731", &reply)) << Printable(reply);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));

    const std::string fromFirst = GnssFrames::RtcmFiller(1074, 600, 21) + GnssFrames::RtcmFiller(1084, 300, 22);
    ASSERT_TRUE(first.Send(fromFirst));
    std::string got = rover.ReadExactly(fromFirst.size(), RawPeers::kReplyMs);
    ASSERT_EQ(got, fromFirst) << Printable(got);

    TestClient second;
    ASSERT_TRUE(LoginBase(&second, Port(), "MNT1", "Base-Pw-1", &reply)) << Printable(reply);
    EXPECT_TRUE(first.WaitClosed(RawPeers::kReplyMs)) << "the first base's connection must be closed";

    const std::string fromSecond = GnssFrames::RtcmFiller(1094, 500, 23) + GnssFrames::RtcmFiller(1124, 200, 24);
    ASSERT_TRUE(second.Send(fromSecond));
    // Exactly the new base's bytes: no second reply, nothing lost.
    got = rover.ReadExactly(fromSecond.size(), RawPeers::kReplyMs);
    EXPECT_EQ(got, fromSecond) << Printable(got);
    std::string extra;
    EXPECT_TRUE(StaysQuiet(&rover, 300, &extra)) << Printable(extra);

    std::string table = RawPeers::FetchSourceTable(Port());
    size_t at = table.find(StrLine("MNT1"));
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(table.find(StrLine("MNT1"), at + 1), std::string::npos) << "MNT1 listed twice";
}

// The reply is queued before the subscription: however the stream's chunks
// fall, each rover's first bytes are the whole reply, then one unbroken
// piece of the stream.
TEST_F(BlackboxStreaming, TwentyRoversJoiningA100KBsStreamEachGetTheReplyFirst)
{
    const int kRovers = 20;
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    for (int i = 0; i < kRovers; ++i) ASSERT_TRUE(vorlane.AddRoverAccount("r" + std::to_string(i), "R-Pw"));

    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    RawPeers::CounterStream stream(&base, 1000, 10);  // 100 KB/s
    stream.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    struct Result {
        std::string head;
        std::string rest;
    };
    std::vector<Result> results(kRovers);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kRovers; ++i) {
        threads.emplace_back([&, i] {
            TestClient rover;
            bool connected = rover.Connect(Port());
            ++ready;
            while (!go) std::this_thread::yield();
            if (!connected || !rover.Send(GetRequest("MNT1", "r" + std::to_string(i), "R-Pw"))) return;
            results[i].head = rover.ReadExactly(kIcyOk.size(), RawPeers::kReplyMs);
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
            while (std::chrono::steady_clock::now() < end && !rover.PeerClosed()) {
                results[i].rest += rover.ReadAvailable(50);
            }
        });
    }
    while (ready < kRovers) std::this_thread::yield();
    go = true;
    for (std::thread& t : threads) t.join();
    stream.Stop();
    EXPECT_FALSE(stream.Failed());

    for (int i = 0; i < kRovers; ++i) {
        EXPECT_EQ(results[i].head, kIcyOk) << "rover " << i << ": " << Printable(results[i].head + results[i].rest);
        uint64_t offset = 0;
        EXPECT_TRUE(CounterOffset(results[i].rest, &offset))
            << "rover " << i << ": the stream after the reply is not one unbroken piece: "
            << Printable(results[i].rest, 80);
        // A second of a 100 KB/s stream; half of it is plenty to show it flows.
        EXPECT_GT(results[i].rest.size(), size_t(50000)) << "rover " << i;
    }
}

// Keep-alives go out at most once per 10 s while a base sends: the first
// read after the login always brings one.
TEST_F(BlackboxStreaming, BaseSendingEverySecondFor25sGetsThreeKeepAlives)
{
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_NO_FATAL_FAILURE(StartCaster());

    TestClient base;
    std::string reply;
    ASSERT_TRUE(LoginBase(&base, Port(), "MNT1", "Base-Pw-1", &reply)) << Printable(reply);

    std::string received;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 25; ++i) {
        auto at = start + std::chrono::seconds(i);
        while (std::chrono::steady_clock::now() < at) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - std::chrono::steady_clock::now());
            received += base.ReadAvailable(static_cast<int>(std::max<int64_t>(1, left.count())));
        }
        ASSERT_TRUE(base.Send(GnssFrames::RtcmFiller(1074, 200, static_cast<uint32_t>(i)))) << "send " << i;
        if (i == 0) {
            received += base.ReadExactly(kKeepAlive.size(), RawPeers::kReplyMs);
            EXPECT_EQ(received, kKeepAlive) << "the first data must bring a keep-alive: " << Printable(received);
        }
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end) received += base.ReadAvailable(100);

    EXPECT_EQ(received, kKeepAlive + kKeepAlive + kKeepAlive) << Printable(received);
    EXPECT_FALSE(base.PeerClosed());
}

// A rover that never reads is closed once too much waits unsent for it;
// the rover that reads gets every byte. The kernel takes up to about 4 MB
// into the caster's send buffer before any backlog builds up in the caster
// (loopback send buffers grow to tcp_wmem's maximum even against a small
// window), so the stream runs well past that.
TEST_F(BlackboxStreaming, RoverThatNeverReadsIsClosedWhileTheOtherKeepsReceiving)
{
    const uint64_t kTotal = 10 * 1024 * 1024;
    const uint64_t kUnsentLimit = 204800;
    ASSERT_TRUE(vorlane.AddBaseAccount("MNT1", "Base-Pw-1"));
    ASSERT_TRUE(vorlane.AddRoverAccount("reader", "Reader-Pw"));
    ASSERT_TRUE(vorlane.AddRoverAccount("sleeper", "Sleeper-Pw"));

    TestClient base;
    ASSERT_NO_FATAL_FAILURE(StartWithBase(&base, "MNT1", "Base-Pw-1"));
    TestClient reader;
    std::string reply;
    ASSERT_TRUE(LoginRover(&reader, Port(), "MNT1", "reader", "Reader-Pw", &reply)) << Printable(reply);
    TestClient sleeper;
    ASSERT_TRUE(sleeper.Open(4096));  // small window: the backlog builds up in the caster
    ASSERT_TRUE(LoginRover(&sleeper, Port(), "MNT1", "sleeper", "Sleeper-Pw", &reply)) << Printable(reply);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));

    std::string readerGot;
    std::thread readerThread([&] {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (readerGot.size() < kTotal && std::chrono::steady_clock::now() < end && !reader.PeerClosed()) {
            readerGot += reader.ReadAvailable(50);
        }
    });
    RawPeers::CounterStream stream(&base, 16384, 4, kTotal);  // about 4 MB/s
    stream.Start();
    bool finished = stream.Finish(20000);
    readerThread.join();
    EXPECT_TRUE(finished) << "the base could not send its stream";

    EXPECT_EQ(readerGot.size(), kTotal);
    EXPECT_TRUE(readerGot == CounterBytes(0, kTotal)) << FirstDifference(readerGot, CounterBytes(0, kTotal));

    bool closed = false;
    std::string sleeperGot = sleeper.ReadUntilEof(5000, &closed);
    EXPECT_TRUE(closed) << "the rover that never reads must be closed";
    EXPECT_LT(sleeperGot.size(), kTotal - kUnsentLimit) << "it was not cut off";
    EXPECT_TRUE(sleeperGot == CounterBytes(0, sleeperGot.size())) << "what it got is not the stream's start";
}

}  // namespace
