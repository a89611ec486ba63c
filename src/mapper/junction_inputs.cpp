#include "mapper/junction_inputs.h"

namespace vela {

namespace {
// Below this difference a runner counts as lying in the plane (or below it).
constexpr double kElevationSideTol = -1e-05;
}  // namespace

ProjectedRunners ProjectRunners(const Point3& center, const Point3& normal,
                                const std::vector<Point3>& farPoints, Precision precision) {
  ProjectedRunners out;
  out.farPoints.reserve(farPoints.size());
  out.cosElevation.reserve(farPoints.size());
  out.sinElevation.reserve(farPoints.size());

  const Point3 n = Unitized(normal);
  for (const Point3& far : farPoints) {
    Point3 d = Difference(far, center, precision);
    const double length = Norm(d);
    Point3 p = Scale(Unitized(Cross(n, Cross(d, n))), length);
    out.farPoints.push_back(Stored(Add(center, p), precision));

    d = Unitized(d);
    p = Unitized(p);
    const double a = Dot(n, p);
    const double b = Dot(n, d);
    const double c = Dot(d, p);
    const double s = Norm(Cross(d, p));
    out.cosElevation.push_back(c);
    out.sinElevation.push_back(a - b > kElevationSideTol ? s : -s);
  }
  return out;
}

}  // namespace vela
