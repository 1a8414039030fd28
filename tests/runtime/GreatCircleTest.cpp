#include "runtime/GreatCircle.h"

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
