#include "channel.h"

#include "vec.h"

#include <algorithm>
#include <limits>

namespace vela::quality {

namespace {

double OutsideRunner(const MachinedRunner& runner, const Vec& p, double& radius) {
  const Vec axis = Sub(runner.to, runner.from);
  const double length = Norm(axis);
  const double t = length > 0.0 ? std::clamp(Dot(Sub(p, runner.from), axis) / length, 0.0, length) : 0.0;
  radius = length > 0.0 ? runner.fromRadius + (runner.toRadius - runner.fromRadius) * (t / length) : runner.fromRadius;
  const Vec onAxis = length > 0.0 ? Add(runner.from, Scaled(axis, t / length)) : runner.from;
  const double side = Norm(Sub(p, onAxis)) - radius;
  // The balls at the ends round the cut ends off.
  const double atFrom = Norm(Sub(p, runner.from)) - runner.fromRadius;
  const double atTo = Norm(Sub(p, runner.to)) - runner.toRadius;
  return std::min({side, atFrom, atTo});
}

}  // namespace

double OutsideChannel(const std::vector<MachinedRunner>& channel, const std::array<double, 3>& p,
                      double* localRadius) {
  double best = std::numeric_limits<double>::infinity(), bestRadius = 0.0;
  for (const MachinedRunner& runner : channel) {
    double radius = 0.0;
    const double d = OutsideRunner(runner, p, radius);
    if (d < best) {
      best = d;
      bestRadius = radius;
    }
  }
  if (localRadius != nullptr) *localRadius = bestRadius;
  return best;
}

WallReport AssessWall(const MemoryMesh& mesh, const std::vector<MachinedRunner>& channel) {
  WallReport report;
  for (size_t n = 0; n < mesh.nodes.size(); ++n) {
    double radius = 0.0;
    const double d = OutsideChannel(channel, mesh.nodes[n], &radius);
    if (!(d > 0.0)) continue;
    report.outside = std::max(report.outside, d);
    const double share = radius > 0.0 ? d / radius : d;
    if (share > report.share) {
      report.share = share;
      report.node = static_cast<int>(n);
    }
  }
  return report;
}

}  // namespace vela::quality
