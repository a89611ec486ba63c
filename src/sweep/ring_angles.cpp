#include "sweep/ring_angles.h"

#include <cmath>

namespace vela {

namespace {
constexpr double kTwoPi = 6.283185307179586;
}

RingAngles::RingAngles(int firstRing, int innerRings)
    : m_firstRing(firstRing), m_innerRings(innerRings), m_start(static_cast<size_t>(innerRings) + 1, 0) {
  for (int i = 1; i <= innerRings; ++i) {
    m_start[static_cast<size_t>(i)] = static_cast<int>(m_cos.size());
    const int count = i * firstRing;
    const double step = kTwoPi / count;
    for (int j = 0; j < count; ++j) {
      m_cos.push_back(std::cos(step * j));
      m_sin.push_back(std::sin(step * j));
    }
  }
}

const RingAngles& ThreadRingAngles(int firstRing, int innerRings) {
  thread_local RingAngles last(0, 0);
  if (last.FirstRing() != firstRing || last.InnerRings() != innerRings) last = RingAngles(firstRing, innerRings);
  return last;
}

}  // namespace vela
