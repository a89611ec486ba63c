// The N-way junction driver: checks and stores a junction's inputs, sizes its
// arrays, sweeps one branch per runner, merges the junction-end nodes and
// writes the mesh into the host's container.

#include <VelaRunnerMapping.h>

#include "mapper/junction_guards.h"
#include "mapper/junction_inputs.h"
#include "mapper/mesh_store.h"
#include "mapper/module_state.h"
#include "mapper/node_merge.h"
#include "mapper/nway_junction.h"
#include "mapper/refusal.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vela {

namespace {

// Sine of 3 degrees: neighbours closer than this to one line span no plane.
constexpr double kSin3Deg = 0.052335956;
// Cosine of about 1.55 degrees: runners this close to one line are a straight
// pass through the junction, which sizes the centre.
constexpr double kCosInLine = 0.99963252;
// Shares must add up to 1 within this.
constexpr double kShareSumTol = 0.001;
// The merge tolerance is a quarter of the smallest ring gap: wide enough for
// the rounding of separately swept branches, far from any real neighbour.
constexpr double kMergeTolShare = 0.25;

Point3 UnitFromCenter(const ON_3fPoint& center, const ON_3fPoint& p) {
  const ON_3dVector d = p - center;  // single precision, then doubles
  return Unit({d.x, d.y, d.z});
}

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

}  // namespace vela

bool CVelaRunnerMapping::NConnectRunner(ON_3fPoint center,
                                        const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                        const CArray<double, double>* radii, double innerShare,
                                        double outerShare, ON_3fPoint* farNodeOut) {
  using vela::Refusal;
  vela::ClearRefusal();
  if (farPoints == nullptr || radii == nullptr || farNodeOut == nullptr)
    return vela::Refuse(Refusal::NullPointer);
  if (!(std::fabs(innerShare + outerShare - 1.0) < vela::kShareSumTol))
    return vela::Refuse(Refusal::Shares);
  if (farPoints->GetSize() == 0) {
    SetCenterPoint(center);
    farPoints->GetAt(0);  // an empty list fails as every list read out of range does
  }
  const int n = farPoints->GetSize();
  // Two runners are a bend, with a call of its own; one is no junction.
  if (n < 3) return vela::Refuse(Refusal::TooFewRunners);
  const double ratio = innerShare / (innerShare + outerShare);
  if (!vela::CheckSection(m_nFirstCircleNodeCount, m_aInnerLayer, m_aOuterLayer, ratio)) return false;
  const std::vector<ON_3fPoint> far = vela::ToVector(*farPoints);
  std::vector<double> r;
  if (!vela::ReadRadii(*radii, 2 * n, r)) return false;
  if (!vela::CheckRunners(center, far, r)) return false;
  // Without a junction plane the branches have no common section plane.
  const std::optional<vela::Point3> normal = vela::AverageCoplaneNormal(center, far);
  if (!normal) return vela::Refuse(Refusal::NoPlane);
  // A runner along the plane normal projects onto the centre: a branch of
  // zero length.
  const vela::ProjectedRunners projected = vela::ProjectRunners(center, normal->data(), far);
  for (int i = 0; i < n; ++i)
    if ((projected.farPoints[static_cast<size_t>(i)] - center).Length() == 0.0)
      return vela::Refuse(Refusal::FarPointDegenerate, i);
  if (!vela::CheckNWayGeometry(center, far, projected, normal->data(), r)) return false;

  const int f = m_nFirstCircleNodeCount;
  const int c = m_nInnerCircleCount;
  const int b = m_nOuterLayerCount;
  // One section and one element layer more per branch than a branch stores.
  const double sectionNodes = 1.0 + double(f) * c * (c + 1) / 2.0 + double(c) * f * b;
  const double sectionFaces = double(f) * c * c + double(c) * f * b;
  const double nodeCapacity = sectionNodes * (m_nLayerCount + 2) * n;
  const double elementCapacity = sectionFaces * (m_nLayerCount + 1) * n;
  if (!vela::CheckCounts(nodeCapacity, elementCapacity)) return false;

  SetCenterPoint(center);
  GetAvgCoplaneNormal(farPoints);
  SetAroundPoint(farPoints);
  SetRunnerRadius(radii);
  m_dIORadiusRatio = ratio;
  g_nInnerCircleCount = c;
  g_nOuterLayerCount = b;

  AllocateMeshArrays(static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity));
  g_dCenterJunctionRadius = GetCenterJuctionRadiusSize();
  CreateBranch(g_dCenterJunctionRadius, farNodeOut);
  return true;
}

