#include "mapper/mesh_build.h"

#include "mapper/node_merge.h"
#include "mapper/refusal.h"

#include <algorithm>
#include <cstddef>

namespace vela {

namespace {
// The mending merge joins nodes within this share of the finest section
// spacing: its search box, a quarter spacing each way, never reaches a
// second node of one section.
constexpr double kMendMergeShare = 0.25;
}  // namespace

MeshBuild::MeshBuild(MeshCapacity capacity)
    : m_capacity(capacity),
      m_buffers(capacity.nodes, capacity.elements),
      m_nodes(m_buffers.Nodes()),
      m_elements(m_buffers.Elements()),
      m_candidates(m_buffers.Candidates()) {}

void MeshBuild::Append(const std::vector<Point3>& rows, int sectionNodes, int sectionCount,
                       const std::vector<SectionFace>& faces, const std::vector<bool>& onAxis,
                       bool bothEnds) {
  const int s = sectionNodes;
  const int faceCount = static_cast<int>(faces.size()) - 1;
  if (m_nodeCount + sectionCount * s > m_capacity.nodes ||
      m_elementCount + (sectionCount - 1) * faceCount > m_capacity.elements)
    return;

  unsigned char* candidates = m_candidates;
  const int first = m_nodeCount;
  for (int section = 0; section < sectionCount; ++section) {
    const bool endJoins = section == sectionCount - 1 || (bothEnds && section == 0);
    for (int p = 1; p <= s; ++p) {
      ++m_nodeCount;
      if (endJoins || (!onAxis.empty() && onAxis[static_cast<size_t>(p)])) candidates[m_nodeCount] = 1;
      const Point3& node = rows[static_cast<size_t>(section * s + p)];
      m_nodes[m_nodeCount][0] = node[0];
      m_nodes[m_nodeCount][1] = node[1];
      m_nodes[m_nodeCount][2] = node[2];
    }
  }
  for (int layer = 1; layer < sectionCount; ++layer) {
    const int lower = first + (layer - 1) * s;
    const int upper = first + layer * s;
    for (int f = 1; f <= faceCount; ++f) {
      const std::array<int, 8> row = SweptElement(faces[static_cast<size_t>(f)], onAxis, lower, upper);
      std::copy(row.begin(), row.end(), m_elements[++m_elementCount]);
    }
  }
}

void MeshBuild::Merge(double tol) {
  m_nodeCount = MergeCandidates(m_nodes, m_nodeCount, m_elements, m_elementCount,
                                m_candidates, tol);
}

MeshSoundness MeshBuild::Check() const {
  return CheckMesh(m_nodes, m_nodeCount, m_elements, m_elementCount, m_candidates);
}

double MeshBuild::ShortestCandidateEdge() const {
  return vela::ShortestCandidateEdge(m_nodes, m_elements, m_elementCount, m_candidates);
}

void MeshBuild::Write(CVela_SolidMesh& mesh) const {
  mesh.SetMeshSize(m_elementCount, m_nodeCount);
  for (int n = 1; n <= m_nodeCount; ++n)
    mesh.SetNodeCoord(n - 1, m_nodes[n][0], m_nodes[n][1], m_nodes[n][2]);
  for (int e = 1; e <= m_elementCount; ++e) {
    const int* c = m_elements[e];
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

std::unique_ptr<MeshBuild> MergeSound(const std::function<std::unique_ptr<MeshBuild>()>& sweep,
                                      double tol) {
  std::unique_ptr<MeshBuild> build = sweep();
  build->Merge(tol);
  if (build->Check().Sound()) return build;
  // The usual tolerance is a share of the widest ring gap of the junction;
  // where a narrower runner's section is finer than that, the merge joined
  // nodes of one section. The same sweeps merged within a share of the
  // finest spacing mend that and leave every other junction as it was.
  build.reset();  // one build, and one set of candidate flags, at a time
  build = sweep();
  const double capped = kMendMergeShare * build->ShortestCandidateEdge();
  if (capped < tol) {
    build->Merge(capped);
    if (build->Check().Sound()) return build;
  }
  Refuse(Refusal::UnsoundResult);
  return nullptr;
}

}  // namespace vela
