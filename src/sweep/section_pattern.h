#pragma once

// The node pattern of one cross-section and its face list.
//
// Node numbers within a section are 1-based:
//   1                      the centre
//   ring k (k = 1..C)      k*F nodes, 2 + F*k*(k-1)/2 .. 1 + F*k*(k+1)/2
//   outer layer j (1..B)   C*F nodes each, after the inner disc
// Every ring and layer starts at angle 0 and runs counter-clockwise.
//
// Faces, in this order (it fixes the element order of every branch):
//   ring-1 fan             F triangles (1, k+1, k+2), the last closing on node 2
//   strip ring i -> i+1    two triangles per node of ring i and a third after
//                          every i-th, (2i+1)*F triangles
//   outer layers           C*F quadrilaterals each, inner edge first
// A triangle repeats its third corner as its fourth.

#include <array>
#include <cstddef>
#include <vector>

namespace vela {

struct SectionCounts {
  int innerDiscNodes = 0;  // centre and inner rings
  int nodes = 0;           // the whole section
  int faces = 0;
};

// Counts of a section with F nodes on the first ring, C inner rings and B
// outer layers.
SectionCounts CountSection(int firstRing, int innerRings, int outerLayers);

// The same counts in doubles, which cannot overflow: the guards judge them
// before anything is counted in ints.
struct SectionSize {
  double nodes = 0.0;
  double faces = 0.0;
};
SectionSize SizeSection(int firstRing, int innerRings, int outerLayers);

// What the sweeps need to place a section's nodes: the counts and the
// normalised ring positions, position 0 first (inner[0..C], outer[0..B]).
struct SectionSettings {
  int firstRing = 8;    // F
  int innerRings = 4;   // C
  int outerLayers = 0;  // B
  double ioRatio = 0.8; // share of the radius taken by the inner disc
  std::vector<double> inner;
  std::vector<double> outer;
};

using SectionFace = std::array<int, 4>;

// The face list, rows 1..faces (row 0 is unused and zero).
std::vector<SectionFace> SectionFaces(int firstRing, int innerRings, int outerLayers);

// The element a face sweeps into between two sections, as 8 node numbers
// with trailing zeros (lowerBase and upperBase are added to the face's
// section node numbers): a prism or hexahedron, or, where sections turn
// about an axis and the face's corners lie on it (onAxis, by section node;
// empty when no node does), the pyramid, tetrahedron or prism it collapses to.
std::array<int, 8> SweptElement(const SectionFace& face, const std::vector<bool>& onAxis,
                                int lowerBase, int upperBase);
// The same written to out[0..7].
void SweptElement(const SectionFace& face, const std::vector<bool>& onAxis, int lowerBase, int upperBase,
                  int* out);

}  // namespace vela
