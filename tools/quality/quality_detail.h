#pragma once

// Pieces of the quality report shared between its files. Internal to vela_quality.

#include "quality.h"

#include <array>
#include <cmath>
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

// Pairs of finite nodes within tol of each other on every axis, counted in
// 64 bits in about linear time: exact duplicates are counted by multiplicity,
// distinct points are compared only with those of their own and the
// neighbouring cells of a grid at least tol wide.
FaultList FindCoincidentNodes(const std::vector<std::array<double, 3>>& nodes, double tol);

// Elements whose centroid lies strictly inside another element with which
// they share no node (neighbours that fold over each other show as inverted
// elements or faces shared in the same turn). Only elements
// marked usable (finite, positive, naming no node twice) are probed or probed
// against: the other classes already name the rest. Each element is taken as
// the tetrahedra from its centroid to its faces, a quadrilateral split at its
// own centroid, which neighbours sharing a face split alike, so a sound mesh
// tiles without overlap. Candidates come from a uniform grid of element
// boxes: linear on average.
FaultList FindOverlaps(const MemoryMesh& mesh, const std::vector<char>& usable);

}  // namespace vela::quality::detail
