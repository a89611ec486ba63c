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

// Replaces every candidate node (candidates[k] != 0) that lies within tol of
// an earlier kept candidate, per axis and closed, by that node; compacts the
// node rows 1..nodeCount in place, keeping their order, renumbers the element
// rows (0 entries stay 0) and returns the number of nodes kept. A node that
// is not a candidate is always kept and nothing merges into it. The flags are
// compacted with the nodes: afterwards candidates[k] marks kept node k.
int MergeCandidates(double (*nodes)[3], int nodeCount, int (*elements)[8], int elementCount,
                    unsigned char* candidates, double tol);

}  // namespace vela
