#include "sweep/point_rotation.h"

#include <cmath>

namespace vela {

AxisRotation::AxisRotation(double sinAngle, double cosAngle, const double* axis, const double* pivot)
    : m_identity(sinAngle == 0.0 && cosAngle == 1.0),
      m_axis{axis[0], axis[1], axis[2]},
      m_r{},
      m_t{0.0, 0.0, 0.0} {
  if (m_identity) return;
  const double s = sinAngle;
  const double c = cosAngle;
  const double c1 = 1.0 - c;

  const double length = std::sqrt(m_axis[0] * m_axis[0] + m_axis[1] * m_axis[1] + m_axis[2] * m_axis[2]);
  m_axis[0] = m_axis[0] / length;
  m_axis[1] = m_axis[1] / length;
  m_axis[2] = m_axis[2] / length;
  const double x = m_axis[0], y = m_axis[1], z = m_axis[2];

  const double r[3][3] = {
      {x * x * c1 + c, x * y * c1 - z * s, x * z * c1 + y * s},
      {y * x * c1 + z * s, y * y * c1 + c, y * z * c1 - x * s},
      {z * x * c1 - y * s, z * y * c1 + x * s, z * z * c1 + c},
  };
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m_r[i][j] = r[i][j];

  if (pivot[0] != 0.0 || pivot[1] != 0.0 || pivot[2] != 0.0) {
    const double px = pivot[0], py = pivot[1], pz = pivot[2];
    m_t[0] = -((r[0][0] - 1.0) * px + r[0][1] * py + r[0][2] * pz);
    m_t[1] = -(r[1][0] * px + (r[1][1] - 1.0) * py + r[1][2] * pz);
    m_t[2] = -(r[2][0] * px + r[2][1] * py + (r[2][2] - 1.0) * pz);
  }
}

}  // namespace vela

void RotatePointAboutAxis(double sinAngle, double cosAngle, double* axis, const double* pivot,
                          const double* in, double* out) {
  const vela::AxisRotation rotation(sinAngle, cosAngle, axis, pivot);
  if (!(sinAngle == 0.0 && cosAngle == 1.0))
    for (int a = 0; a < 3; ++a) axis[a] = rotation.Axis()[a];
  rotation.Apply(in, out);
}
