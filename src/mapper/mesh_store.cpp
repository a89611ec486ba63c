// The mapper's node and element arrays: appending a swept branch and writing
// the finished mesh into the host's container.

#include <VelaRunnerMapping.h>

#include "mapper/mesh_soundness.h"
#include "mapper/mesh_store.h"
#include "mapper/module_state.h"
#include "mapper/refusal.h"
#include "sweep/section_pattern.h"

#include <algorithm>
#include <vector>

namespace vela {

namespace {
// The mending merge joins nodes within this share of the finest section
// spacing: its search box, a quarter spacing each way, never reaches a
// second node of one section.
constexpr double kMendMergeShare = 0.25;
}  // namespace

void WriteSolidMesh(const double (*nodes)[3], int nodeCount, const int (*elements)[8],
                    int elementCount, CVela_SolidMesh& mesh) {
  mesh.SetMeshSize(elementCount, nodeCount);
  for (int n = 1; n <= nodeCount; ++n) mesh.SetNodeCoord(n - 1, nodes[n][0], nodes[n][1], nodes[n][2]);
  for (int e = 1; e <= elementCount; ++e) {
    const int* c = elements[e];
    if (c[4] == 0)
      mesh.SetTetraElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1);
    else if (c[5] == 0)
      mesh.SetPyramidElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1, c[4] - 1);
    else if (c[6] != 0)
      mesh.SetHexaElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1, c[4] - 1, c[5] - 1,
                          c[6] - 1, c[7] - 1);
    else
      mesh.SetPrismElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1, c[4] - 1, c[5] - 1);
  }
}

}  // namespace vela

void CVelaRunnerMapping::AllocateMeshArrays(int nodeCapacity, int elementCapacity) {
  ReleaseMeshArrays();
  m_pNodes = new double[static_cast<size_t>(nodeCapacity) + 1][3];
  m_pElements = new int[static_cast<size_t>(elementCapacity) + 1][8];
  m_nNodeCapacity = nodeCapacity;
  m_nElementCapacity = elementCapacity;
  m_nNodeCount = 0;
  m_nElementCount = 0;
  vela::AllocateMergeCandidates(nodeCapacity);
}

void CVelaRunnerMapping::ReleaseMeshArrays() {
  delete[] m_pNodes;
  m_pNodes = nullptr;
  delete[] m_pElements;
  m_pElements = nullptr;
  m_nNodeCapacity = 0;
  m_nElementCapacity = 0;
}

void CVelaRunnerMapping::SetSolidMeshDataNode(double (*nodes)[3],
                                              const std::array<double, 3>* branch) {
  const int s = m_nSectionNodeCount;
  const int layers = m_nLayerCount;
  // The drivers size the arrays for every branch they sweep; this guard only
  // keeps a broken count from ever writing past them.
  if (m_nNodeCount + (layers + 1) * s > m_nNodeCapacity ||
      m_nElementCount + layers * m_nSectionFaceCount > m_nElementCapacity)
    return;

  const std::vector<vela::SectionFace> faces =
      vela::SectionFaces(m_nFirstCircleNodeCount, m_nInnerCircleCount, m_nOuterLayerCount);
  const int first = m_nNodeCount;
  for (int section = 0; section <= layers; ++section) {
    for (int k = 1; k <= s; ++k) {
      ++m_nNodeCount;
      // The junction-end section is what neighbouring branches share.
      if (section == layers) g_pMergeCandidate[m_nNodeCount] = 1;
      const std::array<double, 3>& p = branch[section * s + k];
      nodes[m_nNodeCount][0] = p[0];
      nodes[m_nNodeCount][1] = p[1];
      nodes[m_nNodeCount][2] = p[2];
    }
  }
  for (int l = 1; l <= layers; ++l) {
    const int lower = first + (l - 1) * s;
    const int upper = first + l * s;
    for (int f = 1; f <= m_nSectionFaceCount; ++f) {
      const vela::SectionFace& c = faces[static_cast<size_t>(f)];
      int* row = m_pElements[++m_nElementCount];
      if (c[2] == c[3]) {
        const int prism[8] = {lower + c[0], lower + c[1], lower + c[2], upper + c[0],
                              upper + c[1], upper + c[2], 0, 0};
        std::copy(prism, prism + 8, row);
      } else {
        const int hexa[8] = {lower + c[0], lower + c[1], lower + c[2], lower + c[3],
                             upper + c[0], upper + c[1], upper + c[2], upper + c[3]};
        std::copy(hexa, hexa + 8, row);
      }
    }
  }
}

bool CVelaRunnerMapping::MergeSound(double tol, const std::function<bool()>& resweep) {
  MergeBranchNode(m_nNodeCount, tol);
  if (vela::CheckMesh(m_pNodes, m_nNodeCount, m_pElements, m_nElementCount, g_pMergeCandidate).Sound()) {
    vela::ReleaseMergeCandidates();
    return true;
  }
  // The usual tolerance is a share of the widest ring gap of the junction;
  // where a narrower runner's section is finer than that, the merge joined
  // nodes of one section. The same sweeps merged within a share of the
  // finest spacing mend that and leave every other junction as it was.
  if (resweep()) {
    const double spacing =
        vela::ShortestCandidateEdge(m_pNodes, m_pElements, m_nElementCount, g_pMergeCandidate);
    const double capped = vela::kMendMergeShare * spacing;
    if (capped < tol) {
      MergeBranchNode(m_nNodeCount, capped);
      if (vela::CheckMesh(m_pNodes, m_nNodeCount, m_pElements, m_nElementCount, g_pMergeCandidate)
              .Sound()) {
        vela::ReleaseMergeCandidates();
        return true;
      }
    }
  }
  ReleaseMeshArrays();
  vela::ReleaseMergeCandidates();
  return vela::Refuse(vela::Refusal::UnsoundResult);
}

void CVelaRunnerMapping::CreateSolidMesh(CVela_SolidMesh* mesh) const {
  vela::WriteSolidMesh(m_pNodes, m_nNodeCount, m_pElements, m_nElementCount, *mesh);
}
