// The N-way junction: its plan (the junction plane, the runners turned into
// it, the size of the centre, the counts and the merge tolerance), its sweep
// (one branch per runner) and the two calls that run them.

#include <VelaRunnerMapping.h>

#include "mapper/junction_guards.h"
#include "mapper/junction_plan.h"
#include "mapper/module_state.h"
#include "mapper/nway_junction.h"
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

std::optional<Point3> AverageCoplaneNormal(const ON_3fPoint& center,
                                           const std::vector<ON_3fPoint>& farPoints) {
  const size_t n = farPoints.size();
  if (n == 0) return std::nullopt;
  Point3 u = UnitFromCenter(center, farPoints[0]);
  Point3 sum = {0.0, 0.0, 0.0};
  int count = 0;
  for (size_t j = 1; j <= n; ++j) {
    const Point3 v = UnitFromCenter(center, farPoints[j % n]);
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

double CenterJunctionRadius(const ON_3fPoint& center, const std::vector<ON_3fPoint>& aroundPoints,
                            const double* radii) {
  const int n = static_cast<int>(aroundPoints.size());
  double size = radii[0];
  for (int k = 1; k <= 2 * n - 3; ++k) size = std::max(size, radii[k]);
  bool first = true;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      const Point3 u = UnitFromCenter(center, aroundPoints[static_cast<size_t>(i)]);
      const Point3 w = UnitFromCenter(center, aroundPoints[static_cast<size_t>(j)]);
      if (std::fabs(Dot(u, w)) < kCosInLine) continue;
      const double v = (radii[2 * i + 1] + radii[2 * j + 1]) / 2.0;
      size = first ? v : std::max(size, v);
      first = false;
    }
  }
  return size;
}

std::optional<NWayPlan> PlanNWay(const JunctionSettings& settings, const JunctionCall& call) {
  if (call.farPoints == nullptr || call.radii == nullptr) return Refused(Refusal::NullPointer);
  if (!CheckShares(call.innerShare, call.outerShare)) return std::nullopt;
  // An empty list fails as every list read out of range does.
  if (call.farPoints->GetSize() == 0) call.farPoints->GetAt(0);
  const int n = call.farPoints->GetSize();
  // Two runners are a bend, with a call of its own; one is no junction.
  if (n < 3) return Refused(Refusal::TooFewRunners);
  NWayPlan plan;
  plan.center = call.center;
  const double ratio = call.innerShare / (call.innerShare + call.outerShare);
  if (!PlanSection(settings, ratio, plan)) return std::nullopt;
  plan.farPoints = ToVector(*call.farPoints);
  if (!ReadRadii(*call.radii, 2 * n, plan.radii)) return std::nullopt;
  if (!CheckRunners(call.center, plan.farPoints, plan.radii)) return std::nullopt;
  // Without a junction plane the branches have no common section plane.
  const std::optional<Point3> normal = AverageCoplaneNormal(call.center, plan.farPoints);
  if (!normal) return Refused(Refusal::NoPlane);
  plan.normal = *normal;
  plan.projected = ProjectRunners(call.center, plan.normal.data(), plan.farPoints);
  // A runner along the plane normal projects onto the centre: a branch of
  // zero length.
  for (int i = 0; i < n; ++i)
    if ((plan.projected.farPoints[static_cast<size_t>(i)] - call.center).Length() == 0.0)
      return Refused(Refusal::FarPointDegenerate, i);
  if (!CheckNWayGeometry(call.center, plan.farPoints, plan.projected, plan.normal.data(), plan.radii))
    return std::nullopt;

  // One section and one element layer more per branch than a branch stores.
  const SectionSize size = SizeSection(plan.section.firstRing, plan.section.innerRings,
                                       plan.section.outerLayers);
  const double nodeCapacity = size.nodes * (plan.layers + 2) * n;
  const double elementCapacity = size.faces * (plan.layers + 1) * n;
  if (!CheckCounts(nodeCapacity, elementCapacity)) return std::nullopt;
  plan.capacity = {static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity)};

  plan.centerRadius = CenterJunctionRadius(call.center, plan.projected.farPoints, plan.radii.data());
  const SectionSettings& s = plan.section;
  plan.mergeTol = kMergeTolShare * MergeTolerance(plan.centerRadius, plan.radii, s.inner, s.innerRings,
                                                  s.outer, s.outerLayers, call.innerShare,
                                                  call.outerShare);
  return plan;
}

