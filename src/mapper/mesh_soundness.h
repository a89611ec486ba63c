#pragma once

// The soundness check of a finished junction mesh: what every `true` of a
// junction call promises the host.
//
// A sound mesh has every coordinate finite; a positive corner Jacobian at
// every corner of every element, beyond rounding; no element naming a node
// twice; every face used by at most two elements, in opposite turns; a closed
// boundary; and no junction section left facing the inside of the junction.
//
// The check reads the mesh in the library's 1-based rows. Faces and boundary
// edges are examined only where they touch a merge candidate: everywhere else
// the rows come straight from the sweep's face pattern, which makes a closed,
// conformal tube whatever the coordinates, and the merge is the only step that
// can join, fold or tear faces. No two kept candidates lie within the merge
// tolerance: the merge itself rules that out. Overlap of elements that share
// no node is not tested here (where the branches meet, their long last layers
// all cross the few cells of any spatial grid, and a test costs many times
// the junction). Within the bounds on the runners' angles, elevations and
// radii that a census found to keep the branches apart nothing more is
// needed; past them, and for every hub, the junction calls also run the
// overlap test of mapper/mesh_overlap.h.

namespace vela {

struct MeshSoundness {
  int nonFiniteNodes = 0;
  int collapsedElements = 0;     // naming a node twice
  int invertedElements = 0;      // a corner Jacobian not above zero beyond rounding
  int overSharedFaces = 0;       // used by three or more elements
  int sameTurnFaces = 0;         // shared by two elements that run round it the same way
  int openSectionFaces = 0;      // a junction section face that no neighbour covers
  int openBoundaryEdges = 0;     // boundary edges not closed by exactly one other face

  bool Sound() const {
    return nonFiniteNodes == 0 && collapsedElements == 0 && invertedElements == 0 &&
           overSharedFaces == 0 && sameTurnFaces == 0 && openSectionFaces == 0 &&
           openBoundaryEdges == 0;
  }
};

// Checks nodes 1..nodeCount and elements 1..elementCount (rows of 8 node
// numbers, trailing zeros telling the kind). candidates[k] is non-zero for a
// kept node that the merge may have joined (1-based, as the nodes).
MeshSoundness CheckMesh(const double (*nodes)[3], int nodeCount, const int (*elements)[8],
                        int elementCount, const unsigned char* candidates);

// Which vector instructions judge the corners on this thread: the widest
// the processor offers (the default), or the plain ones of the build's
// target. Both give the same counts, to the last bit of every corner; the
// tests run both.
enum class CornerInstructions { Widest, Plain };
void UseCornerInstructions(CornerInstructions which);

// The shortest element edge between two candidates, before merging: the
// spacing of the sections that the merge joins. Infinity when there is none.
double ShortestCandidateEdge(const double (*nodes)[3], const int (*elements)[8], int elementCount,
                             const unsigned char* candidates);

}  // namespace vela
