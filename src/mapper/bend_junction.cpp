// The bend of two runners: its plan, its sweep (two straight legs and a
// half-section sweep filling the outer side of the bend) and the driver that
// runs them.

#include "sweep/corner_sweep.h"
#include "mapper/junction_guards.h"
#include "mapper/junction_plan.h"
#include "mapper/node_merge.h"
#include "mapper/refusal.h"
#include "sweep/branch_sweep.h"
#include "vec3.h"

#include <algorithm>
#include <cmath>

namespace vela {

namespace {

// Legs and corner meet at copies of the same nodes a tenth of the smallest
// ring gap apart at most; nodes of different rings are far further apart.
constexpr double kMergeTolShare = 0.1;
// The opening angle between the two runners must lie within these bounds.
// Nearly straight, the corner turns by a few degrees only and the legs'
// leaning halves fold over its sections: with the default section inverted
// elements and faces shared by three elements appear from 176 degrees, with
// a runner widening by half towards the junction from 174. Nearly parallel,
// the runners overlap along most of their legs and the legs fold into each
// other: from 15.5 degrees down with the default section.
constexpr double kMaxBendOpeningDeg = 172.0;
constexpr double kMinBendOpeningDeg = 20.0;
// Radii of a bend more than this apart: overlap seen from a ratio of 7.8 in
// thousands of random bends, none below 6.
constexpr double kMaxBendRadiusRatio = 4.0;

// The runners of a bend against each other: an opening angle the corner can
// turn through, and radii close enough for the corner to join the legs.
double OpeningDeg(const BendPlan& plan) {
  return std::acos(std::max(-1.0, std::min(1.0, Dot(plan.e0, plan.e1)))) * 180.0 / kPi;
}

bool RefuseOpening(double opening, double limit) {
  return Refuse(Refusal::BendOpening, -1, -1, {opening, limit, JunctionRefusal::Unit::Degrees});
}

// maxOpening: the corner's bound, or a straight pass for a construction
// that can mitre it.
bool CheckBendGeometry(const BendPlan& plan, double maxOpening) {
  const double opening = OpeningDeg(plan);
  if (!(opening >= kMinBendOpeningDeg && opening <= maxOpening))
    return RefuseOpening(opening, opening < kMinBendOpeningDeg ? kMinBendOpeningDeg : maxOpening);
  // The corner's half-section spans both junction-end radii; far apart, its
  // wide side runs through the narrow leg.
  const auto first = plan.radii.begin();
  const auto [narrowest, widest] = std::minmax_element(first, first + 4);
  if (*widest > kMaxBendRadiusRatio * *narrowest)
    return Refuse(Refusal::RadiusRatio, static_cast<int>(widest - first) / 2,
                  static_cast<int>(narrowest - first) / 2,
                  {*widest / *narrowest, kMaxBendRadiusRatio, JunctionRefusal::Unit::Ratio});
  return true;
}

}  // namespace

std::optional<BendPlan> PlanBend(const JunctionSettings& settings, const JunctionCall& call) {
  if (!CheckShares(call.innerShare, call.outerShare)) return std::nullopt;
  // The corner is half a cross-section: it needs an even first ring.
  if (settings.firstRing % 2 != 0) return Refused(Refusal::OddFirstRing);
  if (call.farPoints.size() != 2) return Refused(Refusal::TooFewRunners);
  BendPlan plan;
  plan.precision = call.precision;
  plan.center = call.center;
  const double ratio = call.innerShare / (call.innerShare + call.outerShare);
  if (!PlanSection(settings, ratio, plan)) return std::nullopt;
  if (!CheckRadiusCount(call.radii, 4)) return std::nullopt;
  plan.radii = call.radii;
  // Every entry of the list sizes the merge tolerance.
  for (size_t i = 4; i < plan.radii.size(); ++i)
    if (!std::isfinite(plan.radii[i])) return Refused(Refusal::NonFinite);
  plan.farPoints = call.farPoints;
  if (!CheckRunners(call.center, plan.farPoints, plan.radii, call.precision)) return std::nullopt;
  plan.e0 = UnitFromCenter(call.center, plan.farPoints[0], call.precision);
  plan.e1 = UnitFromCenter(call.center, plan.farPoints[1], call.precision);
  const bool mitres = call.construction == Construction::Improved;
  if (!CheckBendGeometry(plan, mitres ? 180.0 : kMaxBendOpeningDeg)) return std::nullopt;

  // What the legs and the corner append, in doubles so that the counts
  // cannot overflow before the guard has seen them.
  const SectionSettings& s = plan.section;
  const SectionSize leg = SizeSection(s.firstRing, s.innerRings, s.outerLayers);
  const SectionSize corner = SizeHalfSection(s.firstRing / 2, s.innerRings, s.outerLayers);
  const double nodeCapacity = 2.0 * (plan.layers + 1) * leg.nodes + (kCornerSteps + 1.0) * corner.nodes;
  const double elementCapacity = 2.0 * plan.layers * leg.faces + double(kCornerSteps) * corner.faces;
  if (!CheckCounts(nodeCapacity, elementCapacity, call.memoryLimit)) return std::nullopt;
  plan.capacity = {static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity)};

  const Point3 cross = Cross(plan.e0, plan.e1);
  const double crossLength = Norm(cross);
  plan.normal = {cross[0] / crossLength, cross[1] / crossLength, cross[2] / crossLength};
  plan.meanJunction = (plan.radii[1] + plan.radii[3]) / 2.0;
  plan.mergeTol = kMergeTolShare * MergeTolerance(plan.meanJunction, plan.radii, s.inner, s.innerRings,
                                                  s.outer, s.outerLayers, call.innerShare,
                                                  call.outerShare);
  return plan;
}

