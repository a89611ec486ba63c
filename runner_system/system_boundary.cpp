// Faces of elements, the boundary of a mesh and its patches, and the
// orientation of the elements the runner sweeps add.

#include "system_detail.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace vela::system::detail {
namespace {

using Corners = std::vector<int>;

// Outward faces by corner position, in the library's corner order: the base
// turns counter-clockwise seen from the apex or from the second section, so
// it faces outward read backwards.
const std::vector<Corners>& FaceTable(int corners) {
  static const std::vector<Corners> tetra{{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}};
  static const std::vector<Corners> pyramid{{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
  static const std::vector<Corners> prism{{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}};
  static const std::vector<Corners> hexa{{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                         {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  switch (corners) {
    case 4: return tetra;
    case 5: return pyramid;
    case 6: return prism;
    default: return hexa;
  }
}

// For each corner of a prism and a hexahedron, its three neighbours in the
// order that makes the corner's edge determinant positive.
const std::vector<std::array<int, 4>>& CornerTable(int corners) {
  static const std::vector<std::array<int, 4>> prism{{0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5},
                                                     {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}};
  static const std::vector<std::array<int, 4>> hexa{{0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6},
                                                    {3, 0, 2, 7}, {4, 7, 5, 0}, {5, 4, 6, 1},
                                                    {6, 5, 7, 2}, {7, 6, 4, 3}};
  return corners == 6 ? prism : hexa;
}

Corners SortedKey(Corners face) {
  std::sort(face.begin(), face.end());
  return face;
}

}  // namespace

std::vector<Corners> OutwardFaces(const SystemElement& element) {
  std::vector<Corners> faces;
  for (const Corners& local : FaceTable(element.corners)) {
    Corners face;
    for (int k : local) face.push_back(element.nodes[static_cast<std::size_t>(k)]);
    faces.push_back(face);
  }
  return faces;
}

std::vector<Corners> BoundaryFaces(const std::vector<SystemElement>& elements) {
  std::map<Corners, std::pair<int, Corners>> seen;
  std::vector<Corners> order;
  for (const SystemElement& element : elements)
    for (Corners& face : OutwardFaces(element)) {
      auto [it, added] = seen.try_emplace(SortedKey(face), 0, face);
      if (added) order.push_back(it->first);
      ++it->second.first;
    }
  std::vector<Corners> boundary;
  for (const Corners& key : order) {
    const auto& [uses, face] = seen.at(key);
    if (uses == 1) boundary.push_back(face);
  }
  return boundary;
}

std::vector<BoundaryFace> FindBoundary(const SystemMesh& mesh, const std::vector<std::vector<int>>& endNodes) {
  std::unordered_map<int, int> patchOfNode;
  for (std::size_t patch = 0; patch < endNodes.size(); ++patch)
    for (int node : endNodes[patch]) patchOfNode[node] = static_cast<int>(patch) + 1;
  std::vector<BoundaryFace> faces;
  for (const Corners& face : BoundaryFaces(mesh.elements)) {
    BoundaryFace row;
    row.corners = static_cast<int>(face.size());
    row.nodes.fill(-1);
    std::copy(face.begin(), face.end(), row.nodes.begin());
    const auto first = patchOfNode.find(face[0]);
    const bool onEnd = first != patchOfNode.end() &&
                       std::all_of(face.begin(), face.end(), [&](int node) {
                         const auto found = patchOfNode.find(node);
                         return found != patchOfNode.end() && found->second == first->second;
                       });
    row.patch = onEnd ? first->second : 0;
    faces.push_back(row);
  }
  return faces;
}

bool AllPositive(const SystemMesh& mesh, std::size_t first) {
  for (std::size_t e = first; e < mesh.elements.size(); ++e) {
    const SystemElement& element = mesh.elements[e];
    auto at = [&](int k) { return mesh.nodes[static_cast<std::size_t>(element.nodes[static_cast<std::size_t>(k)])]; };
    for (const auto& corner : CornerTable(element.corners)) {
      const Vec3 a = Sub(at(corner[1]), at(corner[0]));
      const Vec3 b = Sub(at(corner[2]), at(corner[0]));
      const Vec3 c = Sub(at(corner[3]), at(corner[0]));
      const double det = Dot(a, Cross(b, c));
      if (!(det > 1e-9 * Norm(a) * Norm(b) * Norm(c))) return false;
    }
  }
  return true;
}

}  // namespace vela::system::detail
