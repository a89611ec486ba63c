#pragma once

// The point and vector value types of the exported class's signatures.
//
// Plain values with public x, y, z members:
//   ON_3fPoint   a point of three floats: the centre and far points a host
//                hands to CVelaRunnerMapping, and the far nodes it gets back;
//   ON_3fVector  the difference of two such points, formed in floats;
//   ON_3dPoint, ON_3dVector  the same in doubles, for hosts that compute with
//                them: difference, point plus vector, Length(), Unitize()
//                (a zero vector stays zero), scaling, the dot product as
//                operator* between two vectors, and ON_CrossProduct.
//
// The class takes every point as the float it is and forms the difference of
// two points in single precision before it widens it to doubles, so that
// every computation sees the same rounded difference. Hosts that keep their
// geometry in doubles and want it kept so use VelaJunction.h instead.

#include <cmath>

class ON_3dVector;

class ON_3fVector {
public:
  float x = 0.0f, y = 0.0f, z = 0.0f;

  ON_3fVector() = default;
  ON_3fVector(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  double Length() const {
    const double dx = x, dy = y, dz = z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  }
};

class ON_3fPoint {
public:
  float x = 0.0f, y = 0.0f, z = 0.0f;

  ON_3fPoint() = default;
  ON_3fPoint(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  // Single-precision difference, component by component.
  ON_3fVector operator-(const ON_3fPoint& p) const { return {x - p.x, y - p.y, z - p.z}; }
  ON_3fPoint operator+(const ON_3fVector& v) const { return {x + v.x, y + v.y, z + v.z}; }

  bool operator==(const ON_3fPoint& p) const { return x == p.x && y == p.y && z == p.z; }
  bool operator!=(const ON_3fPoint& p) const { return !(*this == p); }
};

class ON_3dVector {
public:
  double x = 0.0, y = 0.0, z = 0.0;

  ON_3dVector() = default;
  ON_3dVector(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
  // Widening of a single-precision vector; exact.
  ON_3dVector(const ON_3fVector& v) : x(v.x), y(v.y), z(v.z) {}  // NOLINT(google-explicit-constructor)

  double Length() const { return std::sqrt(x * x + y * y + z * z); }

  // Scales the vector to unit length. A zero vector stays as it is and the
  // result is false, so that a degenerate direction never turns into NaN.
  bool Unitize() {
    const double length = Length();
    if (!(length > 0.0)) return false;
    x /= length;
    y /= length;
    z /= length;
    return true;
  }

  ON_3dVector operator-() const { return {-x, -y, -z}; }
  ON_3dVector operator+(const ON_3dVector& v) const { return {x + v.x, y + v.y, z + v.z}; }
  ON_3dVector operator-(const ON_3dVector& v) const { return {x - v.x, y - v.y, z - v.z}; }
  ON_3dVector operator*(double s) const { return {x * s, y * s, z * s}; }
  ON_3dVector operator/(double s) const { return {x / s, y / s, z / s}; }
  ON_3dVector& operator+=(const ON_3dVector& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
  }
  ON_3dVector& operator*=(double s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  // Dot product.
  double operator*(const ON_3dVector& v) const { return x * v.x + y * v.y + z * v.z; }
};

inline ON_3dVector operator*(double s, const ON_3dVector& v) { return v * s; }

class ON_3dPoint {
public:
  double x = 0.0, y = 0.0, z = 0.0;

  ON_3dPoint() = default;
  ON_3dPoint(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
  ON_3dPoint(const ON_3fPoint& p) : x(p.x), y(p.y), z(p.z) {}  // NOLINT(google-explicit-constructor)

  ON_3dVector operator-(const ON_3dPoint& p) const { return {x - p.x, y - p.y, z - p.z}; }
  ON_3dPoint operator+(const ON_3dVector& v) const { return {x + v.x, y + v.y, z + v.z}; }
};

inline ON_3dVector ON_CrossProduct(const ON_3dVector& a, const ON_3dVector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline double ON_DotProduct(const ON_3dVector& a, const ON_3dVector& b) { return a * b; }