std::unique_ptr<MeshBuild> SweepNWay(const NWayPlan& plan, ON_3fPoint* farNodes) {
  auto build = std::make_unique<MeshBuild>(plan.capacity);
  const SectionSettings& section = plan.section;
  const std::vector<SectionFace> faces =
      SectionFaces(section.firstRing, section.innerRings, section.outerLayers);
  const std::vector<ON_3fPoint>& around = plan.projected.farPoints;
  const std::vector<double>& r = plan.radii;
  const int n = plan.RunnerCount();
  for (int i = 0; i < n; ++i) {
    const int next = i + 1 == n ? 0 : i + 1;
    const int prev = i == 0 ? n - 1 : i - 1;
    BranchInput in;
    in.points[0] = ToPoint3(around[static_cast<size_t>(i)]);
    in.points[1] = ToPoint3(plan.center);
    in.points[2] = ToPoint3(around[static_cast<size_t>(next)]);
    in.points[3] = ToPoint3(around[static_cast<size_t>(prev)]);
    const size_t own = 2 * static_cast<size_t>(i), after = 2 * static_cast<size_t>(next),
                 before = 2 * static_cast<size_t>(prev);
    const double radii[6] = {r[own], r[own + 1], r[after], r[after + 1], r[before], r[before + 1]};
    std::copy(radii, radii + 6, in.radii);
    in.junctionRadius = plan.centerRadius;
    in.normal = plan.normal;
    in.cosTilt = plan.projected.cosElevation[static_cast<size_t>(i)];
    in.sinTilt = plan.projected.sinElevation[static_cast<size_t>(i)];
    in.center = plan.center;
    const ON_3fPoint farNode = AppendBranch(plan, in, faces, *build);
    if (section.innerRings > 0) farNodes[i] = farNode;
  }
  return build;
}

void KeepNWayState(const NWayPlan& plan) {
  g_dCenterJunctionRadius = plan.centerRadius;
  g_nInnerCircleCount = plan.section.innerRings;
  g_nOuterLayerCount = plan.section.outerLayers;
}

}  // namespace vela

vela::JunctionSettings CVelaRunnerMapping::Settings() const {
  return {m_nFirstCircleNodeCount, &m_aInnerLayer, &m_aOuterLayer, m_nLayerCount,
          m_pfnCircularProfile, m_pfnLinearProfile};
}

bool CVelaRunnerMapping::NConnectRunner(ON_3fPoint center,
                                        const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                        const CArray<double, double>* radii, double innerShare,
                                        double outerShare, ON_3fPoint* farNodeOut) {
  vela::ClearRefusal();
  if (farNodeOut == nullptr) return vela::Refuse(vela::Refusal::NullPointer);
  const std::optional<vela::NWayPlan> plan =
      vela::PlanNWay(Settings(), {center, farPoints, radii, innerShare, outerShare});
  if (!plan) return false;
  StoreJunction(*plan, plan->normal, plan->projected);
  vela::KeepNWayState(*plan);
  // Nothing reads the unmerged arrays afterwards: they go on return.
  vela::SweepNWay(*plan, farNodeOut);
  return true;
}

bool CVelaRunnerMapping::NConnectRunner(ON_3fPoint center,
                                        const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                        const CArray<double, double>* radii, double innerShare,
                                        double outerShare, CVela_SolidMesh* mesh,
                                        ON_3fPoint* farNodeOut) {
  vela::ClearRefusal();
  if (mesh == nullptr || farNodeOut == nullptr) return vela::Refuse(vela::Refusal::NullPointer);
  const std::optional<vela::NWayPlan> plan =
      vela::PlanNWay(Settings(), {center, farPoints, radii, innerShare, outerShare});
  if (!plan) return false;
  StoreJunction(*plan, plan->normal, plan->projected);
  vela::KeepNWayState(*plan);

  // The far nodes reach the host's output only with a sound mesh.
  std::vector<ON_3fPoint> farNodes(static_cast<size_t>(plan->RunnerCount()));
  const std::unique_ptr<vela::MeshBuild> build =
      vela::MergeSound([&] { return vela::SweepNWay(*plan, farNodes.data()); }, plan->mergeTol);
  if (!build) return false;
  build->Write(*mesh);
  std::copy(farNodes.begin(), farNodes.end(), farNodeOut);
  return true;
}
