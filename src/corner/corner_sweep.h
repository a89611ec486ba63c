#pragma once

// The half-section sweep that fills the outer side of a bend.
//
// A half cross-section (a half ellipse whose straight edge lies on the bend's
// rotation axis) is turned about that axis in equal steps. Its rings run from
// angle 0 to pi inclusive, so the first and the last node of every ring, and
// the centre, lie on the axis and stay put: every section repeats them, and
// an element touching the axis is the collapsed form of the hexahedron or
// prism its face would otherwise give.
//
//   half-section, h = 2, C = 2:      ring 2   o   o   o   o   o
//                                    ring 1     o   o   o
//   axis  -------------------------------------- 1 ------------
//   (ring nodes at the ends of each ring lie on the axis line)

#include "sweep/section_pattern.h"

#include <vector>

namespace vela {

struct HalfSectionCounts {
  int innerDiscNodes = 0;  // N: centre and inner rings
  int nodes = 0;           // S
  int faces = 0;           // T
};

// Counts of a half-section with h segments on the first ring's half circle,
// C inner rings and B outer layers.
HalfSectionCounts CountHalfSection(int halfRing, int innerRings, int outerLayers);

// The half-section's faces, rows 1..faces (row 0 unused); a triangle repeats
// its third corner.
std::vector<SectionFace> HalfSectionFaces(int halfRing, int innerRings, int outerLayers);

// Whether each node of a half-section (1-based) lies on the axis: the centre
// and both ends of every ring.
std::vector<bool> OnAxisNodes(int halfRing, int innerRings, int outerLayers);

// The element a face sweeps into between two sections, as 8 node numbers
// with trailing zeros (lower = node numbers of the face's corners in the
// lower section, upper in the upper section): a hexahedron or prism, or its
// collapsed form where corners lie on the axis.
std::array<int, 8> CornerElement(const SectionFace& face, const std::vector<bool>& onAxis,
                                 int lowerBase, int upperBase);

}  // namespace vela
