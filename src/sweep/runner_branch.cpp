// The mapper's side of a branch sweep: the derived section counts, the
// settings handed to the sweep, and the storing of the swept branch.

#include <VelaRunnerMapping.h>

#include "sweep/branch_sweep.h"
#include "sweep/section_pattern.h"

void CVelaRunnerMapping::InitParameter() {
  const vela::SectionCounts counts =
      vela::CountSection(m_nFirstCircleNodeCount, m_nInnerCircleCount, m_nOuterLayerCount);
  m_nSectionNodeCount = counts.nodes;
  m_nInnerDiscNodeCount = counts.innerDiscNodes;
  m_nSectionFaceCount = counts.faces;
}

int CVelaRunnerMapping::RunnerBranch_E(const double (*points)[3], const double* radii,
                                       double junctionRadius, double nx, double ny, double nz,
                                       double cosTilt, double sinTilt, ON_3fPoint* farNodes,
                                       int branchIndex) {
  InitParameter();

  vela::SectionSettings section;
  section.firstRing = m_nFirstCircleNodeCount;
  section.innerRings = m_nInnerCircleCount;
  section.outerLayers = m_nOuterLayerCount;
  section.ioRatio = m_dIORadiusRatio;
  // Bounds-checked reads: lists shorter than the counts raise CArray's failure.
  for (int i = 0; i <= m_nInnerCircleCount; ++i) section.inner.push_back(m_aInnerLayer.GetAt(i));
  for (int i = 0; i <= m_nOuterLayerCount && m_nOuterLayerCount > 0; ++i)
    section.outer.push_back(m_aOuterLayer.GetAt(i));

  vela::BranchInput in;
  for (int r = 0; r < 4; ++r) in.points[r] = {points[r][0], points[r][1], points[r][2]};
  for (int i = 0; i < 6; ++i) in.radii[i] = radii[i];
  in.junctionRadius = junctionRadius;
  in.normal = {nx, ny, nz};
  in.cosTilt = cosTilt;
  in.sinTilt = sinTilt;
  in.center = m_ptCenter;

  const vela::SweptBranch branch =
      vela::SweepBranch(in, section, m_nLayerCount, m_pfnCircularProfile, m_pfnLinearProfile);
  if (m_nInnerCircleCount > 0) farNodes[branchIndex] = branch.farNode;
  SetSolidMeshDataNode(m_pNodes, branch.nodes.data());
  return 0;
}
