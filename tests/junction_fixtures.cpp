#include "junction_fixtures.h"

#include <algorithm>

namespace {
const double kPi = 3.141592653589793;

ON_3fPoint ToFloat(const std::array<double, 3>& p) {
  return ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
}

// The narrowest gap between neighbouring layer positions (1 for fewer than two).
double SmallestGap(const std::vector<double>& layers) {
  double gap = 1.0;
  for (size_t i = 1; i < layers.size(); ++i) gap = std::min(gap, layers[i] - layers[i - 1]);
  return gap;
}
}  // namespace

Junction Planar(const std::string& name, const std::vector<double>& degrees, double r) {
  Junction j;
  j.name = name;
  for (double d : degrees) {
    j.farPoints.push_back({20 * std::cos(d * kPi / 180), 20 * std::sin(d * kPi / 180), 0.0});
    j.radii.insert(j.radii.end(), {r, r});
  }
  return j;
}

JunctionArrays ArraysOf(const Junction& j) {
  JunctionArrays a;
  for (const auto& p : j.farPoints) a.far.Add(ToFloat(p));
  for (double v : j.radii) a.radii.Add(v);
  for (double v : j.inner) a.inner.Add(v);
  for (double v : j.outer) a.outer.Add(v);
  return a;
}

CArray<double, double> List(std::initializer_list<double> values) {
  CArray<double, double> list;
  for (double v : values) list.Add(v);
  return list;
}

Meshed MeshJunction(const Junction& j, CVelaRunnerMapping* mapper) {
  CVelaRunnerMapping fresh;
  CVelaRunnerMapping& m = mapper != nullptr ? *mapper : fresh;
  const JunctionArrays a = ArraysOf(j);
  m.SetIOBoundaryLayer(&a.inner, &a.outer);
  m.SetFirstCircleNodeCount(j.firstRing);
  Meshed out;
  out.farNodes.resize(j.farPoints.size());
  if (j.bend)
    out.ok = m.TwoConnectRunner(ToFloat(j.center), &a.far, &a.radii, j.innerShare, j.outerShare, &out.mesh);
  else
    out.ok = m.NConnectRunner(ToFloat(j.center), &a.far, &a.radii, j.innerShare, j.outerShare, &out.mesh,
                              out.farNodes.data());
  return out;
}

Junction Transformed(const Junction& j, const double rot[3][3], const std::array<double, 3>& offset) {
  Junction t = j;
  auto move = [&](const std::array<double, 3>& p) {
    std::array<double, 3> q{};
    for (size_t r = 0; r < 3; ++r) q[r] = rot[r][0] * p[0] + rot[r][1] * p[1] + rot[r][2] * p[2] + offset[r];
    return q;
  };
  t.center = move(j.center);
  for (auto& p : t.farPoints) p = move(p);
  return t;
}

double MergeTolOf(const Junction& j) {
  const double rMax = *std::max_element(j.radii.begin(), j.radii.end());
  double tol = rMax * j.innerShare * SmallestGap(j.inner);
  if (j.outer.size() > 1) tol = std::min(tol, rMax * j.outerShare * SmallestGap(j.outer));
  return (j.bend ? 0.1 : 0.25) * tol;
}
