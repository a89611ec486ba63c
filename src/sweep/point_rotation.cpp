#include "sweep/point_rotation.h"

#include <cmath>

void RotatePointAboutAxis(double sinAngle, double cosAngle, double* axis, const double* pivot,
                          const double* in, double* out) {
  if (sinAngle == 0.0 && cosAngle == 1.0) {
    if (out != in) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
    return;
  }
  const double s = sinAngle;
  const double c = cosAngle;
  const double c1 = 1.0 - c;

  const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  axis[0] = axis[0] / length;
  axis[1] = axis[1] / length;
  axis[2] = axis[2] / length;
  const double x = axis[0], y = axis[1], z = axis[2];

  const double r[3][3] = {
      {x * x * c1 + c, x * y * c1 - z * s, x * z * c1 + y * s},
      {y * x * c1 + z * s, y * y * c1 + c, y * z * c1 - x * s},
      {z * x * c1 - y * s, z * y * c1 + x * s, z * z * c1 + c},
  };

  double t[3] = {0.0, 0.0, 0.0};
  if (pivot[0] != 0.0 || pivot[1] != 0.0 || pivot[2] != 0.0) {
    const double px = pivot[0], py = pivot[1], pz = pivot[2];
    t[0] = -((r[0][0] - 1.0) * px + r[0][1] * py + r[0][2] * pz);
    t[1] = -(r[1][0] * px + (r[1][1] - 1.0) * py + r[1][2] * pz);
    t[2] = -(r[2][0] * px + r[2][1] * py + (r[2][2] - 1.0) * pz);
  }

  // All three components are formed before any is stored, so out may alias in.
  const double ox = (r[0][0] * in[0] + r[0][1] * in[1] + r[0][2] * in[2]) + t[0];
  const double oy = (r[1][0] * in[0] + r[1][1] * in[1] + r[1][2] * in[2]) + t[1];
  const double oz = (r[2][0] * in[0] + r[2][1] * in[1] + r[2][2] * in[2]) + t[2];
  out[0] = ox;
  out[1] = oy;
  out[2] = oz;
}
