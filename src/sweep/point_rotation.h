#pragma once

// Turns the point `in` about the line through `pivot` with direction `axis`
// by the angle whose sine and cosine are given (right-hand rule about axis),
// and writes the result to `out`, which may be the same storage as `in`.
//
// sin 0 and cos 1 exactly copy `in` and touch nothing else. Otherwise `axis`
// is normalised in place (the caller's array holds the unit axis afterwards),
// and a pivot exactly at the origin adds no translation. The axis must not be
// the zero vector.
void RotatePointAboutAxis(double sinAngle, double cosAngle, double* axis, const double* pivot,
                          const double* in, double* out);

namespace vela {

// The same turn prepared once for many points: the matrix and translation
// that RotatePointAboutAxis forms from a copy of the axis, so that every
// point turns exactly as it would one call at a time.
class AxisRotation {
public:
  AxisRotation(double sinAngle, double cosAngle, const double* axis, const double* pivot);

  // out may be the same storage as in. Defined here, so that a sweep turning
  // every node of a section runs it in line rather than as a call per node.
  void Apply(const double* in, double* out) const {
    if (m_identity) {
      if (out != in) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
      return;
    }
    // All three components are formed before any is stored, so out may alias in.
    const double ox = (m_r[0][0] * in[0] + m_r[0][1] * in[1] + m_r[0][2] * in[2]) + m_t[0];
    const double oy = (m_r[1][0] * in[0] + m_r[1][1] * in[1] + m_r[1][2] * in[2]) + m_t[1];
    const double oz = (m_r[2][0] * in[0] + m_r[2][1] * in[1] + m_r[2][2] * in[2]) + m_t[2];
    out[0] = ox;
    out[1] = oy;
    out[2] = oz;
  }
  // The unit axis the turn normalised (the axis as given for no turn).
  const double* Axis() const { return m_axis; }

private:
  bool m_identity;
  double m_axis[3];
  double m_r[3][3];
  double m_t[3];
};

}  // namespace vela
