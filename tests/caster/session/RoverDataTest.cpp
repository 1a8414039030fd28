// The rover handler's record of each position, and its binding.
#include "caster/session/LeavingFixture.h"
#include "caster/session/RoverData.h"
#include "decoding/NEMADecoding/NemaLog.h"
#include "decoding/RTCMDecoding/RtcmLog.h"

namespace {

Tarnek::LogRoot* Gga(double lat, double lon, int hour, double second)
{
    NEMADecoding::NEMA_GPGGA* gga = new NEMADecoding::NEMA_GPGGA();
    gga->latitude = lat;
    gga->longitude = lon;
    gga->altitude = 20.0;
    gga->geoidSeparation = -3.5;
    gga->differentialAge = 1.5;
    gga->fixQuality = 4;
    gga->satellites = 17;
    gga->time.year = 2024;
    gga->time.month = 5;
    gga->time.day = 6;
    gga->time.hour = hour;
    gga->time.minute = 0;
    gga->time.second = second;
    return gga;
}

TEST_F(LeavingTest, RoverHandlerKeepsThePositionAndBinds)
{
    RoverRecord* v = AddRover("v", "NEAREST", 100, ROVER_BIND_NEAREST);
    RoverRecord* n = AddRover("n", "B2", 101, ROVER_BIND_NAMED);
    Taken();

    Tarnek::LogRoot* unit = Gga(30.0001, 114.0, 12, 0.0);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 100));
    EXPECT_EQ(nullptr, unit);
    unit = Gga(30.0002, 114.0, 12, 2.0);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 100));
    EXPECT_EQ(V{Sub(11, 100)}, Taken());
    EXPECT_DOUBLE_EQ(30.0002, v->latitude);
    EXPECT_DOUBLE_EQ(16.5, v->height);
    EXPECT_DOUBLE_EQ(1.5, v->diffAge);
    EXPECT_EQ(4, v->fixQuality);
    EXPECT_EQ(17, v->satellites);
    EXPECT_DOUBLE_EQ(2.0, v->ggaTime.second);
    EXPECT_DOUBLE_EQ(0.0, v->previousGgaTime.second);
    EXPECT_NEAR(11.1 / 2.0, v->speed, 0.1) << "about 11 m in 2 s";

    unit = Gga(30.17, 114.0, 12, 0.0);
    EXPECT_TRUE(Ntrip::RoverData_Execute(scope, &unit, 101));
    EXPECT_NEAR(1113.2, n->distance, 1.0);
    EXPECT_EQ(V{}, Taken()) << "a named rover is only measured";

    unit = Gga(30.0, 114.0, 12, 0.0);
    EXPECT_FALSE(Ntrip::RoverData_Execute(scope, &unit, 555)) << "no such rover";
    EXPECT_EQ(nullptr, unit);
    unit = new RTCMDecoding::RTCM3Log_1005();
    EXPECT_FALSE(Ntrip::RoverData_Execute(scope, &unit, 100)) << "no position";
    EXPECT_EQ(nullptr, unit);
    unit = Gga(0.0, 114.0, 12, 3.0);
    EXPECT_FALSE(Ntrip::RoverData_Execute(scope, &unit, 100)) << "latitude 0 never binds";
    EXPECT_DOUBLE_EQ(0.0, v->latitude) << "but is recorded";
}

}  // namespace
