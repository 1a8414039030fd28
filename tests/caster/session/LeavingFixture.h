// Two online bases 20 km apart on registries of the test's own, for the code
// that runs as bases and rovers leave or move.
#pragma once

#include "caster/BindingFixture.h"

#include <vector>

using V = std::vector<Posted>;

class LeavingTest : public BindingTest {
protected:
    void SetUp() override
    {
        BindingTest::SetUp();
        b1 = AddBase("B1", 11, 30.0, 114.0);
        b2 = AddBase("B2", 12, 30.18, 114.0);
    }
    // A virtual-mount rover bound to the base nearest to its position.
    RoverRecord* AddMoving(const char* user, const char* mount, uint64_t channel, double lat, double lon)
    {
        RoverRecord* r = AddRover(user, mount, channel, ROVER_BIND_NEAREST);
        r->latitude = lat;
        r->longitude = lon;
        EXPECT_TRUE(NearestBinding_OnPosition(scope, r, lat, lon));
        return r;
    }
    BaseRecord* b1 = nullptr;
    BaseRecord* b2 = nullptr;
};

