#include "decoding/RTCMDecoding/EcefToGeodetic.h"

#include <cmath>

namespace RTCMDecoding {

namespace {

const double WGS84_A = 6378137.0;
const double WGS84_E2 = 0.006694379990132355;
const double WGS84_A_E2 = 42697.67270712281;  // a * e^2
const double TINY = 1e-20;
const double LATITUDE_TOLERANCE = 1e-11;  // radians
const double HEIGHT_TOLERANCE = 1e-5;     // metres

}  // namespace

bool EcefToGeodetic(double* latitude, double* longitude, double* height, double x, double y, double z)
{
    double p = std::sqrt(x * x + y * y);
    double lon = (std::fabs(x) < TINY && std::fabs(y) < TINY) ? 0.0 : std::atan2(y, x);
    double t = std::fabs(p) < TINY ? 1e99 : z / p;

    double h = std::sqrt(x * x + y * y + z * z) - WGS84_A;
    double phi = std::atan(t / (1.0 - WGS84_A_E2 / (h + WGS84_A)));
    for (int round = 0; round < ECEF_TO_GEODETIC_MAX_ROUNDS; ++round) {
        double s = std::sin(phi);
        double n = WGS84_A / std::sqrt(1.0 - WGS84_E2 * s * s);
        double nextH = p / std::cos(phi) - n;
        double nextPhi = std::atan(t / (1.0 - WGS84_E2 * n / (n + nextH)));
        if (std::fabs(phi - nextPhi) <= LATITUDE_TOLERANCE && std::fabs(h - nextH) <= HEIGHT_TOLERANCE) {
            if (latitude) *latitude = nextPhi;
            if (longitude) *longitude = lon;
            if (height) *height = nextH;
            return true;
        }
        phi = nextPhi;
        h = nextH;
    }
    return false;
}

}  // namespace RTCMDecoding
