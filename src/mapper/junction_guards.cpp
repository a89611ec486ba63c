#include "mapper/junction_guards.h"

#include "mapper/refusal.h"

#include <cmath>
#include <limits>

namespace vela {

namespace {

// Beyond this, squares and products of coordinates and radii come close
// enough to the end of the double range that a sweep can overflow.
constexpr double kMaxMagnitude = 1e15;
// A radius this small against the runner's length leaves ring spacings close
// to the rounding of the single-precision far points.
constexpr double kMinRadiusToLength = 1e-6;
// Arrays beyond this many nodes or elements could not be numbered by the
// host's int indices once their rows are counted.
constexpr double kMaxMeshEntries = std::numeric_limits<int>::max() / 2;

// Positions that rise strictly from exactly 0 to exactly 1. Rings out of
// order fold the section over itself; a first position above 0 or a last
// below 1 leaves a gap to the centre node or to the next band of rings.
bool RisesFromZeroToOne(const CArray<double, double>& list) {
  const int n = list.GetSize();
  if (list.GetAt(0) != 0.0 || list.GetAt(n - 1) != 1.0) return false;
  for (int i = 1; i < n; ++i)
    if (!(list.GetAt(i) > list.GetAt(i - 1))) return false;
  return true;
}

bool AllFinite(const CArray<double, double>& list) {
  for (int i = 0; i < list.GetSize(); ++i)
    if (!std::isfinite(list.GetAt(i))) return false;
  return true;
}

bool SaneCoordinate(const ON_3fPoint& p) {
  return std::fabs(p.x) <= kMaxMagnitude && std::fabs(p.y) <= kMaxMagnitude &&
         std::fabs(p.z) <= kMaxMagnitude;
}

}  // namespace

bool CheckSection(int firstRing, const CArray<double, double>& inner,
                  const CArray<double, double>& outer, double ratio) {
  // A ratio outside (0, 1] puts rings outside the runner wall or folds the
  // inner disc onto its centre.
  if (!(ratio > 0.0 && ratio <= 1.0)) return Refuse(Refusal::ShareRatio);
  // A fresh mapper has no layer lists: there is no section to sweep.
  if (inner.GetSize() == 0) return Refuse(Refusal::LayersNotSet);
  if (!AllFinite(inner) || !AllFinite(outer)) return Refuse(Refusal::NonFinite);
  // One position only is the centre node with no ring around it.
  if (inner.GetSize() < 2) return Refuse(Refusal::NoInnerRing);
  if (!RisesFromZeroToOne(inner)) return Refuse(Refusal::LayerOrder);
  if (outer.GetSize() >= 2 && !RisesFromZeroToOne(outer)) return Refuse(Refusal::LayerOrder);
  // Boundary layers with no share of the radius collapse onto the inner disc.
  if (outer.GetSize() >= 2 && ratio == 1.0) return Refuse(Refusal::ShareRatio);
  // Fewer than three nodes on a ring enclose no area.
  if (firstRing < 3) return Refuse(Refusal::FirstRingTooSmall);
  return true;
}

bool ReadRadii(const CArray<double, double>& list, int count, std::vector<double>& out) {
  if (list.GetSize() < count) return Refuse(Refusal::RadiusList);
  out.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) out[static_cast<size_t>(i)] = list.GetAt(i);
  return true;
}

bool CheckRunners(const ON_3fPoint& center, const std::vector<ON_3fPoint>& farPoints,
                  const std::vector<double>& radii) {
  const int n = static_cast<int>(farPoints.size());
  if (!std::isfinite(center.x) || !std::isfinite(center.y) || !std::isfinite(center.z))
    return Refuse(Refusal::NonFinite);
  for (int i = 0; i < n; ++i) {
    const ON_3fPoint& p = farPoints[static_cast<size_t>(i)];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      return Refuse(Refusal::NonFinite, i);
    for (int k = 2 * i; k < 2 * i + 2; ++k)
      if (!std::isfinite(radii[static_cast<size_t>(k)])) return Refuse(Refusal::NonFinite, i);
  }
  for (int i = 0; i < n; ++i)
    for (int k = 2 * i; k < 2 * i + 2; ++k)
      if (!(radii[static_cast<size_t>(k)] > 0.0)) return Refuse(Refusal::RadiusNotPositive, i);
  if (!SaneCoordinate(center)) return Refuse(Refusal::Magnitude);
  for (int i = 0; i < n; ++i) {
    const ON_3fPoint& p = farPoints[static_cast<size_t>(i)];
    if (!SaneCoordinate(p)) return Refuse(Refusal::Magnitude, i);
    const double length = (p - center).Length();  // single-precision difference, then doubles
    if (length == 0.0) return Refuse(Refusal::FarPointDegenerate, i);
    for (int k = 2 * i; k < 2 * i + 2; ++k) {
      const double r = radii[static_cast<size_t>(k)];
      if (r > kMaxMagnitude || r < kMinRadiusToLength * length) return Refuse(Refusal::Magnitude, i);
    }
  }
  return true;
}

bool CheckNWayGeometry(const ON_3fPoint& center, const std::vector<ON_3fPoint>& farPoints,
                       const ProjectedRunners& projected, const std::vector<double>& radii) {
  (void)center; (void)farPoints; (void)projected; (void)radii;
  return true;
}

bool CheckCounts(double nodeCapacity, double elementCapacity) {
  if (!(nodeCapacity <= kMaxMeshEntries && elementCapacity <= kMaxMeshEntries))
    return Refuse(Refusal::TooLarge);
  return true;
}

}  // namespace vela
