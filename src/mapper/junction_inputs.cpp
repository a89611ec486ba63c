#include "mapper/junction_inputs.h"

namespace vela {

namespace {
// Below this difference a runner counts as lying in the plane (or below it).
constexpr double kElevationSideTol = -1e-05;
}  // namespace

std::vector<ON_3fPoint> ToVector(const CArray<ON_3fPoint, ON_3fPoint>& list) {
  std::vector<ON_3fPoint> out;
  out.reserve(static_cast<size_t>(list.GetSize()));
  for (int i = 0; i < list.GetSize(); ++i) out.push_back(list.GetAt(i));
  return out;
}

ProjectedRunners ProjectRunners(const ON_3fPoint& center, const double normal[3],
                                const std::vector<ON_3fPoint>& farPoints) {
  ProjectedRunners out;
  out.farPoints.reserve(farPoints.size());
  out.cosElevation.reserve(farPoints.size());
  out.sinElevation.reserve(farPoints.size());

  ON_3dVector n(normal[0], normal[1], normal[2]);
  n.Unitize();
  const ON_3dPoint origin(center);
  for (const ON_3fPoint& far : farPoints) {
    ON_3dVector d = far - center;  // single-precision difference, then doubles
    const double length = d.Length();
    ON_3dVector p = ON_CrossProduct(n, ON_CrossProduct(d, n));
    p.Unitize();
    p = p * length;
    const ON_3dPoint projected = origin + p;
    out.farPoints.emplace_back(static_cast<float>(projected.x), static_cast<float>(projected.y),
                               static_cast<float>(projected.z));

    d.Unitize();
    p.Unitize();
    const double a = n * p;
    const double b = n * d;
    const double c = d * p;
    const double s = ON_CrossProduct(d, p).Length();
    out.cosElevation.push_back(c);
    out.sinElevation.push_back(a - b > kElevationSideTol ? s : -s);
  }
  return out;
}

}  // namespace vela
