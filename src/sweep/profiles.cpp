#include "sweep/profiles.h"

#include <cmath>

namespace vela {

double CircularProfile(double t) {
  if (t <= 0.5) return 0.0;
  const double s = 2.0 * (t - 0.5);
  return 1.0 - std::sqrt(1.0 - s * s);
}

double LinearProfile(double t) { return t; }

}  // namespace vela
