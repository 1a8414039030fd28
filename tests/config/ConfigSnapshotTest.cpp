// The live settings published as one immutable copy: a reader sees a whole
// configuration, the one in force when it took it, never part of the next.
#include "config/ConfigRecords.h"
#include "config/ConfigSnapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Configuration number g: every number field holds g and the ip names it,
// so a record that mixes two configurations has fields that disagree.
NtripServerConfig Generation(int g)
{
    NtripServerConfig record;
    memset(&record, 0, sizeof(record));
    snprintf(record.ip, sizeof(record.ip), "10.0.%d.%d", (g >> 8) & 0xff, g & 0xff);
    record.port = g;
    record.protocol = g;
    record.base_offline_time = g;
    record.base_login_mode = g;
    record.rover_login_mode = g;
    record.rover_gga_log = g;
    record.use_software_name = g;
    record.broadcast_nearest = g;
    record.one_account_multi_user = g;
    record.user_count = g;
    record.rover_distance_limit = g;
    return record;
}

// The generation of a whole record, or -1 when it mixes two.
int WholeGeneration(const NtripServerConfig& record)
{
    NtripServerConfig whole = Generation(record.port);
    return memcmp(&record, &whole, sizeof(record)) == 0 ? record.port : -1;
}

}  // namespace

TEST(ConfigSnapshot, StartsWithTheInitialRecordAndIsNeverNull)
{
    ConfigSnapshot<NtripServerConfig> live(Generation(3));
    std::shared_ptr<const NtripServerConfig> first = live.Current();
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(3, WholeGeneration(*first));
}

TEST(ConfigSnapshot, AHeldCopyStaysAsItWasTakenWhileLaterReadersGetTheNewOne)
{
    ConfigSnapshot<NtripServerConfig> live(Generation(1));
    std::shared_ptr<const NtripServerConfig> held = live.Current();

    NtripServerConfig next = Generation(2);
    live.Publish(next);
    // The publisher's record is copied: changing it afterwards changes nothing.
    next.user_count = 99;

    EXPECT_EQ(1, WholeGeneration(*held));
    std::shared_ptr<const NtripServerConfig> later = live.Current();
    EXPECT_EQ(2, WholeGeneration(*later));
    EXPECT_NE(held.get(), later.get());
}

// A writer publishes whole configurations one after the other while readers
// take copies. Every copy is one whole configuration, and a reader never
// gets an older one than it got before.
TEST(ConfigSnapshot, ReadersRacingAWriterSeeWholeConfigurationsInOrder)
{
    const int GENERATIONS = 20000;
    const int READERS = 3;
    ConfigSnapshot<NtripServerConfig> live(Generation(0));
    std::atomic<bool> written{false};
    std::atomic<int> started{0};
    std::vector<int> mixed(READERS, 0), backwards(READERS, 0), last(READERS, 0);

    std::vector<std::thread> readers;
    for (int r = 0; r < READERS; ++r) {
        readers.emplace_back([&, r] {
            started.fetch_add(1);
            int seen = 0;
            // One more pass after the writer ends, so the last copy is read too.
            for (bool more = true; more;) {
                more = !written.load();
                std::shared_ptr<const NtripServerConfig> copy = live.Current();
                int g = WholeGeneration(*copy);
                if (g < 0) {
                    mixed[r] += 1;
                } else {
                    if (g < seen) backwards[r] += 1;
                    seen = g;
                }
            }
            last[r] = seen;
        });
    }
    // The readers are running before the first publish.
    while (started.load() < READERS) std::this_thread::yield();
    for (int g = 1; g <= GENERATIONS; ++g) live.Publish(Generation(g));
    written.store(true);
    for (std::thread& reader : readers) reader.join();

    for (int r = 0; r < READERS; ++r) {
        EXPECT_EQ(0, mixed[r]) << "reader " << r;
        EXPECT_EQ(0, backwards[r]) << "reader " << r;
        EXPECT_EQ(GENERATIONS, last[r]) << "reader " << r;
    }
}