bool CVelaRunnerMapping::NConnectRunner(ON_3fPoint center,
                                        const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                        const CArray<double, double>* radii, double innerShare,
                                        double outerShare, CVela_SolidMesh* mesh,
                                        ON_3fPoint* farNodeOut) {
  if (mesh == nullptr || farNodeOut == nullptr) {
    vela::ClearRefusal();
    return vela::Refuse(vela::Refusal::NullPointer);
  }
  // The sweeps write the far nodes here; the host's output receives them only
  // with a sound mesh.
  const int n = farPoints != nullptr ? farPoints->GetSize() : 0;
  std::vector<ON_3fPoint> farNodes(static_cast<size_t>(std::max(n, 1)));  // never a null buffer
  auto sweep = [&]() {
    return NConnectRunner(center, farPoints, radii, innerShare, outerShare, farNodes.data());
  };
  if (!sweep()) return false;
  const double tol = vela::kMergeTolShare * GetMergeTol(g_dCenterJunctionRadius, radii,
                                                        g_nInnerCircleCount, g_nOuterLayerCount,
                                                        innerShare, outerShare);
  if (!MergeSound(tol, sweep)) return false;
  CreateSolidMesh(mesh);
  ReleaseMeshArrays();
  std::copy(farNodes.begin(), farNodes.begin() + n, farNodeOut);
  return true;
}

bool CVelaRunnerMapping::GetAvgCoplaneNormal(const CArray<ON_3fPoint, ON_3fPoint>* farPoints) {
  const std::optional<vela::Point3> normal = vela::AverageCoplaneNormal(m_ptCenter, vela::ToVector(*farPoints));
  if (!normal) return false;
  m_vAvgNormal[0] = (*normal)[0];
  m_vAvgNormal[1] = (*normal)[1];
  m_vAvgNormal[2] = (*normal)[2];
  return true;
}

double CVelaRunnerMapping::GetCenterJuctionRadiusSize() const {
  const std::vector<ON_3fPoint> around(m_pAroundPoints, m_pAroundPoints + m_nPoint);
  return vela::CenterJunctionRadius(m_ptCenter, around, m_pRunnerRadius);
}

void CVelaRunnerMapping::CreateBranch(double junctionRadius, ON_3fPoint* farNodeOut) {
  const int n = GetNPoint();
  for (int i = 0; i < n; ++i) {
    const int next = i + 1 == n ? 0 : i + 1;
    const int prev = i == 0 ? n - 1 : i - 1;
    const ON_3fPoint rows[4] = {m_pAroundPoints[i], m_ptCenter, m_pAroundPoints[next],
                                m_pAroundPoints[prev]};
    double points[4][3];
    for (int r = 0; r < 4; ++r) {
      points[r][0] = rows[r].x;
      points[r][1] = rows[r].y;
      points[r][2] = rows[r].z;
    }
    const double radii[6] = {m_pRunnerRadius[2 * i],    m_pRunnerRadius[2 * i + 1],
                             m_pRunnerRadius[2 * next], m_pRunnerRadius[2 * next + 1],
                             m_pRunnerRadius[2 * prev], m_pRunnerRadius[2 * prev + 1]};
    RunnerBranch_E(points, radii, junctionRadius, m_vAvgNormal[0], m_vAvgNormal[1],
                   m_vAvgNormal[2], m_aCosElevation.GetAt(i), m_aSinElevation.GetAt(i),
                   farNodeOut, i);
  }
}

double CVelaRunnerMapping::GetMergeTol(double junctionRadius, const CArray<double, double>* radii,
                                       int innerCount, int outerCount, double innerShare,
                                       double outerShare) const {
  return vela::MergeTolerance(junctionRadius, *radii, m_aInnerLayer, innerCount, m_aOuterLayer,
                              outerCount, innerShare, outerShare);
}

void CVelaRunnerMapping::MergeBranchNode(int nodeCount, double tol) {
  // The candidate flags follow the nodes they mark, for the soundness check.
  m_nNodeCount = vela::MergeCandidates(m_pNodes, nodeCount, m_pElements, m_nElementCount,
                                       g_pMergeCandidate, tol);
}
