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
// hexahedron, over its centre's principal axes), kept within [-1, 1] so that
// the mirror image of the ideal element scores -1. The tetrahedron divides
// by the largest product of edge lengths at any of its corners; the pyramid
// is cut by its base's two diagonals into four tetrahedra with the apex, and
// scores sqrt(2) times the smallest of theirs, folded back below 1 by as much
// as it overshoots (Verdict reports 0 for an inverted pyramid; the sign is
// kept here).
//
// Every fault class below makes a mesh unfit for a solver; the report counts
// each and names the first few elements (or nodes) by 0-based index, the
// numbering ParaView shows. A junction is one solid: pieces that share no
// face with the rest are a fault too.
//
// A sound mesh can still be one a solver rejects or struggles with. Given
// limits, the report also counts what lies beyond them: sound elements whose
// scaled Jacobian is under a floor, and the cells and faces that OpenFOAM's
// checkMesh would flag, measured as it measures them (finite_volume.h): the
// cell determinant, the face interpolation weight, non-orthogonality and
// skewness. The measures themselves are taken either way.
//
// Overlap is judged among the elements that pass the element checks (finite,
// no node twice, positive corners), and each element is taken as the
// tetrahedra from its centroid to its faces, a quadrilateral fanned from its
// centre; an element so twisted that its centroid sees one of its faces from
// behind has no such tiling and sits the overlap test out. The boundary's
// own crossings catch branches that run into each other however shallow the
// cut. Both checks find their candidates through a grid fitted to long thin
// elements (direction_grid.h): linear in the mesh on average.

#include "memory_mesh.h"

#include <array>
#include <string>
#include <vector>

namespace vela::quality {

struct KindStats {
  int count = 0;
  double minScaledJacobian = 0.0;   // over the elements of the kind; 0 when there are none
  double meanScaledJacobian = 0.0;
};

enum class Fault {
  Inverted,        // an element with a corner Jacobian below zero beyond rounding
  Collapsed,       // an element naming one node twice
  Flat,            // an element whose smallest corner Jacobian is zero within rounding
  OverSharedFace,  // a face used by three or more elements
  SameTurnFace,    // a face of two elements that run round it the same way
  OpenBoundary,    // a boundary edge not closed by exactly one other boundary face running back
  NonFiniteNode,   // a node with a coordinate that is not finite
  CoincidentNodes, // two distinct nodes within the tolerance of each other on every axis
  Overlap,         // an element with a sample point (centroid, or half way from it to a corner) inside another
  HangingFace,     // a boundary quadrilateral covered by two boundary triangles on its diagonal
  CrossingFaces,   // a boundary face passing through another boundary face that shares no node with it
  Disconnected,    // a piece beyond the first: elements joined through faces to each other, not to the rest
  // Beyond the limits (Limits below); none counted without them.
  PoorCell,          // a sound element whose scaled Jacobian is under the floor
  SmallDeterminant,  // a cell whose determinant is under the limit
  SmallWeight,       // an internal face whose interpolation weight is under the limit
  NonOrthogonal,     // an internal face non-orthogonal beyond the limit
  Skewed,            // a face, internal or on the boundary, skew beyond the limit
  FaceTets,          // a face whose split into tetrahedra about the cell centres turns one over
  Count              // number of classes; not a fault
};

// Where a cell or face stops being fit for a solver. The defaults are
// checkMesh's thresholds, and a scaled-Jacobian floor under which an element
// is too distorted to trust. An infinite limit judges nothing.
struct Limits {
  double minScaledJacobian = 0.2;
  double minDeterminant = 0.001;
  double minWeight = 0.05;
  double maxNonOrthogonality = 70.0;  // degrees
  double maxSkewness = 4.0;
  // The least a face's tetrahedron may measure, as a solver splits the
  // cells on its two sides (FaceTetsUpright): its signed volume over the
  // cube of its longest edge. checkMesh's bound is all but 0.
  double minFaceTet = 0.0;

  // Limits that count nothing: the mesh's soundness alone.
  static Limits None();
};

// The finite-volume measures over the cells whose faces could be matched and
// whose nodes are finite (finite_volume.h). A mesh without such cells or
// faces keeps the values of the ideal mesh.
struct FiniteVolumeMeasures {
  long long cells = 0;
  long long internalFaces = 0;       // between two such cells
  double minDeterminant = 1.0;
  double minWeight = 0.5;
  double maxNonOrthogonality = 0.0;  // degrees, over the internal faces
  double maxSkewness = 0.0;          // over the internal and the boundary faces
};

constexpr int kFaultClasses = static_cast<int>(Fault::Count);
// How many elements (or nodes) a fault class names.
constexpr size_t kNamedPerFault = 5;

// What the indices of a fault class's list refer to.
enum class Named { Elements, Nodes, NodePairs };

struct FaultList {
  long long count = 0;
  // The smallest indices involved, at most kNamedPerFault of them (pairs for
  // NodePairs: two entries each, in discovery order).
  std::vector<int> named;
};

struct QualityReport {
  int nodes = 0;
  int elements = 0;
  // Indexed by kind: tetra, pyramid, prism, hexa. Elements with a node that
  // is not finite take no part.
  std::array<KindStats, 4> byKind{};
  std::array<FaultList, kFaultClasses> faults{};
  double mergeTol = 0.0;
  // Sum of the signed volumes of the elements whose nodes are all finite.
  double volume = 0.0;
  // One value per element, in element order; NaN for an element with a node
  // that is not finite.
  std::vector<double> scaledJacobian;
  // The limits the report was made with, and the finite-volume measures.
  Limits limits = Limits::None();
  FiniteVolumeMeasures finiteVolume;

