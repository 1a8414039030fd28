// One control-centre connection's bytes through a decode thread with
// ScanFrame as its decode function.
#include "control/FrameDecode.h"
#include "control/FrameFixtures.h"

#include "decoding/DecodeFramework.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> units;
};

void Dispatch(Tarnek::LogRoot* unit, void* context)
{
    auto* received = static_cast<Received*>(context);
    auto* m = static_cast<RVZ::RVZProtoMsg*>(unit);
    std::lock_guard<std::mutex> guard(received->mutex);
    received->units.push_back(std::to_string(m->type) + "/" + std::to_string(m->id));
    delete unit;
    received->changed.notify_all();
}

TEST(FrameworkScanTest, FramesSplitOverWritesAreDispatchedInOrder)
{
    LogCapture log;
    Received received;
    DFW::DecodeFramework* framework = new DFW::DecodeFramework;
    ASSERT_TRUE(framework->Init(ScanFrame, Dispatch, &received));
    ASSERT_TRUE(framework->StartDecodeThread());

    Bytes stream = Concat({FromHex("01 02 03"), ReferenceFrame(1, 1, FromHex("0A 03 61 62 63")),
                           ReferenceFrame(2011, -1, FromHex("08 01 10 01")), ReferenceFrame(3, 2, Bytes())});
    Bytes broken = ReferenceFrame(1, 3, FromHex("0A 03 61 62 63"));
    broken[31] ^= 1;
    stream = Concat({stream, broken, ReferenceFrame(3, 4, Bytes())});

    // Uneven pieces, so that frames are cut inside header, body and CRC.
    size_t offset = 0;
    for (size_t piece = 1; offset < stream.size(); piece = piece % 11 + 5) {
        size_t n = std::min(piece, stream.size() - offset);
        ASSERT_TRUE(framework->Write(stream.data() + offset, n));
        offset += n;
    }

    {
        std::unique_lock<std::mutex> guard(received.mutex);
        received.changed.wait_for(guard, std::chrono::seconds(10), [&] { return received.units.size() >= 4; });
    }
    DFW::DecodeFramework_Destroy(&framework);
    EXPECT_EQ(received.units, (std::vector<std::string>{"1/1", "2011/-1", "3/2", "3/4"}));
    EXPECT_TRUE(log.Has("STATUS_MSG_CRC_ERROR"));
}

}  // namespace
