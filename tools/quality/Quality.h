#pragma once

// The quality report of a solid mesh: what a person checks before trusting a
// junction mesh in a solver.
//
// Element corner orders are the library's (see Vela_SolidMesh.h). The scaled
// Jacobian follows the Verdict definitions: at every corner the determinant
// of the three edges leaving it, divided by the product of their lengths,
// scaled so that the ideal element scores 1 (regular tetrahedron, right prism
// on an equilateral triangle, square pyramid with equilateral sides, cube);
// the element's value is the smallest over its corners (and, for the
// hexahedron, over its centre's principal axes). A pyramid's apex, where four
// edges meet, is judged through its two diagonal tetrahedra.

#include "MemoryMesh.h"

#include <array>
#include <string>
#include <vector>

namespace vela::quality {

struct KindStats {
  int count = 0;
  double minScaledJacobian = 0.0;   // over the elements of the kind; 0 when there are none
  double meanScaledJacobian = 0.0;
};

struct QualityReport {
  int nodes = 0;
  int elements = 0;
  // Indexed by kind: tetra, pyramid, prism, hexa.
  std::array<KindStats, 4> byKind{};
  // Elements with a negative corner Jacobian anywhere (beyond rounding: the
  // determinant over the three edge lengths below -1e-12).
  int inverted = 0;
  // Elements whose smallest corner Jacobian is zero within that margin (flat).
  int degenerate = 0;
  // Faces (corner sets) used by more than two elements.
  int overSharedFaces = 0;
  // Edges of the boundary surface that do not belong to exactly two
  // boundary faces; 0 means the boundary is closed.
  int openBoundaryEdges = 0;
  // Pairs of distinct nodes within mergeTol of each other on every axis.
  int coincidentNodePairs = 0;
  double mergeTol = 0.0;
  // Sum of the elements' signed volumes.
  double volume = 0.0;
  // One value per element, in element order.
  std::vector<double> scaledJacobian;
};

// Index of a kind in QualityReport::byKind.
int KindIndex(ElementKind kind);

// The report of a mesh. Node indices must lie within the mesh (MemoryMesh
// guarantees it for what the library writes); throws std::invalid_argument
// otherwise.
QualityReport Assess(const MemoryMesh& mesh, double mergeTol);

// True when the mesh has inverted elements or faces shared by more than two
// elements: faults that make it unusable in a solver.
bool HasFaults(const QualityReport& report);

// One line: element counts, faults and the smallest scaled Jacobian.
std::string SummaryLine(const QualityReport& report);

// A small table per kind (count, smallest and mean scaled Jacobian), then the
// fault counts and the volume.
std::string ReportTable(const QualityReport& report);

// The faults in words, one per line, or "" when there are none.
std::string DescribeFaults(const QualityReport& report);

// The smallest corner Jacobian of an element (negative when inverted).
double MinCornerJacobian(const MemoryMesh& mesh, const MeshElement& element);

// The element's scaled Jacobian, as defined above.
double ScaledJacobian(const MemoryMesh& mesh, const MeshElement& element);

// The element's faces, each turning counter-clockwise seen from outside the
// element (node indices of the mesh; three or four corners).
std::vector<std::vector<int>> OutwardFaces(const MeshElement& element);

}  // namespace vela::quality
