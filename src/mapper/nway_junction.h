#pragma once

// The geometry of an N-way junction that the driver derives before sweeping:
// the junction plane and the size of the junction centre.

#include "vec3.h"

#include <optional>
#include <vector>

namespace vela {

// Each cyclic pair of neighbouring runners that are not within 3 degrees of
// one line contributes the unit normal of the plane it spans, oriented by the
// runners' order; the result is their unitized mean. Runners given
// counter-clockwise about a direction give a normal along it. Empty when no
// pair qualifies or the contributions cancel: there is then no junction plane.
std::optional<Point3> AverageCoplaneNormal(const Point3& center, const std::vector<Point3>& farPoints,
                                           Precision precision);

// The size of the junction centre: the largest radius entry but the last
// runner's pair; but when two runners lie on one line (within about 1.55
// degrees, either way) the largest mean of such a pair's junction-end radii.
// radii holds two entries per runner; aroundPoints are in the junction plane.
double CenterJunctionRadius(const Point3& center, const std::vector<Point3>& aroundPoints,
                            const double* radii, Precision precision);

}  // namespace vela
