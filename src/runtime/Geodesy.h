// WGS-84 geodetic to earth-centred coordinates, as nearest-base distances use.
#pragma once

void GeodeticToEcef(double latitude_deg, double longitude_deg, double height_m, double* x, double* y,
                    double* z);
