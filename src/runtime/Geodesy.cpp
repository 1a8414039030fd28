#include "runtime/Geodesy.h"

#include <cmath>

void GeodeticToEcef(double latitude_deg, double longitude_deg, double height_m, double* x, double* y,
                    double* z)
{
    // The ten-decimal pi is what stored and compared coordinates were made with.
    const double phi = latitude_deg * 3.1415926535 / 180.0;
    const double lambda = longitude_deg * 3.1415926535 / 180.0;
    const double s = sin(phi);
    const double n = 6378137.0 / sqrt(1.0 - 0.00669437999014132 * s * s);
    *x = (n + height_m) * cos(phi) * cos(lambda);
    *y = (n + height_m) * cos(phi) * sin(lambda);
    *z = (n * 0.9933056200098587 + height_m) * s;
}
