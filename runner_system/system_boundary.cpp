// Faces of elements, the boundary of a mesh and its patches, and the
// orientation of the elements the runner sweeps add.

#include "system_detail.h"

#include <algorithm>
#include <cstdint>
#include <limits>
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

// A face found on an element: its corners sorted (the key; a triangle's
// fourth is INT_MAX), and where it came from.
struct FaceRecord {
  std::array<int, 4> key;
  std::size_t element;
  std::uint8_t face;
};

std::vector<FaceRecord> AllFaces(const std::vector<SystemElement>& elements) {
  std::vector<FaceRecord> records;
  records.reserve(elements.size() * 6);
  for (std::size_t e = 0; e < elements.size(); ++e) {
    const std::vector<Corners>& table = FaceTable(elements[e].corners);
    for (std::size_t f = 0; f < table.size(); ++f) {
      FaceRecord record{{0, 0, 0, std::numeric_limits<int>::max()}, e, static_cast<std::uint8_t>(f)};
      for (std::size_t k = 0; k < table[f].size(); ++k)
        record.key[k] = elements[e].nodes[static_cast<std::size_t>(table[f][k])];
      std::sort(record.key.begin(), record.key.end());
      records.push_back(record);
    }
  }
  return records;
}

bool KeyLess(const FaceRecord& a, const FaceRecord& b) {
  for (std::size_t k = 0; k < 4; ++k)
    if (a.key[k] != b.key[k]) return a.key[k] < b.key[k];
  return false;
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
  const std::vector<FaceRecord> records = AllFaces(elements);
  // Faces with the same corners share their smallest corner: a counting sort
  // by it, then a sort within each small bucket, brings them together.
  int nodes = 0;
  for (const FaceRecord& record : records) nodes = std::max(nodes, record.key[0] + 1);
  std::vector<std::size_t> start(static_cast<std::size_t>(nodes) + 1, 0);
  for (const FaceRecord& record : records) ++start[static_cast<std::size_t>(record.key[0]) + 1];
  for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
  std::vector<FaceRecord> sorted(records.size());
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for (const FaceRecord& record : records) sorted[fill[static_cast<std::size_t>(record.key[0])]++] = record;
  std::vector<std::pair<std::size_t, std::uint8_t>> once;
  for (std::size_t bucket = 0; bucket + 1 < start.size(); ++bucket) {
    const auto first = sorted.begin() + static_cast<std::ptrdiff_t>(start[bucket]);
    const auto last = sorted.begin() + static_cast<std::ptrdiff_t>(start[bucket + 1]);
    std::sort(first, last, KeyLess);
    for (auto i = first; i != last;) {
      auto j = i + 1;
      while (j != last && !KeyLess(*i, *j)) ++j;
      if (j == i + 1) once.emplace_back(i->element, i->face);
      i = j;
    }
  }
  // In element order, as the elements came.
  std::sort(once.begin(), once.end());
  std::vector<Corners> boundary;
  boundary.reserve(once.size());
  for (const auto& [element, face] : once) {
    Corners corners;
    for (int k : FaceTable(elements[element].corners)[face])
      corners.push_back(elements[element].nodes[static_cast<std::size_t>(k)]);
    boundary.push_back(std::move(corners));
  }
  return boundary;
}

std::vector<BoundaryFace> FindBoundary(const std::vector<Corners>& regionFaces,
                                       const std::vector<std::vector<int>>& endNodes) {
  std::unordered_map<int, int> patchOfNode;
  for (std::size_t patch = 0; patch < endNodes.size(); ++patch)
    for (int node : endNodes[patch]) patchOfNode[node] = static_cast<int>(patch) + 1;
  auto patchOf = [&](const Corners& face) {
    const auto first = patchOfNode.find(face[0]);
    if (first == patchOfNode.end()) return 0;
    const bool onEnd = std::all_of(face.begin(), face.end(), [&](int node) {
      const auto found = patchOfNode.find(node);
      return found != patchOfNode.end() && found->second == first->second;
    });
    return onEnd ? first->second : 0;
  };
  std::vector<std::pair<std::array<int, 4>, std::size_t>> keyed;
  keyed.reserve(regionFaces.size());
  for (std::size_t i = 0; i < regionFaces.size(); ++i) {
    std::array<int, 4> key{0, 0, 0, std::numeric_limits<int>::max()};
    std::copy(regionFaces[i].begin(), regionFaces[i].end(), key.begin());
    std::sort(key.begin(), key.end());
    keyed.emplace_back(key, i);
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::size_t> once;
  for (std::size_t i = 0; i < keyed.size();) {
    std::size_t j = i + 1;
    while (j < keyed.size() && keyed[j].first == keyed[i].first) ++j;
    if (j == i + 1) once.push_back(keyed[i].second);
    i = j;
  }
  std::sort(once.begin(), once.end());
  std::vector<BoundaryFace> faces;
  faces.reserve(once.size());
  for (std::size_t i : once) {
    const Corners& face = regionFaces[i];
    BoundaryFace row;
    row.corners = static_cast<int>(face.size());
    row.nodes.fill(-1);
    std::copy(face.begin(), face.end(), row.nodes.begin());
    row.patch = patchOf(face);
    faces.push_back(row);
  }
  // Grouped by patch, the wall first, as the files keep them.
  std::stable_sort(faces.begin(), faces.end(),
                   [](const BoundaryFace& a, const BoundaryFace& b) { return a.patch < b.patch; });
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