namespace {

// The runner's far point mirrored through the centre, formed as the junction
// takes its points: in floats, in single precision.
Point3 Mirrored(const Point3& own, const Point3& center, Precision precision) {
  if (precision == Precision::Double) return Add(center, Sub(center, own));
  Point3 out;
  for (size_t a = 0; a < 3; ++a) {
    const float c = static_cast<float>(center[a]), o = static_cast<float>(own[a]);
    out[a] = c + (c - o);
  }
  return out;
}

// The two legs, then the corner; firstNodes receives the swept number of
// each leg's first node.
std::unique_ptr<MeshBuild> SweepBend(const BendPlan& plan, std::vector<int>& firstNodes) {
  auto build = std::make_unique<MeshBuild>(plan.capacity);
  const SectionSettings& s = plan.section;
  const std::vector<double>& r = plan.radii;
  const Point3& center = plan.center;
  firstNodes.assign(2, 0);
  // Each leg's third neighbour is its own far point mirrored through the
  // centre, the straight continuation of the runner: the side facing it is
  // a wide neighbour and does not lean.
  const std::vector<SectionFace> legFaces = SectionFaces(s.firstRing, s.innerRings, s.outerLayers);
  for (size_t k = 0; k < 2; ++k) {
    const Point3& own = plan.farPoints[k];
    const Point3& other = plan.farPoints[1 - k];
    const Point3 mirrored = Mirrored(own, center, plan.precision);
    // Leg 0's next neighbour is leg 1 and its previous the mirror; leg 1's
    // next is the mirror and its previous leg 0.
    BranchInput in;
    in.points[0] = own;
    in.points[1] = center;
    in.points[2] = k == 0 ? other : mirrored;
    in.points[3] = k == 0 ? mirrored : other;
    const double ownPair[2] = {r[2 * k], r[2 * k + 1]};
    const double otherPair[2] = {r[2 * (1 - k)], r[2 * (1 - k) + 1]};
    const double* nextPair = k == 0 ? otherPair : ownPair;
    const double* prevPair = k == 0 ? ownPair : otherPair;
    const double radii[6] = {ownPair[0], ownPair[1], nextPair[0], nextPair[1], prevPair[0], prevPair[1]};
    std::copy(radii, radii + 6, in.radii);
    in.junctionRadius = plan.meanJunction;
    in.normal = plan.normal;
    in.precision = plan.precision;
    firstNodes[k] = AppendBranch(plan, in, legFaces, *build);
  }

  const Point3 minusE1 = {-plan.e1[0], -plan.e1[1], -plan.e1[2]};
  const Point3 start = Cross(minusE1, plan.normal);
  const double startLength = Norm(start);
  CornerInput corner;
  corner.center = center;
  corner.axis = plan.normal;
  corner.radial = {start[0] / startLength, start[1] / startLength, start[2] / startLength};
  corner.axisRadius = plan.meanJunction;
  corner.startRadius = r[3];
  corner.endRadius = r[1];
  corner.sweepAngle = kPi - std::acos(Dot(plan.e0, plan.e1));
  corner.steps = kCornerSteps;
  corner.halfRing = s.firstRing / 2;
  const int h = corner.halfRing;
  thread_local std::vector<Point3> cornerNodes;
  SweepCorner(corner, s, cornerNodes);
  build->Append(cornerNodes, CountHalfSection(h, s.innerRings, s.outerLayers).nodes,
                kCornerSteps + 1, HalfSectionFaces(h, s.innerRings, s.outerLayers),
                OnAxisNodes(h, s.innerRings, s.outerLayers), true);
  return build;
}

}  // namespace

JunctionOutcome MeshBend(const JunctionSettings& settings, const JunctionCall& call) {
  ClearRefusal();
  const std::optional<BendPlan> plan = PlanBend(settings, call);
  if (!plan) return RefusedOutcome();
  if (call.construction == Construction::Improved) {
    if (MitreFits(*plan)) return MeshMitreBend(*plan);
    // Nearly straight, the corner folds its legs over its few degrees of turn.
    if (OpeningDeg(*plan) > kMaxBendOpeningDeg) {
      ClearRefusal();
      RefuseOpening(OpeningDeg(*plan), kMaxBendOpeningDeg);
      return RefusedOutcome();
    }
  }
  std::vector<int> firstNodes;
  std::unique_ptr<MeshBuild> build = SweepBend(*plan, firstNodes);
  return Finish(*plan, std::move(build), firstNodes);
}

JunctionOutcome MeshOtherBend(const JunctionSettings& settings, const JunctionCall& call) {
  ClearRefusal();
  const std::optional<BendPlan> plan = PlanBend(settings, call);
  if (!plan) return RefusedOutcome();
  if (!MitreFits(*plan)) {
    if (MitreLegsFit(*plan)) return MeshMitreBend(*plan);
  } else if (OpeningDeg(*plan) <= kMaxBendOpeningDeg) {
    std::vector<int> firstNodes;
    std::unique_ptr<MeshBuild> build = SweepBend(*plan, firstNodes);
    return Finish(*plan, std::move(build), firstNodes);
  }
  ClearRefusal();
  RefuseOpening(OpeningDeg(*plan), kMaxBendOpeningDeg);
  return RefusedOutcome();
}

JunctionOutcome MeshHairpin(const JunctionSettings& settings, const JunctionCall& call, bool pullRings) {
  ClearRefusal();
  const std::optional<BendPlan> plan = PlanBend(settings, call);
  if (!plan) return RefusedOutcome();
  return MeshHairpinBend(*plan, call.memoryLimit, pullRings);
}

}  // namespace vela
