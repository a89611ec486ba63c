#include "mapper/mesh_build.h"

#include "mapper/node_merge.h"
#include "mapper/refusal.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace vela {

namespace {
// The mending merge joins nodes within this share of the finest section
// spacing: its search box, a quarter spacing each way, never reaches a
// second node of one section.
constexpr double kMendMergeShare = 0.25;

int CornerCount(const int* row) {
  if (row[4] == 0) return 4;
  if (row[5] == 0) return 5;
  return row[6] == 0 ? 6 : 8;
}
}  // namespace

MeshBuild::MeshBuild(MeshCapacity capacity)
    : m_capacity(capacity), m_buffers(capacity.nodes, capacity.elements) {}

int MeshBuild::Append(const std::vector<Point3>& rows, int sectionNodes, int sectionCount,
                      const std::vector<SectionFace>& faces, const std::vector<bool>& onAxis,
                      bool bothEnds) {
  const int s = sectionNodes;
  const int faceCount = static_cast<int>(faces.size()) - 1;
  if (m_sweptNodes + sectionCount * s > m_capacity.nodes ||
      m_elementCount + (sectionCount - 1) * faceCount > m_capacity.elements)
    return 0;

  BuildBuffers::Mesh& swept = m_buffers.Swept();
  unsigned char* candidates = swept.candidates.get();
  double(*nodes)[3] = swept.nodes.get();
  const int first = m_sweptNodes;
  for (int section = 0; section < sectionCount; ++section) {
    const bool endJoins = section == sectionCount - 1 || (bothEnds && section == 0);
    for (int p = 1; p <= s; ++p) {
      ++m_sweptNodes;
      if (endJoins || (!onAxis.empty() && onAxis[static_cast<size_t>(p)])) candidates[m_sweptNodes] = 1;
      const Point3& node = rows[static_cast<size_t>(section * s + p)];
      nodes[m_sweptNodes][0] = node[0];
      nodes[m_sweptNodes][1] = node[1];
      nodes[m_sweptNodes][2] = node[2];
    }
  }
  // Every layer sweeps the faces into the same elements but for where the
  // layer starts: each face's element is formed once, against a layer from
  // node 0, and every layer adds its start to each corner it names.
  thread_local std::vector<std::array<int, 8>> pattern;
  pattern.resize(static_cast<size_t>(faceCount));
  for (int f = 1; f <= faceCount; ++f)
    SweptElement(faces[static_cast<size_t>(f)], onAxis, 0, s, pattern[static_cast<size_t>(f - 1)].data());
  int(*elements)[8] = swept.elements.get();
  for (int layer = 1; layer < sectionCount; ++layer) {
    const int lower = first + (layer - 1) * s;
    for (const std::array<int, 8>& element : pattern) {
      // A copy of its own: the compiler then knows the row written is not
      // the pattern read, and forms all eight corners at once.
      const std::array<int, 8> corners = element;
      int* row = elements[++m_elementCount];
      for (size_t c = 0; c < 8; ++c) row[c] = corners[c] == 0 ? 0 : corners[c] + lower;
    }
  }
  return first + 1;
}

void MeshBuild::Merge(double tol) {
  BuildBuffers::Mesh& swept = m_buffers.Swept();
  BuildBuffers::Mesh& merged = m_buffers.Merged();
  m_mergedNodes = MergeCandidates(swept.nodes.get(), m_sweptNodes, swept.elements.get(), m_elementCount,
                                  swept.candidates.get(), tol,
                                  {merged.nodes.get(), merged.elements.get(), merged.candidates.get(),
                                   m_buffers.Map()});
}

MeshSoundness MeshBuild::Check() const {
  const BuildBuffers::Mesh& merged = m_buffers.Merged();
  return CheckMesh(merged.nodes.get(), m_mergedNodes, merged.elements.get(), m_elementCount,
                   merged.candidates.get());
}

double MeshBuild::ShortestCandidateEdge() const {
  const BuildBuffers::Mesh& swept = m_buffers.Swept();
  return vela::ShortestCandidateEdge(swept.nodes.get(), swept.elements.get(), m_elementCount,
                                     swept.candidates.get());
}

Point3 MeshBuild::SweptNode(int k) const {
  const double* p = m_buffers.Swept().nodes[k];
  return {p[0], p[1], p[2]};
}

Point3 MeshBuild::MergedNode(int k) const {
  const double* p = m_buffers.Merged().nodes[k];
  return {p[0], p[1], p[2]};
}

void MeshBuild::Write(CVela_SolidMesh& mesh) const {
  const BuildBuffers::Mesh& merged = m_buffers.Merged();
  const double(*nodes)[3] = merged.nodes.get();
  const int(*elements)[8] = merged.elements.get();
  mesh.SetMeshSize(m_elementCount, m_mergedNodes);
  for (int n = 1; n <= m_mergedNodes; ++n) mesh.SetNodeCoord(n - 1, nodes[n][0], nodes[n][1], nodes[n][2]);
  for (int e = 1; e <= m_elementCount; ++e) {
    const int* c = elements[e];
    switch (CornerCount(c)) {
      case 4: mesh.SetTetraElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1); break;
      case 5: mesh.SetPyramidElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1, c[4] - 1); break;
      case 6:
        mesh.SetPrismElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1, c[4] - 1, c[5] - 1);
        break;
      default:
        mesh.SetHexaElement(e - 1, c[0] - 1, c[1] - 1, c[2] - 1, c[3] - 1, c[4] - 1, c[5] - 1, c[6] - 1,
                            c[7] - 1);
    }
  }
}

void MeshBuild::Export(std::vector<Point3>& nodes, std::vector<Element>& elements) const {
  const BuildBuffers::Mesh& merged = m_buffers.Merged();
  nodes.resize(static_cast<size_t>(m_mergedNodes));
  for (int n = 1; n <= m_mergedNodes; ++n)
    nodes[static_cast<size_t>(n - 1)] = {merged.nodes[n][0], merged.nodes[n][1], merged.nodes[n][2]};
  elements.resize(static_cast<size_t>(m_elementCount));
  for (int e = 1; e <= m_elementCount; ++e) {
    const int* row = merged.elements[e];
    const int corners = CornerCount(row);
    Element& out = elements[static_cast<size_t>(e - 1)];
    out.kind = static_cast<ElementKind>(corners);
    for (int c = 0; c < 8; ++c) out.corners[static_cast<size_t>(c)] = c < corners ? row[c] - 1 : -1;
  }
}

bool MergeSound(MeshBuild& build, double tol) {
  build.Merge(tol);
  if (build.Check().Sound()) return true;
  // The usual tolerance is a share of the widest ring gap of the junction;
  // where a narrower runner's section is finer than that, the merge joined
  // nodes of one section. The same sweeps merged within a share of the
  // finest spacing mend that and leave every other junction as it was.
  const double capped = kMendMergeShare * build.ShortestCandidateEdge();
  if (capped < tol) {
    build.Merge(capped);
    if (build.Check().Sound()) return true;
  }
  return Refuse(Refusal::UnsoundResult);
}

}  // namespace vela
