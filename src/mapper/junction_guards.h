#pragma once

// The guards at the door of the junction calls. Each returns false, with the
// reason recorded (mapper/refusal.h), for input that can only give a broken
// mesh, and true otherwise.

#include <VelaArray.h>
#include <VelaGeometry.h>

#include "mapper/junction_inputs.h"

#include <vector>

namespace vela {

// The two shares of the radius add up to 1 within 0.001.
bool CheckShares(double innerShare, double outerShare);

// The cross-section settings: the layer lists set, finite and rising strictly
// from 0 to 1; at least one inner ring, the first of an even number (at
// least four) of nodes; an inner
// share ratio in (0, 1] that leaves boundary layers some thickness.
bool CheckSection(int firstRing, const CArray<double, double>& inner,
                  const CArray<double, double>& outer, double ratio);

// The runners: finite coordinates and radii of sane magnitude, radii above
// zero and far points away from the centre. radii holds two per runner.
bool CheckRunners(const ON_3fPoint& center, const std::vector<ON_3fPoint>& farPoints,
                  const std::vector<double>& radii);

// The whole radius list, read once through CArray's checked reads; false
// with Refusal::RadiusList when it holds fewer than `count` entries.
bool ReadRadii(const CArray<double, double>& list, int count, std::vector<double>& out);

// The runners of an N-way junction against each other, on the projected
// runners: the list going once round the junction about the plane normal;
// elevations of at most 10 degrees, radii at most 2.5 times apart,
// neighbours at least 30 degrees apart with both far points beyond the
// stretch where their cylinders cut into each other.
bool CheckNWayGeometry(const ON_3fPoint& center, const std::vector<ON_3fPoint>& farPoints,
                       const ProjectedRunners& projected, const double normal[3],
                       const std::vector<double>& radii);

// Node and element counts that an int numbers, with room to spare. Taken as
// doubles, so that the products that form them cannot overflow first.
bool CheckCounts(double nodeCapacity, double elementCapacity);

}  // namespace vela
