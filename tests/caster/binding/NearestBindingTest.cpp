// Nearest-base binding on registries of the test's own: which subscriptions
// are posted, in which order, and what the records and rover counts say after.
#include "caster/binding/NearestBinding.h"
#include "caster/BindingFixture.h"
#include "platform/SteadyClock.h"
#include "runtime/GreatCircle.h"
#include "support/LogCapture.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <vector>

namespace {

using V = std::vector<Posted>;

// Two bases about 20 km apart on one meridian.
const double kLat1 = 30.0, kLat2 = 30.18, kLon = 114.0;

class NearestBindingTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        b1 = AddBase("B1", 11, kLat1, kLon);
        b2 = AddBase("B2", 12, kLat2, kLon);
    }
    BaseRecord* b1 = nullptr;
    BaseRecord* b2 = nullptr;
};

TEST_F(NearestBindingTest, FirstUsablePositionBindsTheNearestBase)
{
    RoverRecord* r = AddRover("u", "NEAREST", 100, ROVER_BIND_NEAREST);
    EXPECT_FALSE(NearestBinding_OnPosition(scope, r, 0.0, kLon)) << "latitude 0 is no position";
    EXPECT_FALSE(NearestBinding_OnPosition(scope, r, kLat1, 0.0)) << "longitude 0 is no position";
    EXPECT_EQ(V{}, Taken());
    EXPECT_EQ(0u, r->boundChannelID);

    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat2 - 0.01, kLon));
    EXPECT_EQ(V{Sub(12, 100)}, Taken());
    EXPECT_EQ(12u, r->boundChannelID);
    EXPECT_STREQ("B2", r->boundBaseName);
    EXPECT_DOUBLE_EQ(kLat2 - 0.01, r->boundLatitude);
    EXPECT_NEAR(1113.2, r->distance, 1.0);
    EXPECT_EQ(1, b2->roverCount);
    EXPECT_EQ(0, b1->roverCount);
    EXPECT_EQ(1, rovers->CountOnBase("B2"));
}

TEST_F(NearestBindingTest, NoBaseThatCanServeLeavesTheRoverUnbound)
{
    RoverRecord* r = AddRover("u", "NEAREST", 100, ROVER_BIND_NEAREST);
    b1->state = BASE_STATE_BLACKLISTED;
    b2->latitude = 0.0;  // logged in, position not yet known
    EXPECT_FALSE(NearestBinding_OnPosition(scope, r, kLat1, kLon));
    EXPECT_EQ(V{}, Taken());
    EXPECT_EQ(0u, r->boundChannelID);
}

TEST_F(NearestBindingTest, MovingBeyondTheLimitSwitchesWithBackToBackCommands)
{
    RoverRecord* r = AddRover("u", "RTCM32_ZedOz", 100, ROVER_BIND_NEAREST);
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat1 + 0.001, kLon));
    Taken();

    // 4.4 km on, still nearer B1, and within the limit anyway.
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat1 + 0.04, kLon));
    EXPECT_EQ(V{}, Taken());
    EXPECT_EQ(11u, r->boundChannelID);

    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat2 - 0.02, kLon));
    EXPECT_EQ((V{Unsub(11, 100), Sub(12, 100)}), Taken());
    EXPECT_EQ(12u, r->boundChannelID);
    EXPECT_STREQ("B2", r->boundBaseName);
    EXPECT_DOUBLE_EQ(kLat2 - 0.02, r->boundLatitude);
    EXPECT_EQ(0, b1->roverCount);
    EXPECT_EQ(1, b2->roverCount);
}

TEST_F(NearestBindingTest, BeyondTheLimitButStillNearestKeepsThePointOfBinding)
{
    RoverRecord* r = AddRover("u", "NEAREST", 100, ROVER_BIND_NEAREST);
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat1, kLon - 0.001));
    Taken();
    // 9.6 km west of B1: beyond the limit, B1 still nearest.
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat1, kLon - 0.1));
    EXPECT_EQ(V{}, Taken());
    EXPECT_DOUBLE_EQ(kLon - 0.001, r->boundLongitude) << "the next position is measured from the same point";
    EXPECT_NEAR(GreatCircleDistance(kLat1, kLon - 0.1, kLat1, kLon), r->distance, 1e-6)
        << "the distance follows the rover";
}

