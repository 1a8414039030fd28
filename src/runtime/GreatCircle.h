// Distance between two points on the sphere the caster measures with.
#pragma once

// Metres between two points given in degrees, on a sphere of radius
// 6378137.0 m. Identical points give 0, never NaN.
double GreatCircleDistance(double lat1, double lon1, double lat2, double lon2);
