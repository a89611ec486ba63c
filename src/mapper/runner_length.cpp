#include "mapper/runner_length.h"

#include "vec3.h"

#include <algorithm>
#include <cmath>

namespace vela {

void ComputeRunnerLengths(int n, const double (*points)[3], const double* radius, int a,
                          double* out, int b) {
  // No margin can be formed, or nothing to read or write: the output stays
  // as it was.
  if (b == 0 || points == nullptr || radius == nullptr || out == nullptr) return;
  // Divided in 64 bits: INT_MIN / -1 does not fit an int.
  const double q = static_cast<double>(static_cast<long long>(a) / b);

  double rMax = n > 1 ? radius[1] : 0.0;
  for (int i = 2; i < n; ++i) rMax = std::max(rMax, radius[i]);

  const Point3 center = ToPoint3(points[0]);
  for (int i = 1; i < n; ++i) {
    out[i] = 0.0;
    const Point3 d = Unit(Sub(ToPoint3(points[i]), center));
    const int next = i + 1 == n ? 1 : i + 1;
    const int prev = i == 1 ? n - 1 : i - 1;
    for (int k : {next, prev}) {
      const Point3 e = Unit(Sub(ToPoint3(points[k]), center));
      const double c = Dot(d, e);
      double length;
      if (c > 0.0) {
        // A runner that is its own neighbour has c = 1 up to rounding; the
        // clamp keeps acos defined so that its length comes out infinite.
        const double theta = std::acos(std::min(c, 1.0));
        length = rMax * (1.0 / std::tan(0.5 * theta) + 1.0 / q);
      } else {
        length = rMax * (1.0 + 1.0 / q);
      }
      out[i] = std::max(out[i], length);
    }
  }
}

}  // namespace vela
