#include "mapper/junction_guards.h"

#include "mapper/refusal.h"
#include "vec3.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vela {

namespace {

using Unit = JunctionRefusal::Unit;

// Beyond this, squares and products of coordinates and radii come close
// enough to the end of the double range that a sweep can overflow.
constexpr double kMaxMagnitude = 1e15;
// A radius this small against the runner's length leaves ring spacings close
// to the rounding of the single-precision far points.
constexpr double kMinRadiusToLength = 1e-6;
// Arrays beyond this many nodes or elements could not be numbered by the
// host's int indices once their rows are counted.
constexpr double kMaxMeshEntries = std::numeric_limits<int>::max() / 2;
// What a junction takes at its peak per node and per element it sweeps:
// the swept and the merged rows, the merge map and flags, the value the
// caller gets, and the sweeps' and the check's working lists, with room.
constexpr double kBytesPerNode = 160.0;
constexpr double kBytesPerElement = 200.0;
// Shares of the radius must add up to 1 within this.
constexpr double kShareSumTol = 0.001;

// Positions that rise strictly from exactly 0 to exactly 1. Rings out of
// order fold the section over itself; a first position above 0 or a last
// below 1 leaves a gap to the centre node or to the next band of rings.
bool RisesFromZeroToOne(const std::vector<double>& list) {
  if (list.front() != 0.0 || list.back() != 1.0) return false;
  for (size_t i = 1; i < list.size(); ++i)
    if (!(list[i] > list[i - 1])) return false;
  return true;
}

bool AllFinite(const std::vector<double>& list) {
  return std::all_of(list.begin(), list.end(), [](double v) { return std::isfinite(v); });
}

bool SaneCoordinate(const Point3& p) {
  return std::fabs(p[0]) <= kMaxMagnitude && std::fabs(p[1]) <= kMaxMagnitude &&
         std::fabs(p[2]) <= kMaxMagnitude;
}

double Degrees(double radians) { return radians * 180.0 / kPi; }

// Bounds of the N-way construction, found by meshing thousands of random
// junctions and checking each for overlap independently: beyond them some
// junctions overlap; within them none did, with a margin. Within them a
// junction is meshed and checked as usual; beyond them its mesh is tested
// for overlap as well (mapper/mesh_overlap.h), and refused under the bound's
// name only when it does overlap or is otherwise unsound.
// Neighbouring runners closer than 30 degrees (overlap seen up to 29).
constexpr double kMinNeighbourAngleDeg = 30.0;
constexpr double kCosMinNeighbourAngle = 0.8660254;  // cos 30 degrees
// Runners leaving the junction plane by more than 10 degrees (seen from 10.2).
constexpr double kMaxElevationDeg = 10.0;
constexpr double kCosMaxElevation = 0.98480775;  // cos 10 degrees
// Radii of one junction more than 2.5 times apart (seen from 2.9).
constexpr double kMaxRadiusRatio = 2.5;

}  // namespace

bool CheckShares(double innerShare, double outerShare) {
  if (!(std::fabs(innerShare + outerShare - 1.0) < kShareSumTol)) return Refuse(Refusal::Shares);
  return true;
}

bool CheckSection(int firstRing, const std::vector<double>& inner, const std::vector<double>& outer,
                  double ratio) {
  // A ratio outside (0, 1] puts rings outside the runner wall or folds the
  // inner disc onto its centre.
  if (!(ratio > 0.0 && ratio <= 1.0)) return Refuse(Refusal::ShareRatio);
  // A fresh mapper has no layer lists: there is no section to sweep.
  if (inner.size() == 0) return Refuse(Refusal::LayersNotSet);
  if (!AllFinite(inner) || !AllFinite(outer)) return Refuse(Refusal::NonFinite);
  // One position only is the centre node with no ring around it.
  if (inner.size() < 2) return Refuse(Refusal::NoInnerRing);
  if (!RisesFromZeroToOne(inner)) return Refuse(Refusal::LayerOrder);
  if (outer.size() >= 2 && !RisesFromZeroToOne(outer)) return Refuse(Refusal::LayerOrder);
  // Boundary layers with no share of the radius collapse onto the inner disc.
  if (outer.size() >= 2 && ratio == 1.0) return Refuse(Refusal::ShareRatio);
  // Fewer than three nodes on a ring enclose no area.
  if (firstRing < 3) return Refuse(Refusal::FirstRingTooSmall, -1, -1, {double(firstRing), 4.0, Unit::Count});
  // Neighbouring branches meet on the mirror line of their sections; an odd
  // ring has no node opposite its first, and the two sides no longer meet
  // node for node.
  if (firstRing % 2 != 0) return Refuse(Refusal::OddFirstRing);
  // Twice as many rings as first-ring nodes make the inner rings' elements
  // long slivers around the centre; where branches meet they were seen to
  // overlap (first ring 4 with 8 rings).
  const double rings = static_cast<double>(inner.size()) - 1.0;
  if (rings >= 2.0 * firstRing) return Refuse(Refusal::SectionTooFine, -1, -1, {rings, 2.0 * firstRing, Unit::Count});
  return true;
}

