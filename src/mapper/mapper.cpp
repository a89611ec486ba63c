// The mapper object: its settings, and the junction calls as the doorway to
// the drivers. Each call reads the host's lists once into values, runs the
// driver of its kind with the points taken in single precision, as they come
// over the boundary, and writes what the driver answers into the host's
// container.

#include <VelaRunnerMapping.h>

#include "mapper/junction_plan.h"
#include "mapper/refusal.h"
#include "mapper/runner_length.h"
#include "sweep/profiles.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

std::vector<double> ToVector(const CArray<double, double>& list) {
  std::vector<double> out(static_cast<size_t>(list.GetSize()));
  for (int i = 0; i < list.GetSize(); ++i) out[static_cast<size_t>(i)] = list.GetAt(i);
  return out;
}

vela::Point3 ToPoint3(const ON_3fPoint& p) { return {p.x, p.y, p.z}; }

ON_3fPoint ToFloat(const vela::Point3& p) {
  return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
}

// A junction call's arguments as values: the points as the floats they are.
vela::JunctionCall CallOf(ON_3fPoint center, const CArray<ON_3fPoint, ON_3fPoint>& farPoints,
                          const CArray<double, double>& radii, double innerShare, double outerShare) {
  vela::JunctionCall call;
  call.center = ToPoint3(center);
  call.farPoints.reserve(static_cast<size_t>(farPoints.GetSize()));
  for (int i = 0; i < farPoints.GetSize(); ++i) call.farPoints.push_back(ToPoint3(farPoints.GetAt(i)));
  call.radii = ToVector(radii);
  call.innerShare = innerShare;
  call.outerShare = outerShare;
  call.precision = vela::Precision::Single;
  return call;
}

// Whether the junction passed the guards: refused, if at all, only for the
// mesh the sweeps made.
bool Planned(const vela::JunctionOutcome& outcome) {
  return outcome.build != nullptr || outcome.refusal.reason == vela::Refusal::UnsoundResult;
}

// The N-way junction refuses an empty far-point list as every list read out
// of range fails, once the shares have passed.
void ThrowOnEmpty(const CArray<ON_3fPoint, ON_3fPoint>& farPoints, double innerShare, double outerShare) {
  if (farPoints.GetSize() == 0 && std::fabs(innerShare + outerShare - 1.0) < 0.001) farPoints.GetAt(0);
}

}  // namespace

CVelaRunnerMapping::CVelaRunnerMapping()
    : m_nLayerCount(vela::kBranchLayers),
      m_pfnCircularProfile(vela::CircularProfile),
      m_pfnLinearProfile(vela::LinearProfile),
      m_nFirstCircleNodeCount(8),
      m_nPoint(0) {}

CVelaRunnerMapping::~CVelaRunnerMapping() = default;

bool CVelaRunnerMapping::SetFirstCircleNodeCount(int n) {
  if (n < 0) return false;
  m_nFirstCircleNodeCount = n;
  return true;
}

bool CVelaRunnerMapping::SetIORadiusRatio(double r) { return r > 0.0 && r <= 1.0; }  // NaN fails too

bool CVelaRunnerMapping::SetIOBoundaryLayer(const CArray<double, double>* inner,
                                            const CArray<double, double>* outer) {
  if (inner == nullptr || outer == nullptr) return false;
  m_aInnerLayer.Copy(*inner);
  m_aOuterLayer.Copy(*outer);
  return true;
}

int CVelaRunnerMapping::GetNPoint() const { return m_nPoint; }

vela::JunctionSettings CVelaRunnerMapping::Settings() const {
  vela::JunctionSettings settings;
  settings.firstRing = m_nFirstCircleNodeCount;
  settings.inner = ToVector(m_aInnerLayer);
  settings.outer = ToVector(m_aOuterLayer);
  settings.layers = m_nLayerCount;
  settings.circularProfile = m_pfnCircularProfile;
  settings.linearProfile = m_pfnLinearProfile;
  return settings;
}

