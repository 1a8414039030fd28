#include "caster/binding/MovementSpeed.h"
#include "caster/registry/RoverTable.h"

#include <gtest/gtest.h>

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
