#pragma once

// Storing a junction's runners: each far point is turned into the junction
// plane about the centre, keeping its distance, and the runner's real
// direction survives as an elevation pair (cosine, signed sine).

#include <VelaArray.h>
#include <VelaGeometry.h>

#include "vec3.h"

#include <cmath>

#include <vector>

namespace vela {

struct ProjectedRunners {
  std::vector<ON_3fPoint> farPoints;   // in the plane, same distance from the centre
  std::vector<double> cosElevation;    // cosine of the angle to the plane
  std::vector<double> sinElevation;    // negative for a runner rising towards +normal
};

// The far points of a host's list, read in order (CArray's bounds-checked reads).
std::vector<ON_3fPoint> ToVector(const CArray<ON_3fPoint, ON_3fPoint>& list);

inline Point3 ToPoint3(const ON_3fPoint& p) { return {p.x, p.y, p.z}; }

// Unit direction from the centre to p, the difference formed in single
// precision and then carried on in doubles.
inline Point3 UnitFromCenter(const ON_3fPoint& center, const ON_3fPoint& p) {
  const ON_3dVector d = p - center;
  return Unit({d.x, d.y, d.z});
}

inline bool IsFinite(const ON_3fPoint& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Projects every far point into the plane through center with the given
// normal (unitized here; a zero normal gives finite, meaningless values
// instead of NaN). A runner in the plane or below it gets a non-negative
// sine; one leaving towards +normal by more than a sine of about 1e-5 a
// negative one, which is the sense in which the sweep tilts a branch back.
ProjectedRunners ProjectRunners(const ON_3fPoint& center, const double normal[3],
                                const std::vector<ON_3fPoint>& farPoints);

}  // namespace vela
