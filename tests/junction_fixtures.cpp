#include "junction_fixtures.h"

#include "vec3.h"

#include <algorithm>

namespace {
using vela::kPi;

vela::host::Call CallOf(const Junction& j) { return j.bend ? vela::host::Call::Bend : vela::host::Call::NWay; }

ON_3fPoint ToFloat(const std::array<double, 3>& p) {
  return ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
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

vela::io::JunctionFile FileOf(const Junction& j) {
  vela::io::JunctionFile file;
  file.name = j.name;
  file.center = j.center;
  file.farPoints = j.farPoints;
  file.radii = j.radii;
  file.innerShare = j.innerShare;
  file.outerShare = j.outerShare;
  file.firstCircleNodes = j.firstRing;
  file.innerLayers = j.inner;
  file.outerLayers = j.outer;
  return file;
}

Meshed MeshJunction(const Junction& j, CVelaRunnerMapping* mapper) {
  CVelaRunnerMapping fresh;
  Meshed out;
  const vela::host::CallResult call = vela::host::MeshJunction(
      FileOf(j), out.mesh, mapper != nullptr ? *mapper : fresh, CallOf(j));
  out.ok = call.ok;
  out.farNodes = call.farNodes;
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
  // The class's merge, taken from the value API in the class's precision.
  return vela::host::MeshValue(FileOf(j), vela::host::kAsClass).mesh.mergeTolerance;
}

std::array<double, 3> Motion::operator()(const std::array<double, 3>& p) const {
  const double c = std::cos(angle), s = std::sin(angle);
  const std::array<double, 3> kxp{axis[1] * p[2] - axis[2] * p[1], axis[2] * p[0] - axis[0] * p[2],
                                  axis[0] * p[1] - axis[1] * p[0]};
  const double kp = axis[0] * p[0] + axis[1] * p[1] + axis[2] * p[2];
  std::array<double, 3> q;
  for (size_t i = 0; i < 3; ++i) q[i] = p[i] * c + kxp[i] * s + axis[i] * kp * (1 - c) + shift[i];
  return q;
}
