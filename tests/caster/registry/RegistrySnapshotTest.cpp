// Copies out of the registries: which records a list or a page takes, what
// a copy carries, and that each copy holds only the locks of the tables it
// reads.
#include "caster/BindingFixture.h"
#include "caster/registry/RegistrySnapshot.h"
#include "support/OtherThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

class RegistrySnapshotTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        tables = RegistryTables{conns.get(), bases.get(), rovers.get()};
    }
    // Bases B00 .. B11 in login order, each with a connection record.
    void AddBases(int n)
    {
        for (int i = 0; i < n; ++i) {
            char name[16];
            snprintf(name, sizeof name, "B%02d", i);
            AddConn(100 + i, 0);
            AddBase(name, 100 + i, 30.0 + i, 114.0);
        }
    }
    static std::vector<std::string> Names(const std::vector<BaseSnapshot>& bases)
    {
        std::vector<std::string> out;
        for (const BaseSnapshot& b : bases) out.push_back(b.base.mountPoint);
        return out;
    }
    RegistryTables tables;
};

}  // namespace

TEST_F(RegistrySnapshotTest, PagesCountFromStartInLoginOrder)
{
    AddBases(12);
    struct Case {
        int32_t start;
        int32_t count;
        std::vector<std::string> names;
    } cases[] = {
        {5, 10, {"B05", "B06", "B07", "B08", "B09", "B10", "B11"}},
        {0, 0, {}},
        {0, 2, {"B00", "B01"}},
        {11, 1, {"B11"}},
        {12, 5, {}},
        {3, 2147483647, {"B03", "B04", "B05", "B06", "B07", "B08", "B09", "B10", "B11"}},
    };
    for (const Case& c : cases) {
        int total = -1;
        std::vector<BaseSnapshot> page;
        RegistrySnapshot_BasePage(tables, StationPage{c.start, c.count}, "", &total, &page);
        EXPECT_EQ(12, total) << c.start << "+" << c.count;
        EXPECT_EQ(c.names, Names(page)) << c.start << "+" << c.count;
    }
}

TEST_F(RegistrySnapshotTest, NameFilterListsOnlineBasesAndCountsEveryState)
{
    AddConn(1, 0);
    AddBase("RTCM_A", 1, 30, 114);
    AddBase("XRTCMX", 2, 30, 114)->state = BASE_STATE_BLACKLISTED;
    AddBase("rtcm_low", 3, 30, 114);
    AddBase("RTCM_B", 4, 30, 114);
    int total = 0;
    std::vector<BaseSnapshot> page;
    RegistrySnapshot_BasePage(tables, StationPage{0, 10}, "RTCM", &total, &page);
    EXPECT_EQ(3, total);
    EXPECT_EQ((std::vector<std::string>{"RTCM_A", "RTCM_B"}), Names(page));
    EXPECT_TRUE(page[0].hasConn);
    EXPECT_FALSE(page[1].hasConn);

    std::vector<BaseSnapshot> all;
    RegistrySnapshot_OnlineBases(tables, &all);
    EXPECT_EQ(3u, all.size()) << "the black-listed one is not online";
}

TEST_F(RegistrySnapshotTest, RoverPageCountsByServingBaseButListsByRequestedMount)
{
    AddBase("B1", 1, 30, 114);
    AddRover("a", "B1", 21, ROVER_BIND_NAMED);
    RoverRecord* n = AddRover("b", "NEAREST", 22, ROVER_BIND_NEAREST);
    snprintf(n->boundBaseName, sizeof n->boundBaseName, "B1");
    AddRover("a", "B2", 23, ROVER_BIND_NAMED);
    AddRover("c", "B1", 24, ROVER_BIND_NAMED);
    struct Case {
        std::string base;
        std::string user;
        int total;
        std::vector<uint64_t> channels;
    } cases[] = {
        {"", "", 4, {21, 22, 23, 24}},
        {"B1", "", 3, {21, 24}},
        {"", "a", 2, {21, 23}},
        {"B1", "a", 1, {21}},
        {"B1", "z", 0, {}},
    };
    for (const Case& c : cases) {
        int total = -1;
        std::vector<RoverSnapshot> page;
        RegistrySnapshot_RoverPage(tables, StationPage{0, 10}, c.base, c.user, &total, &page);
        std::vector<uint64_t> channels;
        for (const RoverSnapshot& r : page) channels.push_back(r.rover.channelID);
        EXPECT_EQ(c.total, total) << c.base << "/" << c.user;
        EXPECT_EQ(c.channels, channels) << c.base << "/" << c.user;
    }
    int total = 0;
    std::vector<RoverSnapshot> page;
    RegistrySnapshot_RoverPage(tables, StationPage{1, 2}, "", "", &total, &page);
    ASSERT_EQ(2u, page.size());
    EXPECT_EQ(22u, page[0].rover.channelID);
    EXPECT_STREQ("B1", page[0].servingBase) << "bound by binding mode in a page";
}

