// What each point of a network is, the order of the runners around each
// junction, and how far each junction region reaches along its runners.

#include "system_detail.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>

namespace vela::system::detail {
namespace {

// The bend window of TwoConnectRunner, in degrees: a point whose two runners
// open wider than kStraightDeg carries the runner straight on; one narrower
// than kSharpDeg cannot be meshed at all.
constexpr double kSharpDeg = 20.0;
constexpr double kStraightDeg = 172.0;

using Measure = JunctionRefusal::Unit;

// A refusal with what it is about, for the host to act on without parsing
// the line.
SystemRefusal Refuse(const char* reason, const std::string& message, std::string point = {},
                     std::string runner = {}) {
  SystemRefusal refusal;
  refusal.reason = reason;
  refusal.message = message;
  refusal.point = std::move(point);
  refusal.runner = std::move(runner);
  return refusal;
}

SystemRefusal Measured(SystemRefusal refusal, double value, double limit, Measure unit) {
  refusal.value = value;
  refusal.limit = limit;
  refusal.unit = unit;
  return refusal;
}

std::string Fmt(double value) {
  std::ostringstream out;
  out.precision(4);
  out << value;
  return out.str();
}

bool Finite(const Vec3& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

std::string RunnerName(const RunnerNetwork& network, std::size_t i) {
  return network.runners[i].from + "-" + network.runners[i].to;
}

// The section settings are checked here, before any junction, so that a
// network is refused for them alike whether it has junctions or not.
std::optional<SystemRefusal> CheckSettings(const RunnerNetwork& network) {
  if (!(std::isfinite(network.axialSize) && network.axialSize > 0))
    return Measured(Refuse("settings", "axial size " + Fmt(network.axialSize) + " is not a positive length"),
                    network.axialSize, 0.0, Measure::Length);
  if (network.marginB <= 0 || network.marginA / network.marginB < 1)
    return Refuse("settings", "margin " + std::to_string(network.marginA) + "/" +
                                  std::to_string(network.marginB) + " is below 1");
  const JunctionRefusal why = CheckCrossSection(ToCrossSection(network.section));
  if (why.reason == Refusal::None) return std::nullopt;
  // The library's words for the settings, as the section itself gives them.
  Section unused;
  SectionRings rings;
  return ReferenceSection(network.section, unused, rings);
}

std::optional<SystemRefusal> AddPoints(const RunnerNetwork& network, NetworkPlan& plan,
                                       std::unordered_map<std::string, int>& index) {
  for (const auto& [name, at] : network.points) {
    if (!index.emplace(name, static_cast<int>(plan.points.size())).second)
      return Refuse("duplicate-point", "point " + name + " is given twice", name);
    if (!Finite(at)) return Refuse("non-finite", "point " + name + " is not finite", name);
    PlannedPoint point;
    point.name = name;
    point.at = at;
    plan.points.push_back(point);
  }
  return std::nullopt;
}

std::optional<SystemRefusal> AddRunner(const RunnerNetwork& network, std::size_t i,
                                       const std::unordered_map<std::string, int>& index,
                                       NetworkPlan& plan) {
  const SystemRunner& runner = network.runners[i];
  const std::string name = RunnerName(network, i);
  for (const std::string* end : {&runner.from, &runner.to})
    if (index.find(*end) == index.end())
      return Refuse("unknown-point", "runner " + name + ": no point " + *end, *end, name);
  const int a = index.at(runner.from);
  const int b = index.at(runner.to);
  for (double r : {runner.radiusFrom, runner.radiusTo})
    if (!(std::isfinite(r) && r > 0))
      return Measured(Refuse("radius", "runner " + name + ": radius " + Fmt(r) + " is not positive", {}, name), r,
                      0.0, Measure::Length);
  const Vec3 along = Sub(plan.points[b].at, plan.points[a].at);
  const double length = Norm(along);
  if (a == b || !(length > 0))
    return Refuse("runner-degenerate", "runner " + name + " has no length", {}, name);
  const Vec3 direction = Scale(along, 1.0 / length);
  const RunnerEnd atA{static_cast<int>(i), b, direction, length, runner.radiusFrom,
                      runner.radiusTo, 0, true};
  const RunnerEnd atB{static_cast<int>(i), a, Scale(direction, -1.0), length, runner.radiusTo,
                      runner.radiusFrom, 0, false};
  plan.points[a].ends.push_back(atA);
  plan.points[b].ends.push_back(atB);
  return std::nullopt;
}

// The unit normal of the plane that fits the directions best: the eigenvector
// of the smallest eigenvalue of the sum of d d^T, by Jacobi rotations.
Vec3 BestPlaneNormal(const std::vector<RunnerEnd>& ends) {
  double m[3][3] = {};
  for (const RunnerEnd& end : ends)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) m[r][c] += end.direction[r] * end.direction[c];
  double v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int sweep = 0; sweep < 50; ++sweep) {
    for (int p = 0; p < 2; ++p) {
      for (int q = p + 1; q < 3; ++q) {
        if (std::fabs(m[p][q]) < 1e-300) continue;
        const double theta = 0.5 * std::atan2(2 * m[p][q], m[q][q] - m[p][p]);
        const double c = std::cos(theta), s = std::sin(theta);
        for (int k = 0; k < 3; ++k) {  // columns p, q of m
          const double mkp = m[k][p], mkq = m[k][q];
          m[k][p] = c * mkp - s * mkq;
          m[k][q] = s * mkp + c * mkq;
        }
        for (int k = 0; k < 3; ++k) {  // rows p, q
          const double mpk = m[p][k], mqk = m[q][k];
          m[p][k] = c * mpk - s * mqk;
          m[q][k] = s * mpk + c * mqk;
        }
        for (int k = 0; k < 3; ++k) {
          const double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  int smallest = 0;
  for (int k = 1; k < 3; ++k)
    if (m[k][k] < m[smallest][smallest]) smallest = k;
  return Unit(Vec3{v[0][smallest], v[1][smallest], v[2][smallest]});
}

// Orders a junction's runners by angle about its plane's normal, turning
// from the first runner given towards the first one not in line with it, so
// that a moved or turned network gives the same order.
void OrderAround(PlannedPoint& point) {
  Vec3 normal = BestPlaneNormal(point.ends);
  for (std::size_t j = 1; j < point.ends.size(); ++j) {
    const double side = Dot(normal, Cross(point.ends[0].direction, point.ends[j].direction));
    if (std::fabs(side) > 1e-3) {
      if (side < 0) normal = Scale(normal, -1.0);
      break;
    }
  }
  Vec3 first = Sub(point.ends[0].direction, Scale(normal, Dot(point.ends[0].direction, normal)));
  first = Norm(first) > 1e-12 ? Unit(first) : AnySquareTo(normal);
  const Vec3 second = Cross(normal, first);
  // The first runner is at angle 0 by definition: computed, rounding could
  // put it just below a full turn and last.
  std::vector<std::pair<double, RunnerEnd>> byAngle{{0.0, point.ends[0]}};
  for (std::size_t i = 1; i < point.ends.size(); ++i) {
    const RunnerEnd& end = point.ends[i];
    const double a = std::atan2(Dot(end.direction, second), Dot(end.direction, first));
    byAngle.emplace_back(a < 0 ? a + 2 * kPi : a, end);
  }
  std::stable_sort(byAngle.begin(), byAngle.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  for (std::size_t i = 0; i < byAngle.size(); ++i) point.ends[i] = byAngle[i].second;
}

std::optional<SystemRefusal> Classify(PlannedPoint& point) {
  const std::size_t n = point.ends.size();
  if (n == 0) point.kind = PointKind::Unused;
  else if (n == 1) point.kind = PointKind::End;
  else if (n >= 3) {
    point.kind = PointKind::Junction;
    OrderAround(point);
  } else {
    const double cosine = std::clamp(Dot(point.ends[0].direction, point.ends[1].direction), -1.0, 1.0);
    const double opening = std::acos(cosine) * 180.0 / kPi;
    if (opening < kSharpDeg)
      return Measured(Refuse("point-too-sharp", "point " + point.name + ": its runners open by " + Fmt(opening) +
                                                    " degrees, below " + Fmt(kSharpDeg),
                             point.name),
                      opening, kSharpDeg, Measure::Degrees);
    point.kind = opening > kStraightDeg ? PointKind::Straight : PointKind::Bend;
  }
  return std::nullopt;
}

// How far the region at a junction or bend reaches along each runner, from
// the library, with the runners reaching to the points at their other ends.
std::optional<SystemRefusal> FindExtents(PlannedPoint& point, const std::vector<Vec3>& places, int marginA,
                                         int marginB) {
  std::vector<Point3> far;
  std::vector<double> radii;
  for (const RunnerEnd& end : point.ends) {
    far.push_back(places[static_cast<std::size_t>(end.otherPoint)]);
    radii.push_back(end.radiusHere);
  }
  const std::vector<double> lengths = RunnerLengths(point.at, far, radii, marginA, marginB);
  for (std::size_t i = 0; i < point.ends.size(); ++i) {
    const double extent = i < lengths.size() ? lengths[i] : 0.0;
    if (!(std::isfinite(extent) && extent > 0))
      return Refuse("junction", "point " + point.name + ": the junction region has no finite extent", point.name);
    point.ends[i].extent = extent;
  }
  return std::nullopt;
}

std::optional<SystemRefusal> CheckEndNames(const RunnerNetwork& network, const NetworkPlan& plan,
                                           const std::unordered_map<std::string, int>& index) {
  for (const auto& [point, patch] : network.endNames) {
    const auto found = index.find(point);
    if (found == index.end() || plan.points[static_cast<std::size_t>(found->second)].kind != PointKind::End)
      return Refuse("unknown-end", "end " + patch + ": point " + point + " is not an open end", point);
    if (patch.empty() || patch == "wall")
      return Refuse("unknown-end", "end at " + point + ": patch name \"" + patch + "\" is reserved", point);
  }
  return std::nullopt;
}

// How far the region at end e of a point would reach were the network's
// margin q/1: 0 at a point without a region.
double ExtentWithMargin(const NetworkPlan& plan, const PlannedPoint& point, std::size_t e, int q) {
  if (point.kind != PointKind::Junction && point.kind != PointKind::Bend) return 0.0;
  std::vector<Point3> far;
  std::vector<double> radii;
  for (const RunnerEnd& end : point.ends) {
    far.push_back(plan.points[static_cast<std::size_t>(end.otherPoint)].at);
    radii.push_back(end.radiusHere);
  }
  const std::vector<double> lengths = RunnerLengths(point.at, far, radii, q, 1);
  return e < lengths.size() ? lengths[e] : 0.0;
}

// The largest margin a host would sensibly give: the regions then reach
// hardly past where the runners' cylinders stop cutting into each other.
constexpr int kMostMarginSuggested = 1000;

// The smallest margin q/1, above the network's a/b, at which the regions at
// both ends of a runner leave room for it; 0 when none up to
// kMostMarginSuggested does. A larger margin shortens every region, so the
// first that fits is found by halving.
int MarginThatFits(const NetworkPlan& plan, const std::pair<int, int>& a, const std::pair<int, int>& b,
                   double length, int current) {
  const auto fits = [&](int q) {
    const PlannedPoint& pa = plan.points[static_cast<std::size_t>(a.first)];
    const PlannedPoint& pb = plan.points[static_cast<std::size_t>(b.first)];
    return ExtentWithMargin(plan, pa, static_cast<std::size_t>(a.second), q) +
               ExtentWithMargin(plan, pb, static_cast<std::size_t>(b.second), q) <
           length;
  };
  int low = std::max(current, 1), high = kMostMarginSuggested;
  if (low >= high || !fits(high)) return 0;
  while (high - low > 1) {
    const int mid = low + (high - low) / 2;
    (fits(mid) ? high : low) = mid;
  }
  return high;
}

// The two ends of every runner, and whether the regions at them leave room
// for the runner itself. A refusal says by how much it falls short and what
// would give it room: moving a point, or a margin that shortens the regions.
std::optional<SystemRefusal> JoinRunnerEnds(const RunnerNetwork& network, NetworkPlan& plan) {
  plan.runnerEnds.assign(network.runners.size(), {});
  for (std::size_t p = 0; p < plan.points.size(); ++p)
    for (std::size_t e = 0; e < plan.points[p].ends.size(); ++e) {
      const RunnerEnd& end = plan.points[p].ends[e];
      plan.runnerEnds[static_cast<std::size_t>(end.runner)][end.atFrom ? 0 : 1] = {
          static_cast<int>(p), static_cast<int>(e)};
    }
  for (std::size_t i = 0; i < network.runners.size(); ++i) {
    const auto& [a, b] = plan.runnerEnds[i];
    const PlannedPoint& from = plan.points[static_cast<std::size_t>(a.first)];
    const PlannedPoint& to = plan.points[static_cast<std::size_t>(b.first)];
    const RunnerEnd& atA = from.ends[static_cast<std::size_t>(a.second)];
    const RunnerEnd& atB = to.ends[static_cast<std::size_t>(b.second)];
    const double needed = atA.extent + atB.extent;
    if (needed < atA.length) continue;
    // An open end has no region: moving it lengthens the runner and leaves
    // the region at the other end as it was.
    std::string fix = to.kind == PointKind::End     ? "move " + to.name + " away from " + from.name
                      : from.kind == PointKind::End ? "move " + from.name + " away from " + to.name
                                                    : "move " + from.name + " and " + to.name + " further apart";
    const int margin =
        MarginThatFits(plan, a, b, atA.length, network.marginB > 0 ? network.marginA / network.marginB : 1);
    if (margin > 0) fix += ", or raise margin to " + std::to_string(margin) + "/1 (shorter junction regions)";
    return Measured(Refuse("runner-too-short", "runner " + RunnerName(network, i) + " is " + Fmt(atA.length) +
                                                   " long, more than " + Fmt(needed) + " needed (the regions at " +
                                                   from.name + " and " + to.name + " take " + Fmt(atA.extent) +
                                                   " and " + Fmt(atB.extent) + "): " + fix,
                           {}, RunnerName(network, i)),
                    atA.length, needed, Measure::Length);
  }
  return std::nullopt;
}

// The shortest distance between segments p0-p1 and q0-q1.
double SegmentDistance(const Vec3& p0, const Vec3& p1, const Vec3& q0, const Vec3& q1) {
  const Vec3 d1 = Sub(p1, p0), d2 = Sub(q1, q0), r = Sub(p0, q0);
  const double a = Dot(d1, d1), e = Dot(d2, d2), f = Dot(d2, r), c = Dot(d1, r), b = Dot(d1, d2);
  const double denom = a * e - b * b;
  double s = denom > 1e-12 * a * e ? std::clamp((b * f - c * e) / denom, 0.0, 1.0) : 0.0;
  double t = (b * s + f) / e;
  if (t < 0) {
    t = 0;
    s = std::clamp(-c / a, 0.0, 1.0);
  } else if (t > 1) {
    t = 1;
    s = std::clamp((b - c) / a, 0.0, 1.0);
  }
  return Norm(Sub(Add(p0, Scale(d1, s)), Add(q0, Scale(d2, t))));
}

// Runners that share no point must keep apart: the library sees one junction
// at a time, and two runners crossing in space would give overlapping
// elements that no junction call could notice.
std::optional<SystemRefusal> CheckCrossings(const RunnerNetwork& network,
                                            const std::unordered_map<std::string, int>& index,
                                            const NetworkPlan& plan) {
  // Each runner's points by number, its box and its widest radius, once:
  // a pair whose boxes lie further apart than their radii reach cannot run
  // into each other, and most pairs of a large network are such.
  const std::size_t n = network.runners.size();
  struct Reach {
    int from, to;
    Vec3 lo, hi;
    double radius;
  };
  std::vector<Reach> reaches;
  reaches.reserve(n);
  for (const SystemRunner& runner : network.runners) {
    Reach r{index.at(runner.from), index.at(runner.to), {}, {}, std::max(runner.radiusFrom, runner.radiusTo)};
    const Vec3& a = plan.points[static_cast<std::size_t>(r.from)].at;
    const Vec3& b = plan.points[static_cast<std::size_t>(r.to)].at;
    for (std::size_t k = 0; k < 3; ++k) {
      r.lo[k] = std::min(a[k], b[k]);
      r.hi[k] = std::max(a[k], b[k]);
    }
    reaches.push_back(r);
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const Reach& r = reaches[i];
      const Reach& s = reaches[j];
      if (r.from == s.from || r.from == s.to || r.to == s.from || r.to == s.to) continue;
      const double reach = r.radius + s.radius;
      // Apart by more than the reach on one axis, with room for the rounding
      // of the distance between the segments.
      double gap = 0.0;
      for (std::size_t k = 0; k < 3; ++k) gap = std::max({gap, r.lo[k] - s.hi[k], s.lo[k] - r.hi[k]});
      if (gap > reach * (1.0 + 1e-9) + 1e-300) continue;
      const auto at = [&](int point) { return plan.points[static_cast<std::size_t>(point)].at; };
      const double apart = SegmentDistance(at(r.from), at(r.to), at(s.from), at(s.to));
      if (apart < reach)
        return Measured(Refuse("runners-cross", "runners " + RunnerName(network, i) + " and " +
                                                    RunnerName(network, j) + " run into each other",
                               {}, RunnerName(network, i)),
                        apart, reach, Measure::Length);
    }
  return std::nullopt;
}

// A network in pieces is two meshes, not one: refused, so that the host
// meshes each piece on its own.
std::optional<SystemRefusal> CheckConnected(const NetworkPlan& plan) {
  std::vector<int> piece(plan.points.size(), -1);
  int pieces = 0;
  std::string firstOf[2];
  for (std::size_t start = 0; start < plan.points.size(); ++start) {
    if (piece[start] >= 0 || plan.points[start].ends.empty()) continue;
    if (pieces < 2) firstOf[pieces] = plan.points[start].name;
    std::vector<std::size_t> stack{start};
    piece[start] = pieces;
    while (!stack.empty()) {
      const std::size_t p = stack.back();
      stack.pop_back();
      for (const RunnerEnd& end : plan.points[p].ends) {
        const auto next = static_cast<std::size_t>(end.otherPoint);
        if (piece[next] < 0) {
          piece[next] = pieces;
          stack.push_back(next);
        }
      }
    }
    ++pieces;
  }
  if (pieces > 1)
    return Refuse("disconnected", "the network falls into " + std::to_string(pieces) +
                                      " pieces: no runners lead from point " + firstOf[0] +
                                      " to point " + firstOf[1],
                  firstOf[1]);
  return std::nullopt;
}

// The files name every region and patch, so two must not share a name: a
// runner's name joins its points' names with '-', which point names may hold
// too ("s-a" to "b" and "s" to "a-b"), and an end may be named like another
// end's default.
std::optional<SystemRefusal> CheckNames(const RunnerNetwork& network, const NetworkPlan& plan) {
  std::map<std::string, std::string> runners;
  for (std::size_t i = 0; i < network.runners.size(); ++i) {
    const auto [it, added] = runners.emplace(RunnerName(network, i), network.runners[i].from + " to " +
                                                                          network.runners[i].to);
    if (!added)
      return Refuse("name-clash", "runners from " + it->second + " and from " + network.runners[i].from +
                                      " to " + network.runners[i].to + " would both be runner " + it->first,
                    {}, it->first);
  }
  std::map<std::string, std::string> patches;
  for (const PlannedPoint& point : plan.points) {
    if (point.ends.size() != 1) continue;  // not an open end
    std::string patch = "end-" + point.name;
    for (const auto& [at, name] : network.endNames)
      if (at == point.name) patch = name;
    const auto [it, added] = patches.emplace(patch, point.name);
    if (!added)
      return Refuse("name-clash", "patch " + patch + " would name the ends at " + it->second + " and " + point.name,
                    point.name);
  }
  return std::nullopt;
}

}  // namespace

Vec3 AnySquareTo(const Vec3& axis) {
  const Vec3 helper = std::fabs(axis[0]) < 0.6 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  return Unit(Cross(axis, helper));
}

std::optional<SystemRefusal> PlanNetwork(const RunnerNetwork& network, NetworkPlan& plan) {
  plan = NetworkPlan{};
  if (network.runners.empty()) return Refuse("no-runners", "the network has no runner");
  if (auto refusal = CheckSettings(network)) return refusal;
  std::unordered_map<std::string, int> index;
  if (auto refusal = AddPoints(network, plan, index)) return refusal;
  std::set<std::pair<std::string, std::string>> pairs;
  for (std::size_t i = 0; i < network.runners.size(); ++i) {
    if (auto refusal = AddRunner(network, i, index, plan)) return refusal;
    const SystemRunner& r = network.runners[i];
    if (!pairs.insert(std::minmax(r.from, r.to)).second)
      return Refuse("runner-degenerate", "runner " + RunnerName(network, i) + " is given twice", {},
                    RunnerName(network, i));
  }
  if (auto refusal = CheckNames(network, plan)) return refusal;
  if (auto refusal = CheckConnected(plan)) return refusal;
  std::vector<Vec3> places;
  for (const PlannedPoint& point : plan.points) places.push_back(point.at);
  for (PlannedPoint& point : plan.points) {
    if (auto refusal = Classify(point)) return refusal;
    if (point.kind == PointKind::Junction || point.kind == PointKind::Bend)
      if (auto refusal = FindExtents(point, places, network.marginA, network.marginB)) return refusal;
  }
  if (auto refusal = CheckEndNames(network, plan, index)) return refusal;
  if (auto refusal = JoinRunnerEnds(network, plan)) return refusal;
  return CheckCrossings(network, index, plan);
}

}  // namespace vela::system::detail
