#pragma once

// Point triples and the few vector operations the subsystems share.
// Every operation is written out in one fixed order of arithmetic: meshes are
// compared node by node with another implementation of the same construction,
// so x*x + y*y + z*z must never become, say, a fused or reordered sum.

#include <array>
#include <cmath>

namespace vela {

using Point3 = std::array<double, 3>;

constexpr double kPi = 3.141592653589793;

inline Point3 Sub(const Point3& a, const Point3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Point3 Add(const Point3& a, const Point3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Point3 Scale(const Point3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline double Dot(const Point3& a, const Point3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Point3 Cross(const Point3& a, const Point3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double Norm(const Point3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }
// a divided by its length; a zero vector gives non-finite components, which
// the callers rule out before they get here.
inline Point3 Unit(const Point3& a) {
  const double length = Norm(a);
  return {a[0] / length, a[1] / length, a[2] / length};
}
inline Point3 ToPoint3(const double* p) { return {p[0], p[1], p[2]}; }

}  // namespace vela
