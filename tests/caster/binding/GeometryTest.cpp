#include "caster/binding/GreatCircle.h"
#include "caster/binding/MovementSpeed.h"
#include "caster/registry/VirtualMount.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(GreatCircle, IdenticalPointsAreZeroAtEveryLatitude)
{
    // Unclamped, the cosine of a point with itself rounds above 1 at many of
    // these and acos gives NaN.
    int checked = 0;
    for (double lat = -89.95; lat < 90.0; lat += 0.37) {
        for (double lon = -179.9; lon < 180.0; lon += 7.3) {
            double d = GreatCircleDistance(lat, lon, lat, lon);
            ASSERT_FALSE(std::isnan(d)) << lat << "," << lon;
            ASSERT_EQ(0.0, d) << lat << "," << lon;
            ++checked;
        }
    }
    EXPECT_GT(checked, 10000);
}

TEST(GreatCircle, NearlyIdenticalPointsAreNeverNaN)
{
    // Points a hair apart drive the cosine to the edge of [-1, 1] from both sides.
    for (double lat = -89.95; lat < 90.0; lat += 0.37) {
        for (double eps : {1e-12, 1e-10, 1e-9}) {
            double d = GreatCircleDistance(lat, 100.0, lat + eps, 100.0 + eps);
            ASSERT_FALSE(std::isnan(d)) << lat << " " << eps;
            ASSERT_LT(d, 1.0) << lat << " " << eps;
        }
        ASSERT_FALSE(std::isnan(GreatCircleDistance(lat, 0.0, -lat, 180.0))) << "antipode of " << lat;
    }
}

TEST(GreatCircle, KnownDistances)
{
    const double R = 6378137.0;
    // One degree along the equator, and along a meridian.
    EXPECT_NEAR(R * 0.01745329252, GreatCircleDistance(0, 0, 0, 1), 1e-3);
    EXPECT_NEAR(R * 0.01745329252, GreatCircleDistance(10, 20, 11, 20), 1e-3);
    // Symmetric, and antipodes are half the circumference, not NaN.
    EXPECT_NEAR(GreatCircleDistance(30.5, 114.3, 31.2, 121.4), GreatCircleDistance(31.2, 121.4, 30.5, 114.3), 1e-6);
    double half = GreatCircleDistance(0, 0, 0, 180);
    EXPECT_FALSE(std::isnan(half));
    EXPECT_NEAR(R * 3.14159265, half, 10.0);
    EXPECT_FALSE(std::isnan(GreatCircleDistance(45, 10, -45, -170)));
}

namespace {
RoverGgaTime At(int y, int mo, int d, int h, int mi, double s) { return RoverGgaTime{y, mo, d, h, mi, s}; }
}  // namespace

TEST(MovementSpeed, Cases)
{
    const double origin[3] = {1000.0, 2000.0, 3000.0};
    const double moved[3] = {1003.0, 2004.0, 3000.0};  // 5 m away
    struct Case {
        const char* what;
        const double* now;
        RoverGgaTime tNow, tBefore;
        double speed;
    } cases[] = {
        {"5 m in 2.5 s", moved, At(2026, 3, 1, 10, 0, 2.5), At(2026, 3, 1, 10, 0, 0.0), 2.0},
        {"across a minute and an hour", moved, At(2026, 3, 1, 11, 0, 0.5), At(2026, 3, 1, 10, 59, 59.5), 5.0},
        {"across midnight", moved, At(2026, 3, 2, 0, 0, 1.0), At(2026, 3, 1, 23, 59, 59.0), 0.0},
        {"across a month end", moved, At(2026, 4, 1, 0, 0, 1.0), At(2026, 3, 31, 23, 59, 59.0), 0.0},
        {"same time", moved, At(2026, 3, 1, 10, 0, 0.0), At(2026, 3, 1, 10, 0, 0.0), 0.0},
        {"not moved", origin, At(2026, 3, 1, 10, 0, 5.0), At(2026, 3, 1, 10, 0, 0.0), 0.0},
        {"time running backwards", moved, At(2026, 3, 1, 10, 0, 0.0), At(2026, 3, 1, 10, 0, 1.0), 0.0},
    };
    for (const Case& c : cases) {
        double speed = -1.0;
        MovementSpeed(c.now, origin, &c.tNow, &c.tBefore, &speed);
        EXPECT_DOUBLE_EQ(c.speed, speed) << c.what;
    }
}

TEST(VirtualMount, PrefixAndWholeName)
{
    struct Case {
        const char* mount;
        bool prefix, reserved;
    } cases[] = {
        {"NEAREST", true, true},
        {"NEARESTxyz", true, false},
        {"NEARES", false, false},
        {"nearest", false, false},
        {"RTCM32_ZedOz", true, true},
        {"RTCM32_ZedOz_2", true, false},
        {"RTCM32_ZedO", false, false},
        {"RTCM32_VODIR", true, true},
        {"RTCM32_VODIRX", true, false},
        {"RTCM32_VOD", false, false},
        {"RTCM32", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.prefix, VirtualMount_HasPrefix(c.mount)) << c.mount;
        EXPECT_EQ(c.reserved, VirtualMount_IsReserved(c.mount)) << c.mount;
    }
    EXPECT_FALSE(VirtualMount_HasPrefix(nullptr));
    EXPECT_FALSE(VirtualMount_IsReserved(nullptr));
}