TEST_F(RegistrySnapshotTest, CopiesCarryOnlyWhatTheirTablesGive)
{
    AddConn(1, 1000);
    BaseRecord* b1 = AddBase("B1", 1, 30.5, 114.25);
    snprintf(b1->format, sizeof b1->format, "RTCM3");
    RoverRecord* rover = AddRover("u", "B1", 21, ROVER_BIND_NAMED);
    snprintf(rover->password, sizeof rover->password, "secret");
    AddConn(21, 1000);

    std::vector<BaseSnapshot> withConns, withoutConns;
    RegistrySnapshot_OnlineBases(tables, &withConns);
    RegistrySnapshot_OnlineBases(RegistryTables{nullptr, bases.get(), nullptr}, &withoutConns);
    ASSERT_EQ(1u, withConns.size());
    ASSERT_EQ(1u, withoutConns.size());
    EXPECT_TRUE(withConns[0].hasConn);
    EXPECT_EQ(1u, withConns[0].conn.channelID);
    EXPECT_FALSE(withoutConns[0].hasConn);
    EXPECT_EQ(0u, withoutConns[0].conn.channelID);
    EXPECT_STREQ("RTCM3", withoutConns[0].base.format);

    std::vector<RoverSnapshot> full, bare;
    RegistrySnapshot_Rovers(tables, &full);
    RegistrySnapshot_Rovers(RegistryTables{nullptr, nullptr, rovers.get()}, &bare);
    ASSERT_EQ(1u, full.size());
    ASSERT_EQ(1u, bare.size());
    EXPECT_TRUE(full[0].hasConn);
    EXPECT_TRUE(full[0].servingOnline);
    EXPECT_STREQ("RTCM3", full[0].servingFormat);
    EXPECT_EQ(30.5, full[0].servingLatitude);
    EXPECT_FALSE(bare[0].hasConn);
    EXPECT_FALSE(bare[0].servingOnline) << "no base table, no serving base";
    EXPECT_STREQ("", bare[0].servingFormat);
    EXPECT_STREQ("B1", bare[0].servingBase) << "the name comes from the rover itself";
    EXPECT_EQ(1u, bare[0].rover.boundChannelID);
    for (const RoverSnapshot* s : {&full[0], &bare[0]}) {
        EXPECT_STREQ("u", s->rover.userName);
        EXPECT_STREQ("", s->rover.password) << "no list shows a password";
    }
    EXPECT_STREQ("secret", rovers->Find(21)->password) << "the registry keeps it";
}

TEST_F(RegistrySnapshotTest, WithoutTheTableAListIsEmpty)
{
    AddBase("B1", 1, 30, 114);
    AddRover("u", "B1", 21, ROVER_BIND_NAMED);
    RegistryTables none{conns.get(), nullptr, nullptr};
    std::vector<BaseSnapshot> bases;
    std::vector<RoverSnapshot> rovers;
    int total = -1;
    RegistrySnapshot_OnlineBases(none, &bases);
    EXPECT_TRUE(bases.empty());
    RegistrySnapshot_BasePage(none, StationPage{0, 10}, "", &total, &bases);
    EXPECT_EQ(0, total);
    EXPECT_TRUE(bases.empty());
    RegistrySnapshot_Rovers(none, &rovers);
    EXPECT_TRUE(rovers.empty());
    total = -1;
    RegistrySnapshot_RoverPage(none, StationPage{0, 10}, "", "", &total, &rovers);
    EXPECT_EQ(0, total);
    EXPECT_TRUE(rovers.empty());
}

