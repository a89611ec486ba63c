#include "mapper/node_merge.h"

#include "octree/octree.h"

#include <algorithm>

namespace vela {

double MergeTolerance(double startRadius, const std::vector<double>& radii,
                      const std::vector<double>& inner, int innerCount,
                      const std::vector<double>& outer, int outerCount, double innerShare,
                      double outerShare) {
  double rMax = startRadius;
  for (double r : radii) rMax = std::max(rMax, r);
  // The smallest gap between neighbouring positions, 1 at most.
  auto smallestGap = [](const std::vector<double>& positions, int count) {
    double gap = 1.0;
    for (size_t i = 1; i <= static_cast<size_t>(count); ++i) gap = std::min(gap, positions[i] - positions[i - 1]);
    return gap;
  };
  const double tol = rMax * innerShare * smallestGap(inner, innerCount);
  if (outerCount == 0) return tol;
  const double outerGap = smallestGap(outer, outerCount);
  return std::min(tol, rMax * outerShare * outerGap);
}

int MergeCandidates(const double (*nodes)[3], int nodeCount, const int (*elements)[8], int elementCount,
                    const unsigned char* candidates, double tol, const MergeTarget& out) {
  if (nodeCount < 1) return 0;
  // The tree's box spans every swept node; it files kept nodes by their rows
  // in the target.
  CVelaOctree tree;
  tree.InitOctree(nodeCount, nodes);
  int* map = out.map;
  int kept = 0;
  for (int k = 1; k <= nodeCount; ++k) {
    const double x = nodes[k][0], y = nodes[k][1], z = nodes[k][2];
    const unsigned char candidate = candidates[k];
    if (candidate != 0) {
      const int j = tree.FindPointInBox(x + tol, x - tol, y + tol, y - tol, z + tol, z - tol, out.nodes);
      if (j != 0) {
        map[k] = j;
        continue;
      }
    }
    ++kept;
    map[k] = kept;
    out.nodes[kept][0] = x;
    out.nodes[kept][1] = y;
    out.nodes[kept][2] = z;
    out.candidates[kept] = candidate;
    if (candidate != 0) tree.InsertPoint(kept, out.nodes);
  }
  map[0] = 0;  // the trailing zeros of an element row
  for (int e = 1; e <= elementCount; ++e)
    for (int c = 0; c < 8; ++c) out.elements[e][c] = map[elements[e][c]];
  return kept;
}

}  // namespace vela
