// The bend of two runners: its plan, its sweep (two straight legs and a
// half-section sweep filling the outer side of the bend) and the call that
// runs them.

#include <VelaRunnerMapping.h>

#include "corner/corner_sweep.h"
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
bool CheckBendGeometry(const BendPlan& plan) {
  const double opening =
      std::acos(std::max(-1.0, std::min(1.0, Dot(plan.e0, plan.e1)))) * 180.0 / kPi;
  if (!(opening >= kMinBendOpeningDeg && opening <= kMaxBendOpeningDeg))
    return Refuse(Refusal::BendOpening);
  // The corner's half-section spans both junction-end radii; far apart, its
  // wide side runs through the narrow leg.
  const auto first = plan.radii.begin();
  const auto [narrowest, widest] = std::minmax_element(first, first + 4);
  if (*widest > kMaxBendRadiusRatio * *narrowest)
    return Refuse(Refusal::RadiusRatio, static_cast<int>(widest - first) / 2,
                  static_cast<int>(narrowest - first) / 2);
  return true;
}

}  // namespace

std::optional<BendPlan> PlanBend(const JunctionSettings& settings, const JunctionCall& call) {
  if (call.farPoints == nullptr || call.radii == nullptr) return Refused(Refusal::NullPointer);
  if (!CheckShares(call.innerShare, call.outerShare)) return std::nullopt;
  // The corner is half a cross-section: it needs an even first ring.
  if (settings.firstRing % 2 != 0) return Refused(Refusal::OddFirstRing);
  if (call.farPoints->GetSize() != 2) return Refused(Refusal::TooFewRunners);
  BendPlan plan;
  plan.center = call.center;
  const double ratio = call.innerShare / (call.innerShare + call.outerShare);
  if (!PlanSection(settings, ratio, plan)) return std::nullopt;
  if (!ReadRadii(*call.radii, 4, plan.radii)) return std::nullopt;
  // Every entry of the list sizes the merge tolerance.
  for (size_t i = 4; i < plan.radii.size(); ++i)
    if (!std::isfinite(plan.radii[i])) return Refused(Refusal::NonFinite);
  plan.farPoints = ToVector(*call.farPoints);
  if (!CheckRunners(call.center, plan.farPoints, plan.radii)) return std::nullopt;
  plan.e0 = UnitFromCenter(call.center, plan.farPoints[0]);
  plan.e1 = UnitFromCenter(call.center, plan.farPoints[1]);
  if (!CheckBendGeometry(plan)) return std::nullopt;

  // What the legs and the corner append, in doubles so that the counts
  // cannot overflow before the guard has seen them.
  const SectionSettings& s = plan.section;
  const SectionSize leg = SizeSection(s.firstRing, s.innerRings, s.outerLayers);
  const SectionSize corner = SizeHalfSection(s.firstRing / 2, s.innerRings, s.outerLayers);
  const double nodeCapacity = 2.0 * (plan.layers + 1) * leg.nodes + (kCornerSteps + 1.0) * corner.nodes;
  const double elementCapacity = 2.0 * plan.layers * leg.faces + double(kCornerSteps) * corner.faces;
  if (!CheckCounts(nodeCapacity, elementCapacity)) return std::nullopt;
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

std::unique_ptr<MeshBuild> SweepBend(const BendPlan& plan) {
  auto build = std::make_unique<MeshBuild>(plan.capacity);
  const SectionSettings& s = plan.section;
  const std::vector<double>& r = plan.radii;
  const ON_3fPoint& center = plan.center;
  // Each leg's third neighbour is its own far point mirrored through the
  // centre, the straight continuation of the runner: the side facing it is
  // a wide neighbour and does not lean.
  const std::vector<SectionFace> legFaces = SectionFaces(s.firstRing, s.innerRings, s.outerLayers);
  for (size_t k = 0; k < 2; ++k) {
    const ON_3fPoint& own = plan.farPoints[k];
    const ON_3fPoint& other = plan.farPoints[1 - k];
    const ON_3fPoint mirrored(center.x + (center.x - own.x), center.y + (center.y - own.y),
                              center.z + (center.z - own.z));
    // Leg 0's next neighbour is leg 1 and its previous the mirror; leg 1's
    // next is the mirror and its previous leg 0.
    BranchInput in;
    in.points[0] = ToPoint3(own);
    in.points[1] = ToPoint3(center);
    in.points[2] = ToPoint3(k == 0 ? other : mirrored);
    in.points[3] = ToPoint3(k == 0 ? mirrored : other);
    const double ownPair[2] = {r[2 * k], r[2 * k + 1]};
    const double otherPair[2] = {r[2 * (1 - k)], r[2 * (1 - k) + 1]};
    const double* nextPair = k == 0 ? otherPair : ownPair;
    const double* prevPair = k == 0 ? ownPair : otherPair;
    const double radii[6] = {ownPair[0], ownPair[1], nextPair[0], nextPair[1], prevPair[0], prevPair[1]};
    std::copy(radii, radii + 6, in.radii);
    in.junctionRadius = plan.meanJunction;
    in.normal = plan.normal;
    in.center = center;
    AppendBranch(plan, in, legFaces, *build);
  }

  const Point3 minusE1 = {-plan.e1[0], -plan.e1[1], -plan.e1[2]};
  const Point3 start = Cross(minusE1, plan.normal);
  const double startLength = Norm(start);
  CornerInput corner;
  corner.center = ToPoint3(center);
  corner.axis = plan.normal;
  corner.radial = {start[0] / startLength, start[1] / startLength, start[2] / startLength};
  corner.axisRadius = plan.meanJunction;
  corner.startRadius = r[3];
  corner.endRadius = r[1];
  corner.sweepAngle = kPi - std::acos(Dot(plan.e0, plan.e1));
  corner.steps = kCornerSteps;
  corner.halfRing = s.firstRing / 2;
  const int h = corner.halfRing;
  build->Append(SweepCorner(corner, s), CountHalfSection(h, s.innerRings, s.outerLayers).nodes,
                kCornerSteps + 1, HalfSectionFaces(h, s.innerRings, s.outerLayers),
                OnAxisNodes(h, s.innerRings, s.outerLayers), true);
  return build;
}

}  // namespace vela

bool CVelaRunnerMapping::TwoConnectRunner(ON_3fPoint center,
                                          const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                          const CArray<double, double>* radii, double innerShare,
                                          double outerShare, CVela_SolidMesh* mesh) {
  vela::ClearRefusal();
  if (mesh == nullptr) return vela::Refuse(vela::Refusal::NullPointer);
  const std::optional<vela::BendPlan> plan =
      vela::PlanBend(Settings(), {center, farPoints, radii, innerShare, outerShare});
  if (!plan) return false;
  // The bend's own plane holds both runners: they are stored as they are.
  StoreJunction(*plan, plan->normal, vela::ProjectRunners(center, plan->normal.data(), plan->farPoints));

  const std::unique_ptr<vela::MeshBuild> build =
      vela::MergeSound([&] { return vela::SweepBend(*plan); }, plan->mergeTol);
  if (!build) return false;
  build->Write(*mesh);
  return true;
}
