// Earth-centred coordinates back to WGS-84 latitude, longitude and height.
#pragma once

namespace RTCMDecoding {

// Rounds of the latitude/height iteration before giving up. Real stations
// settle within a handful; points near the earth's centre never do.
static const int ECEF_TO_GEODETIC_MAX_ROUNDS = 20;

// X, Y, Z in metres to latitude and longitude in radians and height in
// metres. False, with the outputs untouched, when the iteration does not
// settle within ECEF_TO_GEODETIC_MAX_ROUNDS rounds.
bool EcefToGeodetic(double* latitude, double* longitude, double* height, double x, double y, double z);

}  // namespace RTCMDecoding
