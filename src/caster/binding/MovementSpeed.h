// A rover's speed from its last two GGA fixes.
#pragma once

struct RoverGgaTime;  // caster/registry/RoverTable.h

// Metres per second between two earth-centred positions (x, y, z in metres)
// taken at two GGA times. 0 when the dates differ (a GGA carries only the
// time of day, so a pair across midnight cannot be timed), when no time has
// passed or the time runs backwards, and when the rover has not moved.
void MovementSpeed(const double now[3], const double before[3], const RoverGgaTime* timeNow,
                   const RoverGgaTime* timeBefore, double* speed);