// A movement of exactly the limit does not re-bind; the comparison is "more
// than". An exact distance needs a point that the distance formula puts
// exactly that far: found by stepping the latitude one representable value
// at a time (at a few thousand km every step moves the result by under one
// unit in the last place, so one lands on the integer).
TEST_F(NearestBindingTest, MovingExactlyTheLimitDoesNotSwitch)
{
    const double kStartLat = 10.0, kStartLon = 20.0;
    int limit = 0;
    double exactLat = 0.0;
    for (int metres : {6000000, 5000000, 4000000, 3000000, 2000000}) {
        double lat = kStartLat + metres / 6378137.0 / 0.01745329252;
        for (int dir = 0; dir < 2 && limit == 0; ++dir) {
            double x = lat;
            for (int i = 0; i < 20000; ++i) {
                if (GreatCircleDistance(kStartLat, kStartLon, x, kStartLon) == metres) {
                    limit = metres;
                    exactLat = x;
                    break;
                }
                x = std::nextafter(x, dir == 0 ? 90.0 : -90.0);
            }
        }
        if (limit != 0) break;
    }
    ASSERT_NE(0, limit) << "no point at an exact whole distance found";

    bases.reset(BaseTable::Create());
    scope.bases = bases.get();
    AddBase("SOUTH", 21, kStartLat, kStartLon);
    AddBase("NORTH", 22, exactLat + 0.5, kStartLon);
    config.rover_distance_limit = limit;
    RoverRecord* r = AddRover("u", "NEAREST", 100, ROVER_BIND_NEAREST);
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kStartLat, kStartLon));
    EXPECT_EQ(V{Sub(21, 100)}, Taken());

    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, exactLat, kStartLon));
    EXPECT_EQ(V{}, Taken()) << "moved exactly " << limit << " m: no switch, though NORTH is nearer";
    EXPECT_EQ(21u, r->boundChannelID);

    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, exactLat + 1e-6, kStartLon));
    EXPECT_EQ((V{Unsub(21, 100), Sub(22, 100)}), Taken());
}

TEST_F(NearestBindingTest, RoverWhoseBaseHasGoneBindsAfreshAtItsNextPosition)
{
    RoverRecord* r = AddRover("u", "NEAREST", 100, ROVER_BIND_NEAREST);
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat1, kLon));
    Taken();
    bases->Remove(11);
    ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat1 + 0.001, kLon));
    EXPECT_EQ(V{Sub(12, 100)}, Taken()) << "no unsubscribe from a publisher that is gone";
    EXPECT_EQ(12u, r->boundChannelID);
}

TEST_F(NearestBindingTest, NamedRoverAlreadyBoundIsLeftAlone)
{
    RoverRecord* r = AddRover("u", "B1", 100, ROVER_BIND_NAMED);
    r->boundBaseName[0] = '\0';  // as an older login left it
    NearestBinding_RebindNamed(scope, r);
    NearestBinding_UpdateAll(scope);
    EXPECT_EQ(V{}, Taken()) << "no unsubscribe/subscribe gap";
    EXPECT_STREQ("B1", r->boundBaseName);
    EXPECT_EQ(1, b1->roverCount) << "no drift";
}

TEST_F(NearestBindingTest, NamedRoverBoundElsewhereMovesToItsMountsBase)
{
    RoverRecord* r = AddRover("u", "B1", 100, ROVER_BIND_NAMED);
    r->boundChannelID = 12;
    snprintf(r->boundBaseName, sizeof r->boundBaseName, "B2");
    b2->roverCount = 1;
    b1->roverCount = 0;
    NearestBinding_RebindNamed(scope, r);
    EXPECT_EQ((V{Unsub(12, 100), Sub(11, 100)}), Taken());
    EXPECT_EQ(1, b1->roverCount);
    EXPECT_EQ(0, b2->roverCount);
    EXPECT_EQ(11u, r->boundChannelID);
}

