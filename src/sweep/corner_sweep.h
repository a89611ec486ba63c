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
#include "vec3.h"

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

// The same counts in doubles (see SizeSection).
SectionSize SizeHalfSection(int halfRing, int innerRings, int outerLayers);

// The half-section's faces, rows 1..faces (row 0 unused); a triangle repeats
// its third corner.
std::vector<SectionFace> HalfSectionFaces(int halfRing, int innerRings, int outerLayers);

// Whether each node of a half-section (1-based) lies on the axis: the centre
// and both ends of every ring.
std::vector<bool> OnAxisNodes(int halfRing, int innerRings, int outerLayers);

// The half-section, section by section, as the bend is swept: section k is
// the half ellipse with semi-axes axisRadius along the axis and
// startRadius + (endRadius - startRadius) * k / steps across it, turned by
// sweepAngle * k / steps about the axis through the centre. Rows 1.. (row 0
// unused), section k node p at row k * nodes + p; the half-section's counts
// are CountHalfSection(halfRing, C, B) of the section settings.
struct CornerInput {
  Point3 center{};
  Point3 axis{};    // the bend's rotation axis, unitized here
  Point3 radial{};  // angle 90 degrees of the first section, unitized here
  double axisRadius = 0.0;
  double startRadius = 0.0, endRadius = 0.0;
  double sweepAngle = 0.0;
  int steps = 1;
  int halfRing = 4;  // h, half the first ring
};

std::vector<Point3> SweepCorner(const CornerInput& in, const SectionSettings& section);
// The same into nodes, which keeps its room.
void SweepCorner(const CornerInput& in, const SectionSettings& section, std::vector<Point3>& nodes);

}  // namespace vela
