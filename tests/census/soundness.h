#pragma once

// An independent judge of a finished junction mesh, written for the census
// from the corner orders of Vela_SolidMesh.h alone: it shares no code with the
// library's own checks or with tools/quality, so that a fault in one of them
// cannot hide the same fault in the other.
//
// A mesh is sound when it has elements, and
//   - every coordinate is finite;
//   - every corner of every element names an existing node, and no element
//     names a node twice;
//   - every corner Jacobian is positive beyond rounding: the determinant of
//     the three edges leaving the corner, over the product of their lengths,
//     exceeds 1e-9 (a pyramid's apex is judged through the tetrahedra of
//     both base diagonals);
//   - every face is shared by at most two elements, and two elements that
//     share a face run round it in opposite turns; quadrilaterals match only
//     quadrilaterals, and no boundary quadrilateral is covered by two
//     boundary triangles on its diagonal (a hanging face);
//   - the boundary is closed: every boundary edge belongs to exactly two
//     boundary faces, which run along it in opposite directions;
//   - the elements hang together through shared faces: branches left
//     unjoined at the junction make separate pieces;
//   - no two distinct nodes are nearer than 1e-3 of the shortest edge at
//     either (an unmerged crack);
//   - no two elements overlap: sample points of each element (its centroid
//     and the centroid pulled half way to each corner) lie strictly inside no
//     other element, split into tetrahedra about its centroid and the centres
//     of its faces (elements too twisted for that split sit this test out,
//     see Soundness::twisted);
//   - no two boundary faces that share no node pass through each other,
//     however shallow the cut (quadrilaterals fanned from their centre).
// Overlap and cracks are judged among elements that pass the local checks
// (finite, no repeated node, positive corners), so that each fault is counted
// in one class as far as possible.

#include "memory_mesh.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace vela::census {

enum class Fault {
  Empty,          // no elements or no nodes
  NonFinite,      // nodes with a coordinate that is not finite
  NodeIndex,      // elements naming a node outside the mesh
  RepeatedNode,   // elements naming a node twice
  Inverted,       // elements with a corner Jacobian not above 1e-9
  OverShared,     // faces shared by more than two elements
  FaceTurn,       // shared faces run round in the same turn, or quads matched out of order
  HangingFace,    // boundary quadrilaterals covered by two boundary triangles
  OpenBoundary,   // boundary edges not in exactly two boundary faces of opposite direction
  Crack,          // pairs of distinct nodes nearly at the same point
  Overlap,        // elements with a sample point strictly inside another element
  Crossing,       // boundary faces passing through another boundary face
  Disconnected,   // pieces beyond the first that share no face with the rest
  Count
};

// A short stable identifier, e.g. "open-boundary".
const char* FaultName(Fault fault);

struct Soundness {
  static constexpr int kFaultCount = static_cast<int>(Fault::Count);
  static constexpr std::size_t kExamples = 4;

  // Offenders per class: elements, faces, edges, nodes or node pairs, as the
  // class counts them.
  std::array<int, kFaultCount> count{};
  // The first few offenders per class: elements (for HangingFace and
  // Crossing the element of the face, for Disconnected one of each extra
  // piece), but nodes for Crack and NonFinite and the first node of the edge
  // for OpenBoundary.
  std::array<std::vector<int>, kFaultCount> examples;
  // Nodes that no element names: reported, not a fault.
  int unusedNodes = 0;
  // Elements with positive corners whose centroid sees one of their faces
  // (fanned from its centre) from behind: so warped that their split into
  // tetrahedra is not a tiling, so they take no part in the overlap test.
  // Reported, not a fault.
  int twisted = 0;

  bool Sound() const;
  int Of(Fault f) const { return count[static_cast<std::size_t>(f)]; }
  // "sound", or the faulty classes with their counts and first examples,
  // e.g. "inverted 3 [12 40 41]; overlap 2 [7 9]".
  std::string Summary() const;
};

Soundness CheckSoundness(const MemoryMesh& mesh);

}  // namespace vela::census
