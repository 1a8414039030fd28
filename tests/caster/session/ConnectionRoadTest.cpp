// The road of a rover's bytes that came with its login: the login worker's
// hand-off and the loop's close of the same rover may run at once, and the
// rover decoder is left with a channel for the live rovers only.
#include "caster/session/ConnectionRoad.h"

#include "caster/centre/ServiceHooks.h"
#include "caster/centre/Vorlane.h"
#include "caster/registry/BaseTable.h"
#include "caster/registry/ConnInfoTable.h"
#include "caster/registry/RoverTable.h"
#include "caster/session/NtripCallbacks.h"
#include "decoding/DecodeExecutor.h"
#include "decoding/NEMADecoding/GgaDecode.h"
#include "net/NHServerTesting.h"
#include "support/LogCapture.h"
#include "support/NmeaSentence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const Ntrip::ServiceHooks NO_SERVICES = {};

class ConnectionRoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&center_, 0, sizeof(center_));
        NtripServerConfig settings;
        memset(&settings, 0, sizeof(settings));
        center_.ntripServerConfig = new ConfigSnapshot<NtripServerConfig>(settings);
        center_.hooks = &NO_SERVICES;
        center_.connInfoTable = ConnInfoTable::Create();
        center_.baseTable = BaseTable::Create();
        center_.roverTable = RoverTable::Create();
        center_.netServer = NHServer_Create(nullptr);
        center_.roverExecutor = DecodeExecutor_Create(2, NEMADecoding::GgaDecode, nullptr);
        Ntrip::Vorlane_SetCenter(&center_, nullptr);
    }
    void TearDown() override
    {
        DecodeExecutor_Destroy(center_.roverExecutor);
        Ntrip::Vorlane_SetCenter(nullptr, nullptr);
        NHServer_Free(center_.netServer);
        delete center_.roverTable;
        delete center_.baseTable;
        delete center_.connInfoTable;
        delete center_.ntripServerConfig;
    }

    // A relay rover as its login leaves it, bound to its upstream already.
    void AddRover(uint64_t channel)
    {
        ConnInfo conn;
        memset(&conn, 0, sizeof(conn));
        conn.channelID = channel;
        snprintf(conn.ip, sizeof(conn.ip), "127.0.0.1");
        RoverRecord rover;
        memset(&rover, 0, sizeof(rover));
        snprintf(rover.userName, sizeof(rover.userName), "r%llu", static_cast<unsigned long long>(channel));
        snprintf(rover.userKey, sizeof(rover.userKey), "%s", rover.userName);
        snprintf(rover.mountPoint, sizeof(rover.mountPoint), "SHARED");
        rover.channelID = channel;
        rover.bindingMode = ROVER_BIND_RELAY;
        rover.relayFlag = 1;
        rover.boundChannelID = channel + 100000;
        rover.fixQuality = -1;
        rover.loginNumber = 1;
        RegistriesGuard locks;
        ASSERT_TRUE(center_.connInfoTable->Add(&conn));
        ASSERT_TRUE(center_.roverTable->Add(&rover));
    }

    uint32_t RoverChannels()
    {
        ScopedLock guard(center_.roverExecutor->lock);
        return center_.roverExecutor->channels.Count();
    }

    LogCapture log_;
    Ntrip::Vorlane center_;
};

}  // namespace

// Many rovers close at once right after logins that carried a position: the
// login workers hand each position on while the loop closes its rover, and
// the loop reads the live rovers meanwhile. No channel of the rover decoder
// outlives its connection: what is left are the live rovers' channels.
TEST_F(ConnectionRoadTest, RoversClosingAsTheirLoginsHandOffLeaveNoDecoderChannel)
{
    const int kClosing = 2000;
    const int kLive = 8;
    const int kWorkers = 4;  // hand-off threads, and as many closing ones
    for (int i = 1; i <= kClosing + kLive; ++i) ASSERT_NO_FATAL_FAILURE(AddRover(static_cast<uint64_t>(i)));
    const std::string gga = NmeaSentence("GPGGA,120000.00,3906.0000,N,12100.0000,W,1,08,1.0,10.0,M,0.0,M,,") + "\r\n";
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(gga.data());

    std::atomic<int> started{0};
    std::atomic<bool> done{false};
    auto together = [&] {
        ++started;
        while (started.load() < 2 * kWorkers + 1) std::this_thread::yield();
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; ++w) {
        threads.emplace_back([&, w] {
            together();
            for (int i = 1 + w; i <= kClosing; i += kWorkers) {
                Ntrip::ConnectionRoad_HandOff(static_cast<uint64_t>(i), bytes, gga.size());
            }
        });
        threads.emplace_back([&, w] {
            together();
            for (int i = 1 + w; i <= kClosing; i += kWorkers) Ntrip::Ntrip_CloseCallback(static_cast<uint64_t>(i), 0);
        });
    }
    // The live rovers' positions, as the loop reads them.
    std::thread reads([&] {
        together();
        while (!done.load()) {
            for (int i = kClosing + 1; i <= kClosing + kLive; ++i) {
                DecodeExecutor_Push(center_.roverExecutor, static_cast<uint64_t>(i), bytes, gga.size(), "rover");
            }
        }
    });
    for (std::thread& t : threads) t.join();
    done = true;
    reads.join();

    EXPECT_EQ(static_cast<uint32_t>(kLive), RoverChannels()) << "a closed rover kept a decoder channel";
    int rovers;
    {
        RoverTable::Guard guard;
        rovers = center_.roverTable->Count();
    }
    EXPECT_EQ(kLive, rovers);
}
