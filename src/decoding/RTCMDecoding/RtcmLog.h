// Decoded RTCM 3 units: a base station's antenna reference point.
#pragma once

#include "decoding/LogRoot.h"

namespace RTCMDecoding {

enum RtcmLogType {
    RTCM3_LOG_1005_TYPE = 0,
};

class RTCM3Log : public Tarnek::LogRoot {
public:
    int GetKind() const override { return Tarnek::LOG_KIND_RTCM3; }
};

// The station position of one message 1005 or 1006, on the WGS-84 ellipsoid.
class RTCM3Log_1005 : public RTCM3Log {
public:
    RTCM3Log_1005() : latitude(0.0), longitude(0.0), height(0.0) {}
    RTCM3Log_1005(double lat, double lon, double h) : latitude(lat), longitude(lon), height(h) {}
    int GetType() const override { return RTCM3_LOG_1005_TYPE; }
    Tarnek::LogRoot* Clone() const override;

    double latitude;   // degrees, north positive
    double longitude;  // degrees, east positive, -180 to +180
    double height;     // metres above the ellipsoid
};

}  // namespace RTCMDecoding
