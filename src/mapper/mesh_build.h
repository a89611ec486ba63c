#pragma once

// The junction mesh while it is built: 1-based node rows of three doubles,
// 1-based element rows of 8 node numbers, trailing zeros telling the kind
// (4 corners tetrahedron, 5 pyramid, 6 prism, 8 hexahedron), and the
// merge-candidate flags. The sweeps append to the swept mesh; the merge
// writes the merged mesh beside it and leaves the swept one as it was, so
// that a junction can be merged again with another tolerance without being
// swept again. A junction sizes the build once from the closed-form counts of
// what its sweeps append. The arrays are this thread's, lent for as long as
// the object lives (mapper/module_state.h).

#include <VelaJunction.h>
#include <Vela_SolidMesh.h>

#include "mapper/mesh_soundness.h"
#include "mapper/module_state.h"
#include "sweep/section_pattern.h"
#include "vec3.h"

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
  // first section's and the axis nodes too. Returns the swept number of the
  // first node appended. Appends nothing past the capacity (and returns 0):
  // the drivers size it for everything they append.
  int Append(const std::vector<Point3>& rows, int sectionNodes, int sectionCount,
             const std::vector<SectionFace>& faces, const std::vector<bool>& onAxis, bool bothEnds);

  // Merges the swept mesh's candidates within tol (see MergeCandidates) into
  // the merged mesh, replacing what an earlier merge left there.
  void Merge(double tol);
  // The soundness of the merged mesh.
  MeshSoundness Check() const;
  // The shortest swept element edge between two candidates: the finest
  // spacing of the sections that the merge joins.
  double ShortestCandidateEdge() const;

  int SweptNodeCount() const { return m_sweptNodes; }
  Point3 SweptNode(int k) const;
  Point3 MergedNode(int k) const;
  // The merged number (1-based) of swept node k.
  int MergedNumber(int k) const { return m_buffers.Map()[k]; }

  // The merged mesh into the host's container, 0-based: SetMeshSize first,
  // then every node, then every element by its kind.
  void Write(CVela_SolidMesh& mesh) const;
  // The merged mesh as values, 0-based.
  void Export(std::vector<Point3>& nodes, std::vector<Element>& elements) const;

  int NodeCount() const { return m_mergedNodes; }
  int ElementCount() const { return m_elementCount; }

private:
  MeshCapacity m_capacity;
  mutable BuildBuffers m_buffers;
  int m_sweptNodes = 0;
  int m_mergedNodes = 0;
  int m_elementCount = 0;
};

// Merges the swept junction within tol and checks it. Where the usual
// tolerance joined nodes of one section of a thinner runner, merges the same
// sweeps again within a quarter of the finest section spacing; a junction
// that merges soundly the usual way never gets there. False, with
// Refusal::UnsoundResult recorded, for a mesh that stays unsound.
bool MergeSound(MeshBuild& build, double tol);

}  // namespace vela
