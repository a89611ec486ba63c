// The N-way junction: its plan (the junction plane, the runners turned into
// it, the size of the centre, the counts and the merge tolerance), its sweep
// (one branch per runner), and the driver that runs them.

#include "mapper/nway_junction.h"

#include "mapper/junction_guards.h"
#include "mapper/junction_plan.h"
#include "mapper/mesh_overlap.h"
#include "mapper/node_merge.h"
#include "mapper/refusal.h"
#include "sweep/branch_sweep.h"

#include <algorithm>
#include <cmath>

namespace vela {

namespace {

// Sine of 3 degrees: neighbours closer than this to one line span no plane.
constexpr double kSin3Deg = 0.052335956;
// Cosine of about 1.55 degrees: runners this close to one line are a straight
// pass through the junction, which sizes the centre.
constexpr double kCosInLine = 0.99963252;
// The merge tolerance is a quarter of the smallest ring gap: wide enough for
// the rounding of separately swept branches, far from any real neighbour.
constexpr double kMergeTolShare = 0.25;

}  // namespace

std::optional<Point3> AverageCoplaneNormal(const Point3& center, const std::vector<Point3>& farPoints,
                                           Precision precision) {
  const size_t n = farPoints.size();
  if (n == 0) return std::nullopt;
  Point3 u = UnitFromCenter(center, farPoints[0], precision);
  Point3 sum = {0.0, 0.0, 0.0};
  int count = 0;
  for (size_t j = 1; j <= n; ++j) {
    const Point3 v = UnitFromCenter(center, farPoints[j % n], precision);
    const Point3 c = Cross(u, v);
    const double s = Norm(c);
    u = v;
    if (s >= kSin3Deg) {
      sum = Add(sum, {c[0] / s, c[1] / s, c[2] / s});
      count += 1;
    }
  }
  if (count == 0) return std::nullopt;
  const Point3 mean = {sum[0] / count, sum[1] / count, sum[2] / count};
  if (!(Norm(mean) > 0.0)) return std::nullopt;
  return Unit(mean);
}

double CenterJunctionRadius(const Point3& center, const std::vector<Point3>& aroundPoints,
                            const double* radii, Precision precision) {
  const int n = static_cast<int>(aroundPoints.size());
  double size = radii[0];
  for (int k = 1; k <= 2 * n - 3; ++k) size = std::max(size, radii[k]);
  bool first = true;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      const Point3 u = UnitFromCenter(center, aroundPoints[static_cast<size_t>(i)], precision);
      const Point3 w = UnitFromCenter(center, aroundPoints[static_cast<size_t>(j)], precision);
      if (std::fabs(Dot(u, w)) < kCosInLine) continue;
      const double v = (radii[2 * i + 1] + radii[2 * j + 1]) / 2.0;
      size = first ? v : std::max(size, v);
      first = false;
    }
  }
  return size;
}

namespace {

// Whether any element of the merged mesh lies partly inside another.
bool Overlaps(const MeshBuild& build) {
  std::vector<Point3> nodes;
  std::vector<Element> elements;
  build.Export(nodes, elements);
  return FindOverlap(nodes, elements, true).overlapping > 0;
}

// The ball the runners are machined to meet in: the largest of their
// junction-end radii.
double BallRadius(const std::vector<double>& radii) {
  double size = 0.0;
  for (size_t k = 1; k < radii.size(); k += 2) size = std::max(size, radii[k]);
  return size;
}

}  // namespace

