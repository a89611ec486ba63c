#pragma once

// Point triples and the vector operations of the host-side tools: the
// quality report and the picture. Written apart from the library's own on
// purpose: the report judges the library's meshes and shares no code with it.

#include <array>
#include <cmath>

namespace vela::quality {

using Vec = std::array<double, 3>;

constexpr double kPi = 3.141592653589793;

inline Vec Sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec Add(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec Scaled(const Vec& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double Norm(const Vec& a) { return std::sqrt(Dot(a, a)); }
inline Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
// Six times the signed volume of the tetrahedron (a, b, c, d).
inline double Orient(const Vec& a, const Vec& b, const Vec& c, const Vec& d) {
  return Dot(Sub(b, a), Cross(Sub(c, a), Sub(d, a)));
}

}  // namespace vela::quality
