#pragma once

// The junction mesh while it is built: 1-based node rows of three doubles,
// 1-based element rows of 8 node numbers, trailing zeros telling the kind
// (4 corners tetrahedron, 5 pyramid, 6 prism, 8 hexahedron), and the
// merge-candidate flags. A junction call sizes it once from the closed-form
// counts of what its sweeps append. The arrays are this thread's, lent for as
// long as the object lives (mapper/module_state.h).

#include <Vela_SolidMesh.h>

#include "mapper/mesh_soundness.h"
#include "mapper/module_state.h"
#include "sweep/section_pattern.h"
#include "vec3.h"

#include <functional>
#include <memory>
#include <vector>

namespace vela {

struct MeshCapacity {
  int nodes = 0;
  int elements = 0;
};

class MeshBuild {
public:
  explicit MeshBuild(MeshCapacity capacity);

  // Appends sectionCount sections of sectionNodes nodes each, section s node
  // p taken from rows[s * sectionNodes + p] (row 0 unused), and between each
  // pair of consecutive sections the element every face sweeps: a prism or
  // hexahedron, or its collapsed form where the face's corners lie on an
  // axis that the sections turn about (onAxis, by section node; empty for
  // none). The last section's nodes are merge candidates; with bothEnds the
  // first section's and the axis nodes too. Appends nothing past the
  // capacity: the drivers size it for everything they append.
  void Append(const std::vector<Point3>& rows, int sectionNodes, int sectionCount,
              const std::vector<SectionFace>& faces, const std::vector<bool>& onAxis, bool bothEnds);

  // Merges the candidates within tol (see MergeCandidates); the flags follow
  // the kept nodes.
  void Merge(double tol);
  MeshSoundness Check() const;
  // The shortest element edge between two candidates: the finest spacing of
  // the sections that the merge joins.
  double ShortestCandidateEdge() const;
  // Writes the mesh into the host's container, 0-based: SetMeshSize first,
  // then every node, then every element by its kind.
  void Write(CVela_SolidMesh& mesh) const;

  int NodeCount() const { return m_nodeCount; }
  int ElementCount() const { return m_elementCount; }
  const double (*Nodes() const)[3] { return m_nodes; }
  const int (*Elements() const)[8] { return m_elements; }

private:
  MeshCapacity m_capacity;
  BuildBuffers m_buffers;
  double (*m_nodes)[3];
  int (*m_elements)[8];
  unsigned char* m_candidates;
  int m_nodeCount = 0;
  int m_elementCount = 0;
};

// Builds the junction through sweep, merges it within tol and checks it.
// Where the usual tolerance joined nodes of one section of a thinner runner,
// builds it again and merges within a quarter of the finest section spacing;
// a junction that merges soundly the usual way never gets there. Null, with
// Refusal::UnsoundResult recorded, for a mesh that stays unsound.
std::unique_ptr<MeshBuild> MergeSound(const std::function<std::unique_ptr<MeshBuild>()>& sweep,
                                      double tol);

}  // namespace vela
