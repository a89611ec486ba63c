// The two-way junction driver: a bend of two runners, meshed as two straight
// legs and a half-section sweep filling the outer side of the bend, merged
// and written into the host's container.

#include <VelaRunnerMapping.h>

#include "corner/corner_sweep.h"
#include "mapper/junction_inputs.h"
#include "mapper/mesh_store.h"
#include "mapper/module_state.h"
#include "mapper/node_merge.h"
#include "sweep/section_pattern.h"
#include "vec3.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kShareSumTol = 0.001;
// The bend is swept in this many equal steps.
constexpr int kCornerSteps = 5;
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

vela::Point3 ToPoint3(const ON_3fPoint& p) { return {p.x, p.y, p.z}; }

// Unit direction from the centre to p, the difference formed in single precision.
vela::Point3 Direction(const ON_3fPoint& center, const ON_3fPoint& p) {
  const ON_3dVector d = p - center;
  return vela::Unit({d.x, d.y, d.z});
}

}  // namespace

bool CVelaRunnerMapping::TwoConnectRunner(ON_3fPoint center,
                                          const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                                          const CArray<double, double>* radii, double innerShare,
                                          double outerShare, CVela_SolidMesh* mesh) {
  if (!(std::fabs(innerShare + outerShare - 1.0) < kShareSumTol)) return false;
  const double ratio = innerShare / (innerShare + outerShare);
  SetIORadiusRatio(ratio);
  SetCenterPoint(center);
  SetAroundPoint(farPoints);
  SetRunnerRadius(radii);

  const int f = m_nFirstCircleNodeCount;
  // The corner is half a cross-section: it needs an even first ring, and at
  // least one segment on each half.
  if (f % 2 != 0 || f == 0) return false;
  const int h = f / 2;
  if (farPoints->GetSize() != 2) return false;
  // A ratio outside (0, 1] would leave the legs with a stale ratio while the
  // corner used the new one, and the two would not meet.
  if (!(ratio > 0.0 && ratio <= 1.0)) return false;
  const int c = m_aInnerLayer.GetSize() - 1;
  const int b = std::max(m_aOuterLayer.GetSize() - 1, 0);
  if (c < 1 || c != m_nInnerCircleCount || b != m_nOuterLayerCount || mesh == nullptr) return false;
  // Boundary layers with no share of the radius collapse onto the inner disc.
  if (b > 0 && ratio == 1.0) return false;
  if (radii->GetSize() < 4) return false;
  const ON_3fPoint far0 = farPoints->GetAt(0), far1 = farPoints->GetAt(1);
  double r[4];
  for (int i = 0; i < 4; ++i) {
    r[i] = radii->GetAt(i);
    if (!(std::isfinite(r[i]) && r[i] > 0.0)) return false;
  }
  for (int i = 4; i < radii->GetSize(); ++i)
    if (!std::isfinite(radii->GetAt(i))) return false;
  if (!vela::IsFinite(center) || !vela::IsFinite(far0) || !vela::IsFinite(far1)) return false;
  if ((far0 - center).Length() == 0.0 || (far1 - center).Length() == 0.0) return false;

  const vela::Point3 e0 = Direction(center, far0);
  const vela::Point3 e1 = Direction(center, far1);
  const double opening = std::acos(std::max(-1.0, std::min(1.0, vela::Dot(e0, e1)))) * 180.0 / kPi;
  if (!(opening >= kMinBendOpeningDeg && opening <= kMaxBendOpeningDeg)) return false;

  const vela::SectionCounts leg = vela::CountSection(f, c, b);
  const vela::HalfSectionCounts corner = vela::CountHalfSection(h, c, b);
  const int legSections = m_nLayerCount + 1;
  const int nodeCapacity = 2 * legSections * leg.nodes + (kCornerSteps + 1) * corner.nodes;
  const int elementCapacity = 2 * m_nLayerCount * leg.faces + kCornerSteps * corner.faces;
  AllocateMeshArrays(nodeCapacity, elementCapacity);

  const vela::Point3 cross = vela::Cross(e0, e1);
  const double crossLength = vela::Norm(cross);
  const vela::Point3 normal = {cross[0] / crossLength, cross[1] / crossLength, cross[2] / crossLength};
  const double meanJunction = (r[1] + r[3]) / 2.0;

  // Each leg's third neighbour is its own far point mirrored through the
  // centre, the straight continuation of the runner: the side facing it is
  // a wide neighbour and does not lean.
  ON_3fPoint q[3] = {far0, far1, ON_3fPoint()};
  double legRadii[6] = {r[0], r[1], r[2], r[3], 0.0, 0.0};
  ON_3fPoint scratchFarNodes[2];
  for (int k = 0; k < 2; ++k) {
    const ON_3fPoint& own = k == 0 ? far0 : far1;
    q[2] = ON_3fPoint(center.x + (center.x - own.x), center.y + (center.y - own.y),
                      center.z + (center.z - own.z));
    legRadii[4] = r[2 * k];
    legRadii[5] = r[2 * k + 1];
    const int next = (k + 1) % 3, prev = (k + 2) % 3;
    const vela::Point3 rows[4] = {ToPoint3(q[k]), ToPoint3(center), ToPoint3(q[next]),
                                  ToPoint3(q[prev])};
    double points[4][3];
    for (int row = 0; row < 4; ++row)
      for (int a = 0; a < 3; ++a) points[row][a] = rows[row][static_cast<size_t>(a)];
    const double sweepRadii[6] = {legRadii[2 * k],    legRadii[2 * k + 1],
                                  legRadii[2 * next], legRadii[2 * next + 1],
                                  legRadii[2 * prev], legRadii[2 * prev + 1]};
    RunnerBranch_E(points, sweepRadii, meanJunction, normal[0], normal[1], normal[2], 1.0, 0.0,
                   scratchFarNodes, k);
  }

  const vela::Point3 minusE1 = {-e1[0], -e1[1], -e1[2]};
  const vela::Point3 start = vela::Cross(minusE1, normal);
  const double startLength = vela::Norm(start);
  const double centerPoint[3] = {center.x, center.y, center.z};
  double axis[4] = {normal[0], normal[1], normal[2], meanJunction};
  double radial[5] = {start[0] / startLength, start[1] / startLength, start[2] / startLength, r[3],
                      r[1]};
  const double turn = kPi - std::acos(vela::Dot(e0, e1));
  RunnerCorner(centerPoint, axis, radial, c, b, innerShare, outerShare, turn, kCornerSteps, h);

  const double tol = kMergeTolShare * vela::MergeTolerance(meanJunction, *radii, m_aInnerLayer, c,
                                                           m_aOuterLayer, b, innerShare, outerShare);
  m_nNodeCount = vela::MergeCandidates(m_pNodes, m_nNodeCount, m_pElements, m_nElementCount,
                                       g_pMergeCandidate, tol);
  vela::ReleaseMergeCandidates();
  vela::WriteSolidMesh(m_pNodes, m_nNodeCount, m_pElements, m_nElementCount, *mesh);
  ReleaseMeshArrays();
  return true;
}