TEST_F(NearestBindingTest, BaseEventRebindsEveryVirtualMountByPrefix)
{
    // Rovers near B2 bound to B1 (B2 had no position yet), on every kind of
    // virtual mount name, one without a position, a named and a relay rover.
    const char* mounts[] = {"NEAREST", "NEAREST_X", "RTCM32_ZedOz", "RTCM32_VODIR_2"};
    std::vector<RoverRecord*> virtuals;
    double lat2 = b2->latitude;
    b2->latitude = 0.0;
    for (int i = 0; i < 4; ++i) {
        RoverRecord* r = AddRover("v", mounts[i], 100 + i, ROVER_BIND_NEAREST);
        r->latitude = kLat2;
        r->longitude = kLon;
        ASSERT_TRUE(NearestBinding_OnPosition(scope, r, kLat2, kLon));
        virtuals.push_back(r);
    }
    RoverRecord* silent = AddRover("s", "NEAREST", 200, ROVER_BIND_NEAREST);
    RoverRecord* named = AddRover("n", "B1", 201, ROVER_BIND_NAMED);
    RoverRecord* relay = AddRover("r", "RELAY-7", 202, ROVER_BIND_RELAY);
    Taken();
    EXPECT_EQ(5, b1->roverCount);

    b2->latitude = lat2;
    NearestBinding_UpdateAll(scope);
    V want;
    for (int i = 0; i < 4; ++i) {
        want.push_back(Unsub(11, 100 + i));
        want.push_back(Sub(12, 100 + i));
    }
    EXPECT_EQ(want, Taken());
    for (RoverRecord* r : virtuals) EXPECT_EQ(12u, r->boundChannelID) << r->mountPoint;
    EXPECT_EQ(0u, silent->boundChannelID) << "a rover without a position stays unbound";
    EXPECT_EQ(11u, named->boundChannelID);
    EXPECT_EQ(0u, relay->boundChannelID);
    EXPECT_EQ(1, b1->roverCount);
    EXPECT_EQ(4, b2->roverCount);
    EXPECT_EQ(rovers->CountOnBase("B1"), b1->roverCount);
    EXPECT_EQ(rovers->CountOnBase("B2"), b2->roverCount);
}

std::atomic<int64_t> g_steadyMs{0};
int64_t FakeSteady() { return g_steadyMs.load(); }

// The line of a rover that has not moved past the limit, on a steady clock
// that moves only when the test steps it.
class StillRoverLineTest : public NearestBindingTest {
protected:
    void SetUp() override
    {
        NearestBindingTest::SetUp();
        g_steadyMs = 9000000;
        Platform_SetSteadyClockSource(FakeSteady);
    }
    void TearDown() override
    {
        Platform_SetSteadyClockSource(nullptr);
        NearestBindingTest::TearDown();
    }
    // The still lines logged so far, in order.
    std::vector<std::string> StillLines() const
    {
        std::vector<std::string> out;
        for (const std::string& line : SplitLines(log.Text())) {
            if (line.find(",less than 2 m, so return") != std::string::npos) out.push_back(line);
        }
        return out;
    }
    // A GGA a second after the last one.
    void Gga(RoverRecord* r, double latitude)
    {
        g_steadyMs += 1000;
        ASSERT_TRUE(NearestBinding_OnPosition(scope, r, latitude, kLon));
    }
    LogCapture log;
};

// 100 GGA a second apart from a rover that does not move: its first
// position binds it, the second writes the line, the next ones only once
// the minute is up, counted in that line.
TEST_F(StillRoverLineTest, ASteadyRoverWritesItsLineOnceAMinute)
{
    RoverRecord* r = AddRover("still", "NEAREST", 100, ROVER_BIND_NEAREST);
    for (int i = 0; i < 100; ++i) ASSERT_NO_FATAL_FAILURE(Gga(r, kLat1 + 0.001));
    std::vector<std::string> lines = StillLines();
    ASSERT_EQ(2u, lines.size()) << log.Text();
    std::string text = "[err] rover:still from 30.001000,114.000000 to 30.001000,114.000000 ,less than 2 m, so return";
    EXPECT_EQ(text, lines[0].substr(lines[0].find("[err] "))) << "the line keeps its text and level";
    EXPECT_EQ(text + " (59 more since the last line)", lines[1].substr(lines[1].find("[err] ")));
}

// A new binding is worth its line at once, also when the rover is back on
// the base it had within the minute, with no line in between; the count of
// the lines left out carries over.
TEST_F(StillRoverLineTest, ANewBindingWritesTheLineAtOnce)
{
    RoverRecord* r = AddRover("still", "NEAREST", 100, ROVER_BIND_NEAREST);
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Gga(r, kLat1));
    ASSERT_EQ(1u, StillLines().size()) << "the second GGA writes it, the third is left out";

    ASSERT_NO_FATAL_FAILURE(Gga(r, kLat2));
    ASSERT_EQ(12u, r->boundChannelID) << "re-bound to B2";
    ASSERT_NO_FATAL_FAILURE(Gga(r, kLat1));
    ASSERT_EQ(11u, r->boundChannelID) << "back on B1";
    ASSERT_NO_FATAL_FAILURE(Gga(r, kLat1));
    std::vector<std::string> lines = StillLines();
    ASSERT_EQ(2u, lines.size()) << log.Text();
    const std::string tail = " to 30.000000,114.000000 ,less than 2 m, so return (1 more since the last line)";
    EXPECT_EQ(tail, lines[1].substr(lines[1].size() - std::min(lines[1].size(), tail.size())));
}

}  // namespace
