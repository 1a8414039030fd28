#include "caster/registry/BaseTable.h"
#include "runtime/GreatCircle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class BaseTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table.reset(BaseTable::Create());
        ASSERT_NE(nullptr, table);
        guard.reset(new BaseTable::Guard);
    }
    void TearDown() override { guard.reset(); }

    static BaseRecord Base(uint64_t channel, const char* mount, double lat = 0, double lon = 0,
                           int state = BASE_STATE_ONLINE)
    {
        BaseRecord r;
        memset(&r, 0, sizeof r);
        r.channelID = channel;
        snprintf(r.mountPoint, sizeof r.mountPoint, "%s", mount);
        r.latitude = lat;
        r.longitude = lon;
        r.state = state;
        return r;
    }
    BaseRecord* Add(uint64_t channel, const char* mount, double lat = 0, double lon = 0,
                    int state = BASE_STATE_ONLINE)
    {
        BaseRecord r = Base(channel, mount, lat, lon, state);
        EXPECT_TRUE(table->Add(&r)) << mount;
        return table->Find(channel);
    }
    std::vector<std::string> Names(const BaseNameList& list)
    {
        std::vector<std::string> out;
        for (int i = 0; i < list.count; ++i) out.push_back(list.names[i]);
        return out;
    }
    std::vector<uint64_t> BucketOrder()
    {
        std::vector<uint64_t> out;
        table->ForEach([&](BaseRecord* r) { out.push_back(r->channelID); });
        return out;
    }
    std::vector<std::string> LoginOrder()
    {
        std::vector<std::string> out;
        for (BaseListItem* i = table->First(); i; i = table->Next(i)) out.push_back(i->record->mountPoint);
        return out;
    }

    std::unique_ptr<BaseTable> table;
    std::unique_ptr<BaseTable::Guard> guard;
};

TEST_F(BaseTableTest, AddRefusesAPresentChannelButUsesUpASequenceNumber)
{
    BaseRecord a = Base(10, "A");
    ASSERT_TRUE(table->Add(&a));
    BaseRecord dup = Base(10, "B");
    EXPECT_FALSE(table->Add(&dup));
    EXPECT_EQ(a.sequence + 1, dup.sequence) << "the refused add took a number";
    EXPECT_STREQ("A", table->Find(10)->mountPoint) << "the stored record is unchanged";
    EXPECT_EQ(a.sequence, table->Find(10)->sequence);
    BaseRecord c = Base(11, "C");
    ASSERT_TRUE(table->Add(&c));
    EXPECT_EQ(a.sequence + 2, c.sequence);
    EXPECT_FALSE(table->Add(nullptr));
    EXPECT_EQ(2, table->Count());
}

TEST_F(BaseTableTest, RemovedBaseIsGoneAndComesBackAsANewLogin)
{
    BaseRecord* first = Add(5, "MOUNT1");
    uint32_t oldSeq = first->sequence;
    Add(6, "MOUNT2");
    Add(7, "MOUNT3");
    EXPECT_FALSE(table->Remove(99));
    EXPECT_TRUE(table->Remove(6));
    EXPECT_FALSE(table->Remove(6));
    EXPECT_EQ(nullptr, table->FindByName("MOUNT2"));
    EXPECT_EQ((std::vector<std::string>{"MOUNT1", "MOUNT3"}), LoginOrder());
    ASSERT_TRUE(table->Remove(5));
    EXPECT_EQ(nullptr, table->FindByName("MOUNT1"));
    BaseRecord* again = Add(8, "MOUNT1");
    EXPECT_GT(again->sequence, oldSeq);
    EXPECT_EQ((std::vector<std::string>{"MOUNT3", "MOUNT1"}), LoginOrder());
}

TEST_F(BaseTableTest, ChangeIdRekeysTheSameRecord)
{
    BaseRecord* stored = Add(3, "RELOGIN");
    Add(4, "OTHER");
    BaseListItem* item = table->First();
    ASSERT_EQ(stored, item->record);

    EXPECT_TRUE(table->ChangeId(stored, 3 + 53));  // same bucket as before
    EXPECT_TRUE(table->ChangeId(stored, 1000));
    EXPECT_EQ(nullptr, table->Find(3));
    EXPECT_EQ(nullptr, table->Find(56));
    EXPECT_EQ(stored, table->Find(1000));
    EXPECT_EQ(1000u, stored->channelID);
    EXPECT_EQ(stored, table->First()->record) << "the list element follows the record";
    EXPECT_EQ(2, table->Count());

    // A caller's copy gets the new channel too.
    BaseRecord copy = *stored;
    EXPECT_TRUE(table->ChangeId(&copy, 1001));
    EXPECT_EQ(1001u, copy.channelID);
    EXPECT_EQ(stored, table->Find(1001));

    // Refused: unknown old channel, or a new channel that holds another base.
    BaseRecord ghost = Base(77, "GHOST");
    EXPECT_FALSE(table->ChangeId(&ghost, 78));
    EXPECT_FALSE(table->ChangeId(stored, 4));
    EXPECT_EQ(stored, table->Find(1001));
    EXPECT_STREQ("OTHER", table->Find(4)->mountPoint);

    EXPECT_TRUE(table->Remove(1001));
    EXPECT_EQ((std::vector<std::string>{"OTHER"}), LoginOrder());
}

