#include "mapper/node_merge.h"

#include "octree/octree.h"

#include <algorithm>
#include <vector>

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

int MergeCandidates(double (*nodes)[3], int nodeCount, int (*elements)[8], int elementCount,
                    unsigned char* candidates, double tol) {
  if (nodeCount < 1) return nodeCount;
  CVelaOctree tree;
  tree.InitOctree(nodeCount, nodes);
  std::vector<int> map(static_cast<size_t>(nodeCount) + 1, 0);
  int kept = 0;
  for (int k = 1; k <= nodeCount; ++k) {
    const double x = nodes[k][0], y = nodes[k][1], z = nodes[k][2];
    const unsigned char candidate = candidates[k];
    if (candidate != 0) {
      const int j = tree.FindPointInBox(x + tol, x - tol, y + tol, y - tol, z + tol, z - tol, nodes);
      if (j != 0) {
        map[static_cast<size_t>(k)] = j;
        continue;
      }
    }
    ++kept;
    map[static_cast<size_t>(k)] = kept;
    // kept <= k: rows already filed in the tree are never overwritten.
    nodes[kept][0] = x;
    nodes[kept][1] = y;
    nodes[kept][2] = z;
    candidates[kept] = candidate;
    if (candidate != 0) tree.InsertPoint(kept, nodes);
  }
  for (int e = 1; e <= elementCount; ++e)
    for (int& v : elements[e]) v = map[static_cast<size_t>(v)];
  return kept;
}

}  // namespace vela