std::optional<NWayPlan> PlanNWay(const JunctionSettings& settings, const JunctionCall& call) {
  if (!CheckShares(call.innerShare, call.outerShare)) return std::nullopt;
  const int n = static_cast<int>(call.farPoints.size());
  // Two runners are a bend, with a call of its own; one is no junction.
  if (n < 3) return Refused(Refusal::TooFewRunners);
  NWayPlan plan;
  plan.precision = call.precision;
  plan.center = call.center;
  const double ratio = call.innerShare / (call.innerShare + call.outerShare);
  if (!PlanSection(settings, ratio, plan)) return std::nullopt;
  plan.farPoints = call.farPoints;
  if (!CheckRadiusCount(call.radii, 2 * n)) return std::nullopt;
  plan.radii = call.radii;
  if (!CheckRunners(call.center, plan.farPoints, plan.radii, call.precision)) return std::nullopt;
  // Without a junction plane the branches have no common section plane.
  const std::optional<Point3> normal = AverageCoplaneNormal(call.center, plan.farPoints, call.precision);
  if (!normal) return Refused(Refusal::NoPlane);
  plan.normal = *normal;
  plan.projected = ProjectRunners(call.center, plan.normal, plan.farPoints, call.precision);
  // A runner along the plane normal projects onto the centre: a branch of
  // zero length.
  for (int i = 0; i < n; ++i)
    if (Norm(Difference(plan.projected.farPoints[static_cast<size_t>(i)], call.center, call.precision)) == 0.0)
      return Refused(Refusal::FarPointDegenerate, i);
  if (!CheckNWayGeometry(call.center, plan.farPoints, plan.projected, plan.normal, plan.radii, call.precision,
                         plan.beyondBounds))
    return std::nullopt;

  // One section and one element layer more per branch than a branch stores.
  const SectionSize size = SizeSection(plan.section.firstRing, plan.section.innerRings,
                                       plan.section.outerLayers);
  const double nodeCapacity = size.nodes * (plan.layers + 2) * n;
  const double elementCapacity = size.faces * (plan.layers + 1) * n;
  if (!CheckCounts(nodeCapacity, elementCapacity, call.memoryLimit)) return std::nullopt;
  plan.capacity = {static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity)};

  plan.construction = call.construction;
  plan.centerRadius =
      CenterJunctionRadius(call.center, plan.projected.farPoints, plan.radii.data(), call.precision);
  const SectionSettings& s = plan.section;
  plan.mergeTol = kMergeTolShare * MergeTolerance(plan.centerRadius, plan.radii, s.inner, s.innerRings,
                                                  s.outer, s.outerLayers, call.innerShare,
                                                  call.outerShare);
  return plan;
}

std::unique_ptr<MeshBuild> SweepNWay(const NWayPlan& plan, std::vector<int>& firstNodes) {
  auto build = std::make_unique<MeshBuild>(plan.capacity);
  const SectionSettings& section = plan.section;
  const std::vector<SectionFace> faces =
      SectionFaces(section.firstRing, section.innerRings, section.outerLayers);
  const std::vector<Point3>& around = plan.projected.farPoints;
  const std::vector<double>& r = plan.radii;
  const int n = plan.RunnerCount();
  const bool improved = plan.construction == Construction::Improved;
  const double ball = BallRadius(r);
  firstNodes.assign(static_cast<size_t>(n), 0);
  for (int i = 0; i < n; ++i) {
    const int next = i + 1 == n ? 0 : i + 1;
    const int prev = i == 0 ? n - 1 : i - 1;
    BranchInput in;
    in.points[0] = around[static_cast<size_t>(i)];
    in.points[1] = plan.center;
    in.points[2] = around[static_cast<size_t>(next)];
    in.points[3] = around[static_cast<size_t>(prev)];
    const size_t own = 2 * static_cast<size_t>(i), after = 2 * static_cast<size_t>(next),
                 before = 2 * static_cast<size_t>(prev);
    const double radii[6] = {r[own], r[own + 1], r[after], r[after + 1], r[before], r[before + 1]};
    std::copy(radii, radii + 6, in.radii);
    // The improved centre grows no larger than the ball the runners meet in.
    in.junctionRadius = improved ? std::min(plan.centerRadius, ball) : plan.centerRadius;
    in.normal = plan.normal;
    in.cosTilt = plan.projected.cosElevation[static_cast<size_t>(i)];
    in.sinTilt = plan.projected.sinElevation[static_cast<size_t>(i)];
    in.precision = plan.precision;
    in.onChannel = improved;
    in.gatherLean = plan.gatherLean;
    in.ballRadius = ball;
    firstNodes[static_cast<size_t>(i)] = AppendBranch(plan, in, faces, *build);
  }
  return build;
}

JunctionOutcome MeshNWay(const JunctionSettings& settings, const JunctionCall& call, bool gatherLean) {
  ClearRefusal();
  std::optional<NWayPlan> plan = PlanNWay(settings, call);
  if (!plan) return RefusedOutcome();
  plan->gatherLean = gatherLean && plan->construction == Construction::Improved;
  std::vector<int> firstNodes;
  std::unique_ptr<MeshBuild> build = SweepNWay(*plan, firstNodes);
  JunctionOutcome outcome = Finish(*plan, std::move(build), firstNodes);
  if (plan->beyondBounds.reason == Refusal::None) return outcome;
  // Beyond the bounds the construction was validated within: accepted only
  // when no branch runs into another, and refused under the bound's name
  // otherwise, so that the host learns which runner to move.
  if (outcome.build && !Overlaps(*outcome.build)) return outcome;
  RecordRefusal(plan->beyondBounds);
  return RefusedOutcome();
}

}  // namespace vela