TEST_F(BaseTableTest, ChangeIdKeepsEveryRecordFoundWhileTheTableGrows)
{
    for (uint64_t ch = 1; ch <= 26; ++ch) Add(ch, ("M" + std::to_string(ch)).c_str());
    BaseRecord* r = table->Find(26);
    ASSERT_TRUE(table->ChangeId(r, 5000));
    for (uint64_t ch = 27; ch <= 200; ++ch) Add(ch, ("M" + std::to_string(ch)).c_str());
    for (uint64_t ch = 1; ch <= 200; ++ch) {
        if (ch == 26) continue;
        ASSERT_NE(nullptr, table->Find(ch)) << ch;
    }
    EXPECT_STREQ("M26", table->Find(5000)->mountPoint);
    EXPECT_EQ(200, table->Count());
}

TEST_F(BaseTableTest, FindByNameIsExactAndSeesEveryState)
{
    Add(1, "Mount", 0, 0, BASE_STATE_BLACKLISTED);
    Add(2, "MountX");
    EXPECT_EQ(1u, table->FindByName("Mount")->channelID);
    EXPECT_EQ(nullptr, table->FindByName("mount"));
    EXPECT_EQ(nullptr, table->FindByName("Moun"));
    EXPECT_EQ(nullptr, table->FindByName(nullptr));
    EXPECT_EQ(2u, table->FindByName("MountX")->channelID);
}

TEST_F(BaseTableTest, NearestOfNoOnlineBaseIsNone)
{
    double d = 0;
    EXPECT_EQ(nullptr, table->Nearest(30, 114, &d));
    EXPECT_DOUBLE_EQ(99999999.99, d);
    Add(1, "BLACK", 30, 114, BASE_STATE_BLACKLISTED);
    Add(2, "CLEARED", 30, 114, BASE_STATE_CLEARED);
    EXPECT_EQ(nullptr, table->Nearest(30, 114, &d));
    EXPECT_DOUBLE_EQ(99999999.99, d);
    EXPECT_EQ(nullptr, table->Nearest(30, 114, nullptr));
}

TEST_F(BaseTableTest, NearestPicksTheClosestAndABaseOnTheSpot)
{
    Add(1, "FAR", 31.0, 114.0);
    Add(2, "NEAR", 30.01, 114.0);
    Add(3, "BLACK", 30.0, 114.0, BASE_STATE_BLACKLISTED);
    double d = 0;
    BaseRecord* n = table->Nearest(30.0, 114.0, &d);
    ASSERT_NE(nullptr, n);
    EXPECT_STREQ("NEAR", n->mountPoint);
    EXPECT_NEAR(GreatCircleDistance(30, 114, 30.01, 114), d, 1e-9);

    // A rover standing exactly on a base: distance 0, never NaN, at any latitude.
    for (double lat : {0.0, 22.543096, 30.0, 39.9042, 45.123456789, -33.8688, 89.5}) {
        Add(100, "SPOT", lat, 77.123456789);
        BaseRecord* spot = table->Nearest(lat, 77.123456789, &d);
        ASSERT_NE(nullptr, spot) << lat;
        EXPECT_STREQ("SPOT", spot->mountPoint) << lat;
        EXPECT_EQ(0.0, d) << lat;
        table->Remove(100);
    }
}

TEST_F(BaseTableTest, NearestTieGoesToTheBaseMetLaterInBucketOrder)
{
    // 1 and 54 share bucket 1 of 53; 54 is the chain head, so 1 is met later
    // although it was added first. 2 sits in a later bucket still.
    Add(1, "EAST", 0.0, 1.0);
    Add(54, "WEST", 0.0, -1.0);
    ASSERT_EQ((std::vector<uint64_t>{54, 1}), BucketOrder());
    double d = 0;
    EXPECT_STREQ("EAST", table->Nearest(0.0, 0.0, &d)->mountPoint);
    EXPECT_NEAR(GreatCircleDistance(0, 0, 0, 1), d, 1e-9);

    Add(2, "SAME_AS_EAST", 0.0, 1.0);
    ASSERT_EQ((std::vector<uint64_t>{54, 1, 2}), BucketOrder());
    EXPECT_STREQ("SAME_AS_EAST", table->Nearest(0.0, 0.0, &d)->mountPoint);
    // Identical points tie at 0 the same way.
    EXPECT_STREQ("SAME_AS_EAST", table->Nearest(0.0, 1.0, &d)->mountPoint);
    EXPECT_EQ(0.0, d);
}

