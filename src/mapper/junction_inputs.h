#pragma once

// A junction's runners turned into its plane: each far point is turned into
// the junction plane about the centre, keeping its distance, and the runner's
// real direction survives as an elevation pair (cosine, signed sine).

#include "vec3.h"

#include <vector>

namespace vela {

struct ProjectedRunners {
  std::vector<Point3> farPoints;       // in the plane, same distance from the centre
  std::vector<double> cosElevation;    // cosine of the angle to the plane
  std::vector<double> sinElevation;    // negative for a runner rising towards +normal
};

// Projects every far point into the plane through center with the given
// normal (unitized here; a zero normal gives finite, meaningless values
// instead of NaN). A runner in the plane or below it gets a non-negative
// sine; one leaving towards +normal by more than a sine of about 1e-5 a
// negative one, which is the sense in which the sweep tilts a branch back.
// In single precision the turned points are kept as floats.
ProjectedRunners ProjectRunners(const Point3& center, const Point3& normal,
                                const std::vector<Point3>& farPoints, Precision precision);

}  // namespace vela