  const FaultList& operator[](Fault f) const { return faults[static_cast<size_t>(f)]; }
  long long Count(Fault f) const { return (*this)[f].count; }
};

// Index of a kind in QualityReport::byKind.
int KindIndex(ElementKind kind);

// The report of a mesh. Two nodes are coincident when they lie within
// mergeTol of each other on every axis (mergeTol >= 0). Without limits the
// report judges the mesh's soundness alone, what the library promises of
// every mesh it hands over; the tool judges with Limits{} or the user's.
// Node indices must lie within the mesh (MemoryMesh guarantees it for what
// the library writes); throws std::invalid_argument otherwise, for a
// negative or non-finite mergeTol, or for a limit that is not a number.
// The element checks, the overlap test and the boundary's crossings run on
// `threads` threads (0: the hardware's count); the report does not depend
// on how many.
QualityReport Assess(const MemoryMesh& mesh, double mergeTol, const Limits& limits = Limits::None(),
                     int threads = 1);

// Where the elements of a mesh came from, as the program that built it knows:
// the region of each element, and for each region whether it is a layered
// sweep, a straight run of layers with each node above its twin in the layer
// below (a runner between two junctions).
struct Regions {
  std::vector<int> ofElement;
  std::vector<char> layered;
};

// The report of a mesh whose regions are known: the same verdict, found
// sooner. Two elements of one layered sweep overlap, or two of its wall
// faces cross, only where a layer folds back over the one below, and the
// fold turns corners inside out, which the element checks count; so those
// pairs are not tested, nor the elements of a sweep whose box meets no other
// region's. A runner system spends most of the overlap test inside its long
// runners otherwise. Throws std::invalid_argument, besides as above, unless
// every element has a region of regions.layered.
QualityReport Assess(const MemoryMesh& mesh, double mergeTol, const Limits& limits, int threads,
                     const Regions& regions);

// The tolerance the tool takes for "the same point" when none is given: a
// millionth of the diagonal of the finite nodes' bounding box. The library's
// merge tolerance would be too coarse: it is a share of the ring spacing, and
// the nodes along a fine outer ring lie closer together than that.
double DefaultTolerance(const MemoryMesh& mesh);

// True when any fault class counts anything.
bool HasFaults(const QualityReport& report);

// The smallest scaled Jacobian of the elements that have one, 1 when none
// has: the summary line, the tool's tables and the quality JSON all quote
// this one number, so a mesh scores the same wherever it is read.
double SmallestScaledJacobian(const QualityReport& report);

// The fault class in words, as the report's lines name it: "inverted elements".
const char* FaultName(Fault fault);

// The limit a class is judged by, in words, as the report's lines add it to
// the name: "scaled Jacobian under 0.2"; "" for the classes of soundness, or
// for a class the report's limits leave unjudged.
std::string LimitText(const QualityReport& report, Fault fault);

// What a fault class's index list holds.
Named NamedKind(Fault fault);

// One line: faults (or "no faults"), the smallest scaled Jacobian, the
// finite-volume measures, the volume.
std::string SummaryLine(const QualityReport& report);

// A small table per kind (count, smallest and mean scaled Jacobian), then the
// finite-volume measures, the count of every fault class (with its limit)
// and the volume.
std::string ReportTable(const QualityReport& report);

// One line per fault class that counts anything, "" when there are none:
//   inverted elements 3: 17, 18, 240
//   faces shared by 3+ elements 1: elements 4, 5, 9
//   coincident node pairs 2: nodes 3-9, 4-10
//   poor cells 2 (scaled Jacobian under 0.2): 40, 41
std::string DescribeFaults(const QualityReport& report);

// The smallest corner Jacobian of an element (negative when inverted).
double MinCornerJacobian(const MemoryMesh& mesh, const MeshElement& element);

// The element's scaled Jacobian, as defined above; of an element of the
// given nodes, for a caller that holds them outside a MemoryMesh.
double ScaledJacobian(const MemoryMesh& mesh, const MeshElement& element);
double ScaledJacobian(const std::vector<std::array<double, 3>>& nodes, const MeshElement& element);

// The element's faces, each turning counter-clockwise seen from outside the
// element (node indices of the mesh; three or four corners).
std::vector<std::vector<int>> OutwardFaces(const MeshElement& element);

}  // namespace vela::quality