bool CheckRadiusCount(const std::vector<double>& radii, int count) {
  if (radii.size() < static_cast<size_t>(count))
    return Refuse(Refusal::RadiusList, -1, -1, {static_cast<double>(radii.size()), double(count), Unit::Count});
  return true;
}

bool CheckRunners(const Point3& center, const std::vector<Point3>& farPoints,
                  const std::vector<double>& radii, Precision precision) {
  const int n = static_cast<int>(farPoints.size());
  if (!IsFinite(center)) return Refuse(Refusal::NonFinite);
  for (int i = 0; i < n; ++i) {
    const Point3& p = farPoints[static_cast<size_t>(i)];
    if (!IsFinite(p)) return Refuse(Refusal::NonFinite, i);
    for (int k = 2 * i; k < 2 * i + 2; ++k)
      if (!std::isfinite(radii[static_cast<size_t>(k)])) return Refuse(Refusal::NonFinite, i);
  }
  for (int i = 0; i < n; ++i)
    for (int k = 2 * i; k < 2 * i + 2; ++k)
      if (!(radii[static_cast<size_t>(k)] > 0.0)) return Refuse(Refusal::RadiusNotPositive, i);
  if (!SaneCoordinate(center)) return Refuse(Refusal::Magnitude);
  for (int i = 0; i < n; ++i) {
    const Point3& p = farPoints[static_cast<size_t>(i)];
    if (!SaneCoordinate(p)) return Refuse(Refusal::Magnitude, i);
    const double length = Norm(Difference(p, center, precision));
    if (length == 0.0) return Refuse(Refusal::FarPointDegenerate, i);
    for (int k = 2 * i; k < 2 * i + 2; ++k) {
      const double r = radii[static_cast<size_t>(k)];
      if (r > kMaxMagnitude || r < kMinRadiusToLength * length) return Refuse(Refusal::Magnitude, i);
    }
  }
  return true;
}

namespace {

// Records a bound broken in `beyond`, the first one only: the junction is
// named after what it was refused for before its mesh was tested.
void NoteBeyond(JunctionRefusal& beyond, Refusal reason, int runner, int otherRunner, const Measured& m) {
  if (beyond.reason != Refusal::None) return;
  beyond.reason = reason;
  beyond.runner = runner;
  beyond.otherRunner = otherRunner;
  beyond.value = m.value;
  beyond.limit = m.limit;
  beyond.unit = m.unit;
}

}  // namespace

