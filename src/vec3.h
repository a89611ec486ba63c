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
// a divided by its length; a zero vector (or one with a non-finite length)
// stays as it is, so that a degenerate direction never turns into NaN.
inline Point3 Unitized(const Point3& a) {
  const double length = Norm(a);
  if (!(length > 0.0)) return a;
  return {a[0] / length, a[1] / length, a[2] / length};
}

// How a junction takes its points. Hosts of the exported class hand them over
// as floats, and the class's meshes are compared bit for bit with another
// implementation of the same construction: there a difference of two points
// is formed in single precision and then widened, and the runners turned
// into the junction plane are stored as floats. Callers of the value API keep
// doubles throughout.
enum class Precision { Single, Double };

// v rounded to the nearest float. The float goes through memory: GCC 12's
// vectoriser turns the round trip of two neighbouring coordinates, double to
// float to double, into a plain copy.
inline double NarrowedValue(double v) {
  const volatile float f = static_cast<float>(v);
  return f;
}
inline Point3 Narrowed(const Point3& p) { return {NarrowedValue(p[0]), NarrowedValue(p[1]), NarrowedValue(p[2])}; }
// A point as the junction keeps it: narrowed to float in single precision.
inline Point3 Stored(const Point3& p, Precision precision) {
  return precision == Precision::Single ? Narrowed(p) : p;
}
// a - b; in single precision a and b are floats already and their difference
// is formed in floats before it is widened.
inline Point3 Difference(const Point3& a, const Point3& b, Precision precision) {
  if (precision == Precision::Double) return Sub(a, b);
  const float x = static_cast<float>(a[0]) - static_cast<float>(b[0]);
  const float y = static_cast<float>(a[1]) - static_cast<float>(b[1]);
  const float z = static_cast<float>(a[2]) - static_cast<float>(b[2]);
  return {x, y, z};
}
// Unit direction from the centre to p.
inline Point3 UnitFromCenter(const Point3& center, const Point3& p, Precision precision) {
  return Unit(Difference(p, center, precision));
}
inline bool IsFinite(const Point3& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

}  // namespace vela
