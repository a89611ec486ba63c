#pragma once

// Pieces of the quality report shared between its files. Internal to vela_quality.

#include "parallel.h"
#include "quality.h"
#include "vec.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vela::quality::detail {

inline bool IsFinite(const std::array<double, 3>& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

// An element's faces in corner numbers, each counter-clockwise seen from
// outside; `size` is 3 or 4.
struct LocalFace {
  int size;
  std::array<int, 4> corners;
};
struct FaceTable {
  int count;
  std::array<LocalFace, 6> faces;
};
const FaceTable& LocalFaces(ElementKind kind);

// Counts index into the list and names it while the list has room.
void Note(FaultList& list, int index);

// Names the smallest few of the elements involved in a class that counts
// faces, edges or pieces (duplicates dropped).
void NameSmallest(FaultList& list, std::vector<int> elements);

// A face that only one element uses: its nodes in that element's outward
// turn, from the smallest; face is its number in the element's LocalFaces.
struct BoundaryFace {
  int size;
  std::array<int, 4> nodes;
  int element;
  std::uint8_t face = 0;
};

// A face two elements share, running round it in opposite turns: its nodes
// in the owner's outward turn, from the smallest, and its number in each
// element's LocalFaces. The owner is the smaller element.
struct InternalFace {
  int size;
  std::array<int, 4> nodes;
  int owner;
  int neighbour;
  std::uint8_t ownerFace;
  std::uint8_t neighbourFace;
};

// Most faces an element has.
constexpr size_t kMostFaces = 6;

// The faces of the mesh as a finite-volume solver takes them: between two
// cells, or on the boundary, each list in the order of the faces' sorted
// corners. A face shared the wrong way (by three, or in the same turn) is
// neither: it is a fault of its own.
struct FaceSharing {
  std::vector<BoundaryFace> boundary;
  UnsetVector<InternalFace> internal;
  // kMostFaces entries per element, one per face in LocalFaces order: the
  // face it is, numbered internal faces first (i < internal.size()), then
  // boundary faces (internal.size() + b); -1 where it is neither.
  UnsetVector<int> cellFaces;
};

// What follows from how the elements share their faces: faces shared by
// three or more, faces shared in the same turn, open boundary edges, hanging
// faces and disconnected pieces, written into the report. Elements with
// hasFaces[i] == 0 (collapsed ones: their faces mean nothing) take no part.
// Returns the boundary and the internal faces. The faces are matched on
// `threads` threads; the same on any number.
FaceSharing CheckFaces(const MemoryMesh& mesh, const std::vector<char>& hasFaces, QualityReport& report,
                       int threads = 1);

// The sums a cell's determinant is taken from, one internal face's area
// vector at a time (finite_volume.h, CellDeterminant).
struct DeterminantSums {
  double tensor[6] = {};  // the sum of A A^T: xx, xy, xz, yy, yz, zz
  double lengths = 0.0;   // the sum of |A|
  int count = 0;
  void Add(const Vec& area);
  double Value() const;
};

// The finite-volume measures of the cells marked judged (faces matched,
// nodes finite) and of their faces, into report.finiteVolume, and the cells
// and faces beyond report.limits counted as faults: small determinant, small
// interpolation weight, severe non-orthogonality, high skewness. Face classes
// count faces and name their cells.
// Taken on `threads` threads; the same on any number.
void MeasureFiniteVolume(const MemoryMesh& mesh, const std::vector<char>& judged, const FaceSharing& sharing,
                         QualityReport& report, int threads = 1);

// Pairs of finite nodes within tol of each other on every axis, counted in
// 64 bits in about linear time: exact duplicates are counted by multiplicity,
// distinct points are compared only with those of their own and the
// neighbouring cells of a grid at least tol wide.
// The nodes' cells are found on `threads` threads; the same on any number.
FaultList FindCoincidentNodes(const std::vector<std::array<double, 3>>& nodes, double tol, int threads = 1);

// What the overlap and crossing tests may leave out, from where the elements
// came from (region_focus.cpp): elements with needed[i] == 0, and pairs
// within one layered sweep. Empty vectors leave out nothing.
struct Focus {
  std::vector<char> needed;  // per element
  std::vector<int> sweep;    // per element: its layered sweep's region, or -1

  bool Needed(size_t element) const { return needed.empty() || needed[element]; }
  bool SameSweep(int a, int b) const {
    if (sweep.empty()) return false;
    const int s = sweep[static_cast<size_t>(a)];
    return s >= 0 && s == sweep[static_cast<size_t>(b)];
  }
};

// Throws std::invalid_argument unless regions names a region for every
// element of the mesh, each one of regions.layered's.
void CheckRegions(const MemoryMesh& mesh, const Regions& regions);

// The focus of regions that CheckRegions accepts: every element of a region
// that is not layered, and each element of a layered one whose box meets
// another region's box. The boxes are gathered on `threads` threads; the
// focus is the same on any number.
Focus FocusOf(const MemoryMesh& mesh, const Regions& regions, int threads = 1);

// Elements with a sample point (the centroid, and the centroid pulled half
// way to each corner) strictly inside another element. Only elements marked
// usable (finite, positive, naming no node twice) are probed or probed
// against: the other classes already name the rest. Each element is taken as
// the tetrahedra from its centroid to its faces, a quadrilateral fanned from
// its own centre, which neighbours sharing a face split alike, so a sound
// mesh tiles without overlap; an element so twisted that its centroid sees
// one of its faces from behind has no such tiling and sits the test out.
// Candidates come from a DirectionGrid: linear on average. The elements are
// probed on `threads` threads. Elements and pairs the focus leaves out are
// neither probed nor probed against.
FaultList FindOverlaps(const MemoryMesh& mesh, const std::vector<char>& usable, int threads = 1,
                       const Focus& focus = {});

// Boundary faces, finite ones only, that pass through a boundary face
// sharing no node with them, however shallow the cut: branches run into each
// other cut through each other's walls before any sample point of one lies
// inside the other. Counts faces; names the smallest elements of the faces.
// The faces of elements the focus leaves out, and pairs of faces it leaves
// out, are not tested.
FaultList FindCrossingFaces(const MemoryMesh& mesh, const std::vector<BoundaryFace>& boundary, int threads = 1,
                            const Focus& focus = {});

}  // namespace vela::quality::detail