TEST_F(BaseTableTest, RadiusSearchIsInclusiveAndOnlyOnline)
{
    Add(1, "ON_EDGE", 30.9, 114.0);
    Add(2, "INSIDE", 30.1, 114.0);
    Add(3, "OUTSIDE", 32.0, 114.0);
    Add(4, "BLACK_INSIDE", 30.0, 114.0, BASE_STATE_BLACKLISTED);
    const double edge = GreatCircleDistance(30.0, 114.0, 30.9, 114.0);

    BaseNameList in = table->NamesWithinRadius(30.0, 114.0, edge);
    EXPECT_EQ(1, in.found);
    EXPECT_EQ((std::vector<std::string>{"ON_EDGE", "INSIDE"}), Names(in));

    BaseNameList shy = table->NamesWithinRadius(30.0, 114.0, std::nextafter(edge, 0.0));
    EXPECT_EQ((std::vector<std::string>{"INSIDE"}), Names(shy));

    BaseNameList none = table->NamesWithinRadius(-30.0, -60.0, 100000.0);
    EXPECT_EQ(0, none.found);
    EXPECT_EQ(0, none.count);

    BaseNameList online = table->OnlineNames();
    EXPECT_EQ((std::vector<std::string>{"ON_EDGE", "INSIDE", "OUTSIDE"}), Names(online));
}

TEST_F(BaseTableTest, NameListsStopAtAThousand)
{
    for (uint64_t ch = 1; ch <= 1005; ++ch) Add(ch, ("BASE" + std::to_string(ch)).c_str(), 30.0, 114.0);
    BaseNameList all = table->OnlineNames();
    EXPECT_EQ(1, all.found);
    EXPECT_EQ(1000, all.count);
    BaseNameList near = table->NamesWithinRadius(30.0, 114.0, 1.0);
    EXPECT_EQ(1000, near.count);
    // Every listed name is a real, distinct mount.
    std::vector<std::string> names = Names(all);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.end(), std::adjacent_find(names.begin(), names.end()));
    for (const std::string& n : names) ASSERT_NE(nullptr, table->FindByName(n.c_str())) << n;
    EXPECT_EQ(1005, table->CountOnline());
}

TEST_F(BaseTableTest, LongestMountIsListedWholeAndOverlongTextsAreCut)
{
    std::string longest(BASE_MOUNT_SIZE - 1, 'L');
    Add(1, longest.c_str());
    BaseNameList list = table->OnlineNames();
    ASSERT_EQ(1, list.count);
    EXPECT_EQ(longest, list.names[0]) << "a name cut short would list a mount no base serves";

    BaseRecord r = Base(2, "x");
    memset(r.mountPoint, 'M', sizeof r.mountPoint);  // unterminated
    memset(r.ip, '1', sizeof r.ip);
    memset(r.format, 'F', sizeof r.format);
    memset(r.loginTimeText, '2', sizeof r.loginTimeText);
    ASSERT_TRUE(table->Add(&r));
    BaseRecord* s = table->Find(2);
    EXPECT_EQ(static_cast<size_t>(BASE_MOUNT_SIZE - 1), strlen(s->mountPoint));
    EXPECT_EQ(static_cast<size_t>(BASE_IP_SIZE - 1), strlen(s->ip));
    EXPECT_EQ(static_cast<size_t>(BASE_FORMAT_SIZE - 1), strlen(s->format));
    EXPECT_EQ(static_cast<size_t>(BASE_TIME_TEXT_SIZE - 1), strlen(s->loginTimeText));
}

TEST_F(BaseTableTest, Counts)
{
    Add(1, "RTCM_A");
    Add(2, "RTCM_B", 0, 0, BASE_STATE_BLACKLISTED);
    Add(3, "CMR_C", 0, 0, BASE_STATE_CLEARED);
    Add(4, "XRTCM");
    Add(0, "NO_CHANNEL");
    EXPECT_EQ(5, table->Count());
    EXPECT_EQ(2, table->CountOnline()) << "state 1 with a channel above 0";
    EXPECT_EQ(3, table->CountNameContains("RTCM")) << "every state counts";
    EXPECT_EQ(0, table->CountNameContains("rtcm"));
    EXPECT_EQ(5, table->CountNameContains(""));
    EXPECT_EQ(0, table->CountNameContains(nullptr));
    EXPECT_EQ((std::vector<std::string>{"RTCM_A", "RTCM_B", "CMR_C", "XRTCM", "NO_CHANNEL"}), LoginOrder());
}

TEST_F(BaseTableTest, SequenceNumbersAreSharedByEveryTable)
{
    std::unique_ptr<BaseTable> other(BaseTable::Create());
    BaseRecord a = Base(1, "A");
    BaseRecord b = Base(1, "B");
    ASSERT_TRUE(table->Add(&a));
    ASSERT_TRUE(other->Add(&b));
    EXPECT_EQ(a.sequence + 1, b.sequence);
    EXPECT_GE(a.sequence, 1u);
}

}  // namespace
