#include "mapper/node_merge.h"

#include "octree/octree.h"

#include <algorithm>
#include <vector>

namespace vela {

double MergeTolerance(double startRadius, const CArray<double, double>& radii,
                      const CArray<double, double>& inner, int innerCount,
                      const CArray<double, double>& outer, int outerCount, double innerShare,
                      double outerShare) {
  double rMax = startRadius;
  for (int i = 0; i < radii.GetSize(); ++i) rMax = std::max(rMax, radii.GetAt(i));
  double innerGap = 1.0;
  for (int i = 1; i <= innerCount; ++i) innerGap = std::min(innerGap, inner.GetAt(i) - inner.GetAt(i - 1));
  const double tol = rMax * innerShare * innerGap;
  if (outerCount == 0) return tol;
  double outerGap = 1.0;
  for (int i = 1; i <= outerCount; ++i) outerGap = std::min(outerGap, outer.GetAt(i) - outer.GetAt(i - 1));
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
