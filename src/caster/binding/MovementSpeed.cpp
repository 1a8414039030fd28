#include "caster/binding/MovementSpeed.h"

#include "caster/registry/RoverTable.h"

#include <cmath>

void MovementSpeed(const double now[3], const double before[3], const RoverGgaTime* timeNow,
                   const RoverGgaTime* timeBefore, double* speed)
{
    if (speed == nullptr) return;
    *speed = 0.0;
    if (now == nullptr || before == nullptr || timeNow == nullptr || timeBefore == nullptr) return;
    if (timeNow->year != timeBefore->year || timeNow->month != timeBefore->month ||
        timeNow->day != timeBefore->day) {
        return;
    }
    const double elapsed =
        ((timeNow->hour - timeBefore->hour) * 60.0 + (timeNow->minute - timeBefore->minute)) * 60.0 +
        (timeNow->second - timeBefore->second);
    const double dx = now[0] - before[0];
    const double dy = now[1] - before[1];
    const double dz = now[2] - before[2];
    const double squares = dx * dx + dy * dy + dz * dz;
    // A fix older than the one before it (a replayed or reordered sentence)
    // has no meaningful speed; a negative one would be reported as such.
    if (!(elapsed > 0.0) || squares == 0.0) return;
    *speed = sqrt(squares) / elapsed;
}
