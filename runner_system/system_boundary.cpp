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

// What the face search needs of an element: its corner count and nodes.
int CornersOf(const SystemElement& element) { return element.corners; }
const std::array<int, 8>& NodesOf(const SystemElement& element) { return element.nodes; }
int CornersOf(const Element& element) { return element.CornerCount(); }
const std::array<int, 8>& NodesOf(const Element& element) { return element.corners; }

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

namespace {

template <class ElementRow>
std::vector<BoundaryFace> BoundaryOf(const std::vector<ElementRow>& elements) {
  // Faces with the same corners share their smallest corner: a counting sort
  // by it, straight from the elements, then a sort within each small bucket,
  // brings them together.
  int nodes = 0;
  std::size_t count = 0;
  for (const ElementRow& element : elements) {
    for (int k = 0; k < CornersOf(element); ++k) nodes = std::max(nodes, NodesOf(element)[static_cast<std::size_t>(k)] + 1);
    count += FaceTable(CornersOf(element)).size();
  }
  std::vector<std::size_t> start(static_cast<std::size_t>(nodes) + 1, 0);
  auto smallestOf = [&](const ElementRow& element, const Corners& local) {
    int smallest = NodesOf(element)[static_cast<std::size_t>(local[0])];
    for (std::size_t k = 1; k < local.size(); ++k)
      smallest = std::min(smallest, NodesOf(element)[static_cast<std::size_t>(local[k])]);
    return smallest;
  };
  for (const ElementRow& element : elements)
    for (const Corners& local : FaceTable(CornersOf(element))) ++start[static_cast<std::size_t>(smallestOf(element, local)) + 1];
  for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
  std::vector<FaceRecord> sorted(count);
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  for (std::size_t e = 0; e < elements.size(); ++e) {
    const std::vector<Corners>& table = FaceTable(CornersOf(elements[e]));
    for (std::size_t f = 0; f < table.size(); ++f) {
      FaceRecord record{{0, 0, 0, std::numeric_limits<int>::max()}, e, static_cast<std::uint8_t>(f)};
      for (std::size_t k = 0; k < table[f].size(); ++k)
        record.key[k] = NodesOf(elements[e])[static_cast<std::size_t>(table[f][k])];
      std::sort(record.key.begin(), record.key.end());
      sorted[fill[static_cast<std::size_t>(record.key[0])]++] = record;
    }
  }
  // The faces found once, as a mask of face numbers per element, so that
  // they come out in element order without a sort.
  std::vector<std::uint8_t> once(elements.size(), 0);
  std::size_t onceCount = 0;
  for (std::size_t bucket = 0; bucket + 1 < start.size(); ++bucket) {
    const auto first = sorted.begin() + static_cast<std::ptrdiff_t>(start[bucket]);
    const auto last = sorted.begin() + static_cast<std::ptrdiff_t>(start[bucket + 1]);
    std::sort(first, last, KeyLess);
    for (auto i = first; i != last;) {
      auto j = i + 1;
      while (j != last && !KeyLess(*i, *j)) ++j;
      if (j == i + 1) {
        once[i->element] = static_cast<std::uint8_t>(once[i->element] | (1u << i->face));
        ++onceCount;
      }
      i = j;
    }
  }
  std::vector<BoundaryFace> boundary;
  boundary.reserve(onceCount);
  for (std::size_t element = 0; element < elements.size(); ++element) {
    if (once[element] == 0) continue;
    const std::vector<Corners>& table = FaceTable(CornersOf(elements[element]));
    for (std::size_t face = 0; face < table.size(); ++face) {
      if (!(once[element] & (1u << face))) continue;
      const Corners& local = table[face];
      BoundaryFace row;
      row.corners = static_cast<int>(local.size());
      row.nodes.fill(-1);
      for (std::size_t k = 0; k < local.size(); ++k)
        row.nodes[k] = NodesOf(elements[element])[static_cast<std::size_t>(local[k])];
      boundary.push_back(row);
    }
  }
  return boundary;
}

}  // namespace

std::vector<BoundaryFace> BoundaryFaceRows(const std::vector<SystemElement>& elements) { return BoundaryOf(elements); }
std::vector<BoundaryFace> BoundaryFaceRows(const std::vector<Element>& elements) { return BoundaryOf(elements); }

std::vector<Corners> BoundaryFaces(const std::vector<SystemElement>& elements) {
  std::vector<Corners> faces;
  for (const BoundaryFace& row : BoundaryOf(elements)) faces.emplace_back(row.nodes.begin(), row.nodes.begin() + row.corners);
  return faces;
}

