#pragma once

// Cosines and sines of the node angles of every ring of a section, computed
// once per sweep: the angles are the same in every section, so the sweeps
// look them up instead of calling sin and cos per node.

#include <cstddef>
#include <vector>

namespace vela {

class RingAngles {
public:
  // Rings 1..innerRings with i*firstRing nodes each at angle (2*pi / (i*F))*j.
  RingAngles(int firstRing, int innerRings);

  double Cos(int ring, int j) const { return m_cos[static_cast<std::size_t>(m_start[static_cast<std::size_t>(ring)] + j)]; }
  double Sin(int ring, int j) const { return m_sin[static_cast<std::size_t>(m_start[static_cast<std::size_t>(ring)] + j)]; }

private:
  std::vector<int> m_start;  // first entry of ring i
  std::vector<double> m_cos;
  std::vector<double> m_sin;
};

}  // namespace vela