bool CVelaRunnerMapping::NConnectRunner(ON_3fPoint center,
                                        const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                        const CArray<double, double>* radii, double innerShare,
                                        double outerShare, ON_3fPoint* farNodeOut) {
  vela::ClearRefusal();
  if (farPoints == nullptr || radii == nullptr || farNodeOut == nullptr)
    return vela::Refuse(vela::Refusal::NullPointer);
  ThrowOnEmpty(*farPoints, innerShare, outerShare);
  const vela::JunctionCall call = CallOf(center, *farPoints, *radii, innerShare, outerShare);
  const std::optional<vela::NWayPlan> plan = vela::PlanNWay(Settings(), call);
  if (!plan) return false;
  m_nPoint = plan->RunnerCount();
  // The branches as swept, unmerged and unchecked: only their far nodes are
  // wanted.
  std::vector<int> firstNodes;
  const std::unique_ptr<vela::MeshBuild> build = vela::SweepNWay(*plan, firstNodes);
  const int offset = vela::OutermostRingStart(plan->section);
  for (size_t i = 0; i < firstNodes.size(); ++i) farNodeOut[i] = ToFloat(build->SweptNode(firstNodes[i] + offset));
  return true;
}

bool CVelaRunnerMapping::NConnectRunner(ON_3fPoint center,
                                        const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                        const CArray<double, double>* radii, double innerShare,
                                        double outerShare, CVela_SolidMesh* mesh,
                                        ON_3fPoint* farNodeOut) {
  vela::ClearRefusal();
  if (farPoints == nullptr || radii == nullptr || mesh == nullptr || farNodeOut == nullptr)
    return vela::Refuse(vela::Refusal::NullPointer);
  ThrowOnEmpty(*farPoints, innerShare, outerShare);
  const vela::JunctionOutcome outcome =
      vela::MeshNWay(Settings(), CallOf(center, *farPoints, *radii, innerShare, outerShare));
  if (Planned(outcome)) m_nPoint = farPoints->GetSize();
  if (!outcome.build) return false;
  outcome.build->Write(*mesh);
  // The far nodes reach the host's output only with a sound mesh.
  for (size_t i = 0; i < outcome.farSections.size(); ++i) {
    const int node = outcome.farSections[i][static_cast<size_t>(outcome.farNodeInSection)];
    farNodeOut[i] = ToFloat(outcome.build->MergedNode(node + 1));
  }
  return true;
}

bool CVelaRunnerMapping::TwoConnectRunner(ON_3fPoint center,
                                          const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                          const CArray<double, double>* radii, double innerShare,
                                          double outerShare, CVela_SolidMesh* mesh) {
  vela::ClearRefusal();
  if (farPoints == nullptr || radii == nullptr || mesh == nullptr)
    return vela::Refuse(vela::Refusal::NullPointer);
  const vela::JunctionOutcome outcome =
      vela::MeshBend(Settings(), CallOf(center, *farPoints, *radii, innerShare, outerShare));
  if (Planned(outcome)) m_nPoint = 2;
  if (!outcome.build) return false;
  outcome.build->Write(*mesh);
  return true;
}

void CVelaRunnerMapping::RunnerLength(int n, const double (*points)[3], const double* radius,
                                      int a, double* out, int b) {
  vela::ComputeRunnerLengths(n, points, radius, a, out, b);
}

void CVelaRunnerMapping::RunnerLength(ON_3fPoint center,
                                      const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                      const CArray<double, double>* radii, int a,
                                      CArray<double, double>* out, int b) {
  if (b == 0 || farPoints == nullptr || radii == nullptr || out == nullptr) return;  // as the plain-array overload
  const int n = farPoints->GetSize();
  std::vector<double> points(3 * static_cast<size_t>(n + 1));
  std::vector<double> radius(static_cast<size_t>(n + 1), 0.0);
  std::vector<double> length(static_cast<size_t>(n + 1), 0.0);
  points[0] = center.x;
  points[1] = center.y;
  points[2] = center.z;
  for (int i = 0; i < n; ++i) {
    const ON_3fPoint& p = farPoints->GetAt(i);
    const size_t row = 3 * static_cast<size_t>(i + 1);
    points[row] = p.x;
    points[row + 1] = p.y;
    points[row + 2] = p.z;
    radius[static_cast<size_t>(i + 1)] = radii->GetAt(i);
  }
  RunnerLength(n + 1, reinterpret_cast<const double(*)[3]>(points.data()), radius.data(), a,
               length.data(), b);
  for (int i = 0; i < n; ++i) out->SetAt(i, length[static_cast<size_t>(i + 1)]);
}
