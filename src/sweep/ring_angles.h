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

  int FirstRing() const { return m_firstRing; }
  int InnerRings() const { return m_innerRings; }

private:
  int m_firstRing = 0, m_innerRings = 0;
  std::vector<int> m_start;  // first entry of ring i
  std::vector<double> m_cos;
  std::vector<double> m_sin;
};

// The angles of the last section this thread asked for, kept for its next
// request: a junction's branches, and the junctions after it with the same
// section, look them up without one more sin or cos. Valid until the thread
// asks for another section.
const RingAngles& ThreadRingAngles(int firstRing, int innerRings);

}  // namespace vela
