// The two-way junction driver: a bend of two runners, meshed as two straight
// legs and a half-section sweep filling the outer side of the bend, merged
// and written into the host's container.

#include <VelaRunnerMapping.h>

#include "corner/corner_sweep.h"
#include "mapper/junction_guards.h"
#include "mapper/junction_inputs.h"
#include "mapper/mesh_store.h"
#include "mapper/module_state.h"
#include "mapper/node_merge.h"
#include "mapper/refusal.h"
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
// Radii of a bend more than this apart: overlap seen from a ratio of 7.8 in
// thousands of random bends, none below 6.
constexpr double kMaxBendRadiusRatio = 4.0;

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
  using vela::Refusal;
  vela::ClearRefusal();
  if (farPoints == nullptr || radii == nullptr || mesh == nullptr)
    return vela::Refuse(Refusal::NullPointer);
  if (!(std::fabs(innerShare + outerShare - 1.0) < kShareSumTol)) return vela::Refuse(Refusal::Shares);
  const double ratio = innerShare / (innerShare + outerShare);
  SetIORadiusRatio(ratio);
  SetCenterPoint(center);
  SetAroundPoint(farPoints);
  SetRunnerRadius(radii);

  const int f = m_nFirstCircleNodeCount;
  // The corner is half a cross-section: it needs an even first ring.
  if (f % 2 != 0) return vela::Refuse(Refusal::OddFirstRing);
  if (farPoints->GetSize() != 2) return vela::Refuse(Refusal::TooFewRunners);
  if (!vela::CheckSection(f, m_aInnerLayer, m_aOuterLayer, ratio)) return false;
  const int h = f / 2;
  const int c = m_nInnerCircleCount;
  const int b = m_nOuterLayerCount;
  std::vector<double> r;
  if (!vela::ReadRadii(*radii, 4, r)) return false;
  // Every entry of the list sizes the merge tolerance.
  for (int i = 4; i < radii->GetSize(); ++i)
    if (!std::isfinite(radii->GetAt(i))) return vela::Refuse(Refusal::NonFinite);
  const std::vector<ON_3fPoint> far = vela::ToVector(*farPoints);
  if (!vela::CheckRunners(center, far, r)) return false;

  const vela::Point3 e0 = Direction(center, far[0]);
  const vela::Point3 e1 = Direction(center, far[1]);
  const double opening = std::acos(std::max(-1.0, std::min(1.0, vela::Dot(e0, e1)))) * 180.0 / kPi;
  if (!(opening >= kMinBendOpeningDeg && opening <= kMaxBendOpeningDeg))
    return vela::Refuse(Refusal::BendOpening);
  // The corner's half-section spans both junction-end radii; far apart, its
  // wide side runs through the narrow leg.
  const auto [narrowest, widest] = std::minmax_element(r.begin(), r.end());
  if (*widest > kMaxBendRadiusRatio * *narrowest)
    return vela::Refuse(Refusal::RadiusRatio, static_cast<int>(widest - r.begin()) / 2,
                        static_cast<int>(narrowest - r.begin()) / 2);

  // The closed-form counts of what the legs and the corner append, in doubles
  // so that they cannot overflow before the guard has seen them.
  const double legNodes = 1.0 + double(f) * c * (c + 1) / 2.0 + double(c) * f * b;
  const double legFaces = double(f) * c * c + double(c) * f * b;
  const double cornerNodes = 1.0 + double(h) * c * (c + 1) / 2.0 + c + (double(c) * h + 1.0) * b;
  const double cornerFaces = double(h) * c * c + double(c) * h * b;
  const double nodeCapacity = 2.0 * (m_nLayerCount + 1) * legNodes + (kCornerSteps + 1.0) * cornerNodes;
  const double elementCapacity = 2.0 * m_nLayerCount * legFaces + double(kCornerSteps) * cornerFaces;
  if (!vela::CheckCounts(nodeCapacity, elementCapacity)) return false;

  const vela::Point3 cross = vela::Cross(e0, e1);
  const double crossLength = vela::Norm(cross);
  const vela::Point3 normal = {cross[0] / crossLength, cross[1] / crossLength, cross[2] / crossLength};
  const double meanJunction = (r[1] + r[3]) / 2.0;

  auto sweep = [&]() {
    AllocateMeshArrays(static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity));
    // Each leg's third neighbour is its own far point mirrored through the
    // centre, the straight continuation of the runner: the side facing it is
    // a wide neighbour and does not lean.
    ON_3fPoint q[3] = {far[0], far[1], ON_3fPoint()};
    double legRadii[6] = {r[0], r[1], r[2], r[3], 0.0, 0.0};
    ON_3fPoint scratchFarNodes[2];
    for (int k = 0; k < 2; ++k) {
      const ON_3fPoint& own = far[static_cast<size_t>(k)];
      q[2] = ON_3fPoint(center.x + (center.x - own.x), center.y + (center.y - own.y),
                        center.z + (center.z - own.z));
      legRadii[4] = r[static_cast<size_t>(2 * k)];
      legRadii[5] = r[static_cast<size_t>(2 * k + 1)];
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
    double radial[5] = {start[0] / startLength, start[1] / startLength, start[2] / startLength,
                        r[3], r[1]};
    const double turn = kPi - std::acos(vela::Dot(e0, e1));
    RunnerCorner(centerPoint, axis, radial, c, b, innerShare, outerShare, turn, kCornerSteps, h);
    return true;
  };
  sweep();

  const double tol = kMergeTolShare * vela::MergeTolerance(meanJunction, *radii, m_aInnerLayer, c,
                                                           m_aOuterLayer, b, innerShare, outerShare);
  if (!MergeSound(tol, sweep)) return false;
  vela::WriteSolidMesh(m_pNodes, m_nNodeCount, m_pElements, m_nElementCount, *mesh);
  ReleaseMeshArrays();
  return true;
}
