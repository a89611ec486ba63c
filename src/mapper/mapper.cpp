// The mapper object: its settings, the inputs of the junction being meshed and
// the runner-length estimate.

#include <VelaRunnerMapping.h>

#include "mapper/junction_inputs.h"
#include "mapper/junction_plan.h"
#include "mapper/runner_length.h"
#include "sweep/profiles.h"
#include "sweep/section_pattern.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The inner disc's share of the radius until a junction call or the setter
// gives one: four fifths, leaving the outer fifth to the boundary layers.
constexpr double kDefaultIORadiusRatio = 0.8;

}  // namespace

CVelaRunnerMapping::CVelaRunnerMapping()
    : m_nNodeCount(0),
      m_pNodes(nullptr),
      m_nElementCount(0),
      m_pElements(nullptr),
      m_nLayerCount(vela::kBranchLayers),
      m_pfnCircularProfile(vela::CircularProfile),
      m_pfnLinearProfile(vela::LinearProfile),
      m_nFirstCircleNodeCount(8),
      m_dIORadiusRatio(kDefaultIORadiusRatio),
      m_nInnerCircleCount(4),
      m_nOuterLayerCount(0),
      m_nInnerDiscNodeCount(0),
      m_nSectionNodeCount(0),
      m_nSectionFaceCount(0),
      m_nPoint(0),
      m_ptCenter(0.0f, 0.0f, 0.0f),
      m_vAvgNormal{0.0, 0.0, 0.0} {}

CVelaRunnerMapping::~CVelaRunnerMapping() = default;

bool CVelaRunnerMapping::SetFirstCircleNodeCount(int n) {
  if (n < 0) return false;
  m_nFirstCircleNodeCount = n;
  return true;
}

bool CVelaRunnerMapping::SetIORadiusRatio(double r) {
  if (!(r > 0.0 && r <= 1.0)) return false;  // NaN fails too
  m_dIORadiusRatio = r;
  return true;
}

bool CVelaRunnerMapping::SetIOBoundaryLayer(const CArray<double, double>* inner,
                                            const CArray<double, double>* outer) {
  if (inner == nullptr || outer == nullptr) return false;
  m_aInnerLayer.Copy(*inner);
  m_aOuterLayer.Copy(*outer);
  m_nInnerCircleCount = m_aInnerLayer.GetSize() - 1;
  m_nOuterLayerCount = std::max(m_aOuterLayer.GetSize() - 1, 0);
  return true;
}

int CVelaRunnerMapping::GetNPoint() const { return m_nPoint; }

void CVelaRunnerMapping::StoreJunction(const vela::JunctionPlan& plan, const vela::Point3& normal,
                                       const vela::ProjectedRunners& projected) {
  const int n = plan.RunnerCount();
  m_ptCenter = plan.center;
  std::copy(normal.begin(), normal.end(), m_vAvgNormal);
  m_pAroundPoints = std::make_unique<ON_3fPoint[]>(static_cast<size_t>(n));
  std::copy(projected.farPoints.begin(), projected.farPoints.end(), m_pAroundPoints.get());
  m_aCosElevation.RemoveAll();
  m_aSinElevation.RemoveAll();
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    m_aCosElevation.Add(projected.cosElevation[i]);
    m_aSinElevation.Add(projected.sinElevation[i]);
  }
  m_nPoint = n;
  m_pRunnerRadius = std::make_unique<double[]>(plan.radii.size());
  std::copy(plan.radii.begin(), plan.radii.end(), m_pRunnerRadius.get());
  m_dIORadiusRatio = plan.section.ioRatio;

  const vela::SectionSettings& s = plan.section;
  const vela::SectionCounts counts = vela::CountSection(s.firstRing, s.innerRings, s.outerLayers);
  m_nInnerDiscNodeCount = counts.innerDiscNodes;
  m_nSectionNodeCount = counts.nodes;
  m_nSectionFaceCount = counts.faces;
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
