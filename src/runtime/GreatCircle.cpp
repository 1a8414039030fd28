#include "runtime/GreatCircle.h"

#include <cmath>

double GreatCircleDistance(double lat1, double lon1, double lat2, double lon2)
{
    // cos^2 + sin^2 of the same latitude need not round to exactly 1: without
    // this a point is a few centimetres from itself.
    if (lat1 == lat2 && lon1 == lon2) return 0.0;
    const double toRad = 0.01745329252;
    const double phi1 = lat1 * toRad;
    const double phi2 = lat2 * toRad;
    const double dLambda = (lon1 - lon2) * toRad;
    double c = cos(dLambda) * cos(phi2) * cos(phi1) + sin(phi2) * sin(phi1);
    // Rounding can push the cosine of two (nearly) identical or antipodal
    // points just past +-1, where acos gives NaN; a NaN distance would never
    // compare as near, so a rover standing on a base would never be bound.
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return acos(c) * 6378137.0;
}