bool CheckNWayGeometry(const Point3& center, const std::vector<Point3>& farPoints,
                       const ProjectedRunners& projected, const Point3& normal,
                       const std::vector<double>& radii, Precision precision, JunctionRefusal& beyond) {
  beyond = JunctionRefusal{};
  const int n = static_cast<int>(farPoints.size());
  // The branches are swept in the junction plane and tilted back afterwards;
  // beyond this the tilted branches can run into runners that are not even
  // their neighbours, without a single inverted element to show for it.
  // The steepest runner is named: the plane is an average, so the others
  // lean a little too.
  const auto steepest = std::min_element(projected.cosElevation.begin(), projected.cosElevation.end());
  if (!(*steepest >= kCosMaxElevation))
    NoteBeyond(beyond, Refusal::Elevation, static_cast<int>(steepest - projected.cosElevation.begin()), -1,
               {Degrees(std::acos(std::max(-1.0, std::min(1.0, *steepest)))), kMaxElevationDeg, Unit::Degrees});
  // A branch gives way to its neighbours by bulging into their half of the
  // junction; a runner much wider than another can bulge through it.
  int widest = 0, narrowest = 0;
  for (int k = 1; k < 2 * n; ++k) {
    if (radii[static_cast<size_t>(k)] > radii[static_cast<size_t>(widest)]) widest = k;
    if (radii[static_cast<size_t>(k)] < radii[static_cast<size_t>(narrowest)]) narrowest = k;
  }
  const double wide = radii[static_cast<size_t>(widest)], narrow = radii[static_cast<size_t>(narrowest)];
  if (wide > kMaxRadiusRatio * narrow)
    NoteBeyond(beyond, Refusal::RadiusRatio, widest / 2, narrowest / 2, {wide / narrow, kMaxRadiusRatio, Unit::Ratio});
  // Each branch gives way to the runners before and after it in the list:
  // a list that goes round the junction more than once sweeps branches
  // through each other whatever their angles, so this one is refused
  // without meshing. Going round once, the turns from each runner to the next,
  // about the plane normal, add up to one full turn.
  double turns = 0.0;
  for (int i = 0; i < n; ++i) {
    const int next = i + 1 == n ? 0 : i + 1;
    const Point3 u = Difference(projected.farPoints[static_cast<size_t>(i)], center, precision);
    const Point3 v = Difference(projected.farPoints[static_cast<size_t>(next)], center, precision);
    const double turn = std::atan2(Dot(Cross(u, v), normal), Dot(u, v));
    turns += turn < 0.0 ? turn + 2.0 * kPi : turn;
  }
  // Past a bound already, the junction keeps the name it had before the
  // order was looked at: far out of the plane the order about its normal
  // means little, and the runner to move is the one that bound names.
  if (!(turns < 3.0 * kPi)) {
    if (beyond.reason == Refusal::None) return Refuse(Refusal::RunnerOrder);
    RecordRefusal(beyond);
    return false;
  }
  for (int i = 0; i < n; ++i) {
    const int next = i + 1 == n ? 0 : i + 1;
    const Point3 u = Difference(projected.farPoints[static_cast<size_t>(i)], center, precision);
    const Point3 v = Difference(projected.farPoints[static_cast<size_t>(next)], center, precision);
    const double cosAngle = Dot(u, v) / (Norm(u) * Norm(v));
    if (!(cosAngle <= kCosMinNeighbourAngle)) {
      NoteBeyond(beyond, Refusal::NeighboursTooClose, i, next,
                 {Degrees(std::acos(std::min(1.0, cosAngle))), kMinNeighbourAngleDeg, Unit::Degrees});
      continue;
    }
    // Both far ends must lie beyond the stretch where the two runners'
    // cylinders still cut into each other (cot of half the angle times the
    // wider radius, the same estimate as RunnerLength's), or their far-end
    // sections can overlap.
    const double widerRadius = std::max(std::max(radii[static_cast<size_t>(2 * i)], radii[static_cast<size_t>(2 * i + 1)]),
                                        std::max(radii[static_cast<size_t>(2 * next)], radii[static_cast<size_t>(2 * next + 1)]));
    const double halfAngle = 0.5 * std::acos(std::max(-1.0, cosAngle));
    const double reach = cosAngle > 0.0 ? widerRadius / std::tan(halfAngle) : widerRadius;
    const double shorter = std::min(Norm(Difference(farPoints[static_cast<size_t>(i)], center, precision)),
                                    Norm(Difference(farPoints[static_cast<size_t>(next)], center, precision)));
    if (shorter < reach) NoteBeyond(beyond, Refusal::NeighboursTooClose, i, next, {shorter, reach, Unit::Length});
  }
  return true;
}

bool CheckCounts(double nodeCapacity, double elementCapacity, double memoryLimit) {
  if (!(nodeCapacity <= kMaxMeshEntries && elementCapacity <= kMaxMeshEntries))
    return Refuse(Refusal::TooLarge, -1, -1, {std::max(nodeCapacity, elementCapacity), kMaxMeshEntries, Unit::Count});
  const double bytes = kBytesPerNode * nodeCapacity + kBytesPerElement * elementCapacity;
  if (memoryLimit > 0.0 && bytes > memoryLimit)
    return Refuse(Refusal::TooLarge, -1, -1, {bytes, memoryLimit, Unit::Bytes});
  return true;
}

}  // namespace vela