std::vector<BoundaryFace> FindBoundary(const std::vector<BoundaryFace>& regionFaces,
                                       const std::vector<std::vector<int>>& endNodes, std::size_t nodeCount,
                                       const std::vector<int>* sectionOf) {
  std::vector<int> patchOfNode(nodeCount, 0);
  for (std::size_t patch = 0; patch < endNodes.size(); ++patch)
    for (int node : endNodes[patch]) patchOfNode[static_cast<std::size_t>(node)] = static_cast<int>(patch) + 1;
  auto patchOf = [&](const BoundaryFace& face) {
    const int first = patchOfNode[static_cast<std::size_t>(face.nodes[0])];
    for (int k = 1; k < face.corners; ++k)
      if (patchOfNode[static_cast<std::size_t>(face.nodes[static_cast<std::size_t>(k)])] != first) return 0;
    return first;
  };
  // Only a face whose every corner lies on a section that two regions share
  // can be found twice: every other node belongs to one region, whose own
  // faces are each found once. So where the caller knows those nodes, only
  // such faces are sorted to find the pairs, and only against the faces of
  // the same section (that of their smallest corner), a few hundred at a
  // time.
  using Keyed = std::pair<std::array<int, 4>, std::size_t>;
  auto keyOf = [&](std::size_t i) {
    const BoundaryFace& face = regionFaces[i];
    Keyed row{{0, 0, 0, std::numeric_limits<int>::max()}, i};
    std::copy(face.nodes.begin(), face.nodes.begin() + face.corners, row.first.begin());
    std::sort(row.first.begin(), row.first.end());
    return row;
  };
  std::vector<Keyed> keyed;
  std::vector<std::size_t> groupStart{0, 0};
  if (sectionOf != nullptr) {
    int sections = 0;
    for (const int section : *sectionOf) sections = std::max(sections, section + 1);
    std::vector<std::size_t> count(static_cast<std::size_t>(sections) + 1, 0);
    std::vector<int> groupOf(regionFaces.size(), -1);
    for (std::size_t i = 0; i < regionFaces.size(); ++i) {
      const BoundaryFace& face = regionFaces[i];
      int smallest = std::numeric_limits<int>::max();
      bool onSections = true;
      for (int k = 0; k < face.corners && onSections; ++k) {
        const int node = face.nodes[static_cast<std::size_t>(k)];
        onSections = (*sectionOf)[static_cast<std::size_t>(node)] >= 0;
        smallest = std::min(smallest, node);
      }
      if (!onSections) continue;
      groupOf[i] = (*sectionOf)[static_cast<std::size_t>(smallest)];
      ++count[static_cast<std::size_t>(groupOf[i]) + 1];
    }
    for (std::size_t g = 1; g < count.size(); ++g) count[g] += count[g - 1];
    groupStart = count;
    keyed.resize(count.back());
    for (std::size_t i = 0; i < regionFaces.size(); ++i)
      if (groupOf[i] >= 0) keyed[count[static_cast<std::size_t>(groupOf[i])]++] = keyOf(i);
  } else {
    keyed.reserve(regionFaces.size());
    for (std::size_t i = 0; i < regionFaces.size(); ++i) keyed.push_back(keyOf(i));
    groupStart = {0, keyed.size()};
  }
  std::vector<char> inside(regionFaces.size(), 0);
  for (std::size_t g = 0; g + 1 < groupStart.size(); ++g) {
    const auto first = keyed.begin() + static_cast<std::ptrdiff_t>(groupStart[g]);
    const auto last = keyed.begin() + static_cast<std::ptrdiff_t>(groupStart[g + 1]);
    std::sort(first, last);
    for (auto i = first; i != last;) {
      auto j = i + 1;
      while (j != last && j->first == i->first) ++j;
      if (j > i + 1)
        for (auto k = i; k != j; ++k) inside[k->second] = 1;
      i = j;
    }
  }
  // Grouped by patch, the wall first, as the files keep them; within a
  // patch in the order the regions gave them.
  std::vector<BoundaryFace> faces;
  std::vector<std::size_t> perPatch(endNodes.size() + 1, 0);
  for (std::size_t i = 0; i < regionFaces.size(); ++i)
    if (!inside[i]) ++perPatch[static_cast<std::size_t>(patchOf(regionFaces[i]))];
  std::vector<std::size_t> at(perPatch.size(), 0);
  for (std::size_t p = 1; p < perPatch.size(); ++p) at[p] = at[p - 1] + perPatch[p - 1];
  faces.resize(at.back() + perPatch.back());
  for (std::size_t i = 0; i < regionFaces.size(); ++i) {
    if (inside[i]) continue;
    BoundaryFace row = regionFaces[i];
    row.patch = patchOf(row);
    faces[at[static_cast<std::size_t>(row.patch)]++] = row;
  }
  return faces;
}

std::vector<BoundaryFace> FindBoundary(const std::vector<Corners>& regionFaces,
                                       const std::vector<std::vector<int>>& endNodes) {
  std::vector<BoundaryFace> rows;
  rows.reserve(regionFaces.size());
  std::size_t nodeCount = 0;
  for (const Corners& face : regionFaces) {
    BoundaryFace row;
    row.corners = static_cast<int>(face.size());
    row.nodes.fill(-1);
    std::copy(face.begin(), face.end(), row.nodes.begin());
    for (const int node : face) nodeCount = std::max(nodeCount, static_cast<std::size_t>(node) + 1);
    rows.push_back(row);
  }
  for (const std::vector<int>& nodes : endNodes)
    for (const int node : nodes) nodeCount = std::max(nodeCount, static_cast<std::size_t>(node) + 1);
  return FindBoundary(rows, endNodes, nodeCount);
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
