#pragma once

// Merging the junction-end nodes that neighbouring pieces of a junction each
// stored a copy of.

#include <vector>

namespace vela {

// The smallest radial gap between two rings of the largest cross-section of
// the junction: the largest of startRadius and every radius, times the
// inner share and the smallest inner-ring spacing (at most 1), or times the
// outer share and the smallest outer-layer spacing when that is smaller.
// Reads inner[0..innerCount] and, when outerCount > 0, outer[0..outerCount].
double MergeTolerance(double startRadius, const std::vector<double>& radii,
                      const std::vector<double>& inner, int innerCount,
                      const std::vector<double>& outer, int outerCount, double innerShare,
                      double outerShare);

// Joins every candidate node (candidates[k] != 0) that lies within tol of an
// earlier kept candidate, per axis and closed, to that node. Reads the swept
// rows (nodes 1..nodeCount, elements 1..elementCount) and writes the kept
// nodes in their order to keptNodes, with their flags, the element rows
// renumbered (0 entries stay 0) to keptElements, and for every swept node the
// kept node it became to map (1-based). Returns the number of nodes kept. A
// node that is not a candidate is always kept and nothing merges into it.
struct MergeTarget {
  double (*nodes)[3];
  int (*elements)[8];
  unsigned char* candidates;
  int* map;
};
int MergeCandidates(const double (*nodes)[3], int nodeCount, const int (*elements)[8], int elementCount,
                    const unsigned char* candidates, double tol, const MergeTarget& kept);

}  // namespace vela
