#pragma once

// The guards at the door of the junction calls. Each returns false, with the
// reason recorded (mapper/refusal.h), for input that can only give a broken
// mesh, and true otherwise.

#include "mapper/junction_inputs.h"

#include <VelaRefusal.h>
#include "vec3.h"

#include <vector>

namespace vela {

// The two shares of the radius add up to 1 within 0.001.
bool CheckShares(double innerShare, double outerShare);

// The cross-section settings: the layer lists set, finite and rising strictly
// from 0 to 1; at least one inner ring, the first of an even number (at
// least four) of nodes; an inner
// share ratio in (0, 1] that leaves boundary layers some thickness.
bool CheckSection(int firstRing, const std::vector<double>& inner, const std::vector<double>& outer,
                  double ratio);

// The runners: finite coordinates and radii of sane magnitude, radii above
// zero and far points away from the centre. radii holds two per runner.
bool CheckRunners(const Point3& center, const std::vector<Point3>& farPoints,
                  const std::vector<double>& radii, Precision precision);

// False with Refusal::RadiusList when the radius list holds fewer than
// `count` entries.
bool CheckRadiusCount(const std::vector<double>& radii, int count);

// The runners of an N-way junction against each other, on the projected
// runners. False for a list that does not go once round the junction about
// the plane normal, its branches being swept through each other whatever the
// angles: with runner-order recorded, or with the first bound broken (below)
// where there is one. Otherwise true, with `beyond`
// holding the first of the bounds within which the construction was never
// seen to overlap that the runners break, or reason None: elevations of at
// most 10 degrees, radii at most 2.5 times apart, neighbours at least 30
// degrees apart with both far points beyond the stretch where their
// cylinders cut into each other. A junction beyond them is meshed all the
// same, its mesh tested for overlap, and refused with `beyond` when it fails.
bool CheckNWayGeometry(const Point3& center, const std::vector<Point3>& farPoints,
                       const ProjectedRunners& projected, const Point3& normal,
                       const std::vector<double>& radii, Precision precision, JunctionRefusal& beyond);

// Node and element counts that an int numbers, with room to spare, and an
// estimate of the memory they take within memoryLimit (0: no bound). Taken
// as doubles, so that the products that form them cannot overflow first.
bool CheckCounts(double nodeCapacity, double elementCapacity, double memoryLimit);

}  // namespace vela
