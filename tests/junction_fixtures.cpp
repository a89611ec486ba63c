#include "junction_fixtures.h"

#include <algorithm>

namespace {
const double kPi = 3.141592653589793;

ON_3fPoint ToFloat(const std::array<double, 3>& p) {
  return ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
}
}  // namespace

Junction Planar(const std::string& name, const std::vector<double>& degrees, double r) {
  Junction j;
  j.name = name;
  for (double d : degrees) {
    j.farPoints.push_back({20 * std::cos(d * kPi / 180), 20 * std::sin(d * kPi / 180), 0.0});
    j.radii.push_back(r);
    j.radii.push_back(r);
  }
  return j;
}

Meshed MeshJunction(const Junction& j) {
  CVelaRunnerMapping mapper;
  CArray<double, double> inner, outer, radii;
  CArray<ON_3fPoint, ON_3fPoint> far;
  for (double v : j.inner) inner.Add(v);
  for (double v : j.outer) outer.Add(v);
  for (double v : j.radii) radii.Add(v);
  for (const auto& p : j.farPoints) far.Add(ToFloat(p));
  mapper.SetIOBoundaryLayer(&inner, &outer);
  mapper.SetFirstCircleNodeCount(j.firstRing);
  Meshed out;
  out.farNodes.resize(j.farPoints.size());
  if (j.farPoints.size() == 2)
    out.ok = mapper.TwoConnectRunner(ToFloat(j.center), &far, &radii, j.innerShare, j.outerShare, &out.mesh);
  else
    out.ok = mapper.NConnectRunner(ToFloat(j.center), &far, &radii, j.innerShare, j.outerShare,
                                   &out.mesh, out.farNodes.data());
  return out;
}

Junction Transformed(const Junction& j, const double rot[3][3], const std::array<double, 3>& offset) {
  Junction t = j;
  auto move = [&](const std::array<double, 3>& p) {
    std::array<double, 3> q{};
    for (int r = 0; r < 3; ++r) q[static_cast<size_t>(r)] = rot[r][0] * p[0] + rot[r][1] * p[1] + rot[r][2] * p[2] + offset[static_cast<size_t>(r)];
    return q;
  };
  t.center = move(j.center);
  for (auto& p : t.farPoints) p = move(p);
  return t;
}

double MergeTolOf(const Junction& j) {
  double rMax = 0.0;
  for (double r : j.radii) rMax = std::max(rMax, r);
  double gap = 1.0;
  for (size_t i = 1; i < j.inner.size(); ++i) gap = std::min(gap, j.inner[i] - j.inner[i - 1]);
  double tol = rMax * j.innerShare * gap;
  double outerGap = 1.0;
  for (size_t i = 1; i < j.outer.size(); ++i) outerGap = std::min(outerGap, j.outer[i] - j.outer[i - 1]);
  if (j.outer.size() > 1) tol = std::min(tol, rMax * j.outerShare * outerGap);
  return (j.farPoints.size() == 2 ? 0.1 : 0.25) * tol;
}