TEST_F(RegistrySnapshotTest, OneViewBindsEachRoverToTheBaseCopiedWithIt)
{
    AddBase("B1", 1, 30, 114);
    AddBase("B2", 2, 31, 114)->state = BASE_STATE_BLACKLISTED;
    AddBase("B3", 3, 32, 114);
    AddRover("a", "B1", 21, ROVER_BIND_NAMED);
    AddRover("b", "B1", 22, ROVER_BIND_NAMED);
    AddRover("c", "B3", 23, ROVER_BIND_NAMED);
    AddRover("d", "B9", 24, ROVER_BIND_NAMED);

    std::vector<BaseSnapshot> stations;
    std::vector<RoverSnapshot> all;
    RegistrySnapshot_OnlineBasesAndRovers(RegistryTables{nullptr, bases.get(), rovers.get()}, &stations, &all);
    std::vector<std::string> names = Names(stations);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"B1", "B3"}), names) << "online bases only";
    ASSERT_EQ(4u, all.size()) << "every rover";
    std::map<uint64_t, std::vector<std::string>> bound;
    for (const RoverSnapshot& r : all) bound[r.rover.boundChannelID].push_back(r.rover.userName);
    for (auto& entry : bound) std::sort(entry.second.begin(), entry.second.end());
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), bound[1]);
    EXPECT_EQ((std::vector<std::string>{"c"}), bound[3]);
    EXPECT_EQ((std::vector<std::string>{"d"}), bound[0]) << "its base is not there";

    std::vector<BaseSnapshot> stale(3);
    std::vector<RoverSnapshot> staleRovers(2);
    RegistrySnapshot_OnlineBasesAndRovers(RegistryTables{nullptr, bases.get(), nullptr}, &stale, &staleRovers);
    EXPECT_EQ(2u, stale.size());
    EXPECT_TRUE(staleRovers.empty()) << "what the vectors held before is gone";
}

TEST_F(RegistrySnapshotTest, EachCopyTakesOnlyTheLocksOfTheTablesItReads)
{
    AddConn(1, 0);
    AddBase("B1", 1, 30, 114);
    AddRover("u", "B1", 21, ROVER_BIND_NAMED);
    locks.reset();  // the fixture's own hold of all three

    std::vector<BaseSnapshot> stations;
    std::vector<RoverSnapshot> all;
    {
        // The station routes of the inspector read the base registry alone.
        ConnInfoTable::Guard connLock;
        RoverTable::Guard roverLock;
        EXPECT_TRUE(FinishesOnOtherThread([&] {
            RegistrySnapshot_OnlineBases(RegistryTables{nullptr, bases.get(), nullptr}, &stations);
        }));
        EXPECT_EQ(1u, stations.size());
        // A base list reads connections and bases, never rovers.
        connLock.Release();
        EXPECT_TRUE(FinishesOnOtherThread([&] {
            int total = 0;
            RegistrySnapshot_BasePage(RegistryTables{conns.get(), bases.get(), rovers.get()}, StationPage{0, 5}, "",
                                      &total, &stations);
        }));
        EXPECT_EQ(1u, stations.size());
        EXPECT_TRUE(stations[0].hasConn);
    }
    {
        // The rover routes of the inspector read the rover registry alone.
        ConnInfoTable::Guard connLock;
        BaseTable::Guard baseLock;
        EXPECT_TRUE(FinishesOnOtherThread([&] {
            RegistrySnapshot_Rovers(RegistryTables{nullptr, nullptr, rovers.get()}, &all);
        }));
        EXPECT_EQ(1u, all.size());
    }
}

// What the loop writes to a rover is counted with its connection; a copy of
// the rover shows those figures (the control centre's bytes, rate and its
// freshness), and the record's own fields only until the rover counts.
TEST_F(RegistrySnapshotTest, RoverCopiesCarryWhatTheLoopCountedForIt)
{
    AddConn(7, 1000);
    AddRover("u1", "M", 7, ROVER_BIND_NAMED);
    ConnTraffic* traffic = ConnTraffic_New(5000, 1000);
    conns->Find(7)->traffic = traffic;

    ConnTraffic_Count(traffic, 300, ConnTrafficClock{6000, 1001});  // not counting yet
    std::vector<RoverSnapshot> copies;
    RegistrySnapshot_Rovers(tables, &copies);
    ASSERT_EQ(1u, copies.size());
    EXPECT_EQ(0u, copies[0].conn.bytesSent);
    EXPECT_EQ(1000, copies[0].conn.lastActivity);

    ConnTraffic_StartCounting(traffic);
    ConnTraffic_Count(traffic, 1024, ConnTrafficClock{9000, 1004});  // 4 s after the start
    ConnTraffic_Count(traffic, 512, ConnTrafficClock{9500, 1004});   // under a second: 1 s
    RegistrySnapshot_Rovers(tables, &copies);
    ASSERT_EQ(1u, copies.size());
    EXPECT_EQ(1536u, copies[0].conn.bytesSent);
    EXPECT_EQ(512, copies[0].conn.outputRate);
    EXPECT_EQ(1004, copies[0].conn.lastActivity);
    EXPECT_EQ(9500, copies[0].conn.lastActivityMs);
    EXPECT_EQ(nullptr, copies[0].conn.traffic);

    // The table holds the reference from now on and gives it back at the remove.
    ConnInfoTable::Guard guard;
    EXPECT_TRUE(conns->Remove(7));
}
