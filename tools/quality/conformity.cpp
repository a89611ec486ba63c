// How the elements fit together through their faces: faces shared by three
// or more, faces shared in the same turn, the boundary's closure, hanging
// faces and pieces that share no face with the rest. All of it follows from
// matching the elements' faces by their corners, sorted once.

#include "quality_detail.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace vela::quality::detail {

namespace {

// One face of one element: its corners sorted (the key shared by every element
// that uses the face, -1 after a triangle's three) and in the element's turn
// from the smallest corner.
struct FaceUse {
  std::array<int, 4> key;
  std::array<int, 4> cycle;
  int size;
  int element;
};

FaceUse MakeFaceUse(const MeshElement& e, const LocalFace& local, int element) {
  FaceUse f{{-1, -1, -1, -1}, {-1, -1, -1, -1}, local.size, element};
  int start = 0;
  for (int i = 0; i < f.size; ++i) {
    f.key[static_cast<size_t>(i)] = e.nodes[static_cast<size_t>(local.corners[static_cast<size_t>(i)])];
    if (f.key[static_cast<size_t>(i)] < f.key[static_cast<size_t>(start)]) start = i;
  }
  for (int i = 0; i < f.size; ++i) f.cycle[static_cast<size_t>(i)] = f.key[static_cast<size_t>((start + i) % f.size)];
  std::sort(f.key.begin(), f.key.begin() + f.size);
  return f;
}

// Compared field by field: std::array's operators go through memcmp, which
// costs more than the comparisons themselves on keys this short.
bool SameKey(const FaceUse& a, const FaceUse& b) {
  return a.key[0] == b.key[0] && a.key[1] == b.key[1] && a.key[2] == b.key[2] && a.key[3] == b.key[3];
}
bool UseBefore(const FaceUse& a, const FaceUse& b) {
  for (size_t i = 0; i < 4; ++i)
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i];
  return a.element < b.element;
}

// Two uses of the same corners that run round them in opposite turns, as
// the two elements on either side of a face must.
bool OppositeTurns(const FaceUse& a, const FaceUse& b) {
  if (a.size != b.size) return false;
  for (int i = 1; i < a.size; ++i)
    if (a.cycle[static_cast<size_t>(i)] != b.cycle[static_cast<size_t>(a.size - i)]) return false;
  return true;
}

// Elements joined through shared faces (union-find, halving paths).
class Pieces {
public:
  explicit Pieces(size_t elements) : m_parent(elements) { std::iota(m_parent.begin(), m_parent.end(), 0); }
  int Root(int i) {
    while (m_parent[static_cast<size_t>(i)] != i) {
      m_parent[static_cast<size_t>(i)] = m_parent[static_cast<size_t>(m_parent[static_cast<size_t>(i)])];
      i = m_parent[static_cast<size_t>(i)];
    }
    return i;
  }
  void Join(int a, int b) { m_parent[static_cast<size_t>(Root(a))] = Root(b); }

private:
  std::vector<int> m_parent;
};

// Every use of every face, sorted by key and element. The uses are first
// placed by their smallest corner (a counting sort, linear in the mesh), so
// that only the few uses round one node are left to sort among themselves.
std::vector<FaceUse> SortedFaceUses(const MemoryMesh& mesh, const std::vector<char>& hasFaces) {
  std::vector<size_t> start(mesh.nodes.size() + 1, 0);
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    if (!hasFaces[i]) continue;
    const MeshElement& e = mesh.elements[i];
    const FaceTable& table = LocalFaces(e.kind);
    for (int f = 0; f < table.count; ++f) {
      const LocalFace& face = table.faces[static_cast<size_t>(f)];
      int smallest = e.nodes[static_cast<size_t>(face.corners[0])];
      for (int k = 1; k < face.size; ++k) smallest = std::min(smallest, e.nodes[static_cast<size_t>(face.corners[static_cast<size_t>(k)])]);
      ++start[static_cast<size_t>(smallest) + 1];
    }
  }
  for (size_t n = 0; n + 1 < start.size(); ++n) start[n + 1] += start[n];
  std::vector<FaceUse> uses(start.back());
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    if (!hasFaces[i]) continue;
    const MeshElement& e = mesh.elements[i];
    const FaceTable& table = LocalFaces(e.kind);
    for (int f = 0; f < table.count; ++f) {
      const FaceUse use = MakeFaceUse(e, table.faces[static_cast<size_t>(f)], static_cast<int>(i));
      uses[fill[static_cast<size_t>(use.key[0])]++] = use;
    }
  }
  for (size_t n = 0; n + 1 < start.size(); ++n)
    if (start[n + 1] - start[n] > 1)
      std::sort(uses.begin() + static_cast<long>(start[n]), uses.begin() + static_cast<long>(start[n + 1]), UseBefore);
  return uses;
}

// Faces shared by three or more and faces shared in the same turn; joins the
// elements that share a face; returns the faces only one element uses and
// those two share soundly.
FaceSharing ShareFaces(const std::vector<FaceUse>& uses, QualityReport& r, Pieces& pieces) {
  FaultList& overShared = r.faults[static_cast<size_t>(Fault::OverSharedFace)];
  FaultList& sameTurn = r.faults[static_cast<size_t>(Fault::SameTurnFace)];
  std::vector<int> overSharedElements, sameTurnElements;
  FaceSharing sharing;
  for (size_t i = 0; i < uses.size();) {
    size_t j = i + 1;
    while (j < uses.size() && SameKey(uses[j], uses[i])) ++j;
    for (size_t k = i + 1; k < j; ++k) pieces.Join(uses[k].element, uses[i].element);
    if (j - i == 1) {
      sharing.boundary.push_back({uses[i].size, uses[i].cycle, uses[i].element});
    } else if (j - i == 2 && OppositeTurns(uses[i], uses[i + 1])) {
      sharing.internal.push_back({uses[i].size, uses[i].cycle, uses[i].element, uses[i + 1].element});
    } else if (j - i == 2) {
      ++sameTurn.count;
      sameTurnElements.insert(sameTurnElements.end(), {uses[i].element, uses[i + 1].element});
    } else if (j - i > 2) {
      ++overShared.count;
      for (size_t k = i; k < j; ++k) overSharedElements.push_back(uses[k].element);
    }
    i = j;
  }
  NameSmallest(overShared, std::move(overSharedElements));
  NameSmallest(sameTurn, std::move(sameTurnElements));
  return sharing;
}

// Edges of the boundary surface that no other boundary face closes by
// running back along them.
void CheckBoundaryEdges(const std::vector<BoundaryFace>& boundary, FaultList& open) {
  struct EdgeUse {
    int lo, hi;
    bool forward;
    int element;
  };
  std::vector<EdgeUse> edges;
  edges.reserve(4 * boundary.size());
  for (const BoundaryFace& f : boundary)
    for (int k = 0; k < f.size; ++k) {
      const int a = f.nodes[static_cast<size_t>(k)], b = f.nodes[static_cast<size_t>((k + 1) % f.size)];
      edges.push_back({std::min(a, b), std::max(a, b), a < b, f.element});
    }
  std::sort(edges.begin(), edges.end(),
            [](const EdgeUse& x, const EdgeUse& y) { return x.lo != y.lo ? x.lo < y.lo : x.hi < y.hi; });
  std::vector<int> openElements;
  for (size_t i = 0; i < edges.size();) {
    size_t j = i;
    while (j < edges.size() && edges[j].lo == edges[i].lo && edges[j].hi == edges[i].hi) ++j;
    if (j - i != 2 || edges[i].forward == edges[i + 1].forward) {
      ++open.count;
      for (size_t k = i; k < j; ++k) openElements.push_back(edges[k].element);
    }
    i = j;
  }
  NameSmallest(open, std::move(openElements));
}

// Boundary quadrilaterals covered by two boundary triangles on one of their
// diagonals: the quadrilateral's element and the triangles' elements meet
// without sharing a face. Inside a mesh the boundary closes over such a seam,
// so that no open edge shows it.
void CheckHangingFaces(const std::vector<BoundaryFace>& boundary, FaultList& hanging) {
  using Triangle = std::pair<std::array<int, 3>, int>;  // sorted corners, element
  std::vector<Triangle> triangles;
  for (const BoundaryFace& f : boundary)
    if (f.size == 3) {
      std::array<int, 3> key{f.nodes[0], f.nodes[1], f.nodes[2]};
      std::sort(key.begin(), key.end());
      triangles.push_back({key, f.element});
    }
  std::sort(triangles.begin(), triangles.end());
  auto elementOf = [&](int a, int b, int c) {
    std::array<int, 3> key{a, b, c};
    std::sort(key.begin(), key.end());
    const auto it = std::lower_bound(triangles.begin(), triangles.end(), Triangle{key, -1});
    return it != triangles.end() && it->first == key ? it->second : -1;
  };
  std::vector<int> involved;
  for (const BoundaryFace& f : boundary) {
    if (f.size != 4 || triangles.empty()) continue;
    const auto& n = f.nodes;
    for (size_t d = 0; d < 2; ++d) {  // the diagonal from corner d to corner d + 2
      const int first = elementOf(n[d], n[d + 1], n[d + 2]), second = elementOf(n[d], n[d + 2], n[(d + 3) % 4]);
      if (first < 0 || second < 0) continue;
      ++hanging.count;
      involved.insert(involved.end(), {f.element, first, second});
      break;
    }
  }
  NameSmallest(hanging, std::move(involved));
}

// Pieces beyond the first, each named by its smallest element: a junction
// is one solid, and branches left unjoined make separate pieces.
void CountPieces(Pieces& pieces, const std::vector<char>& hasFaces, FaultList& disconnected) {
  std::vector<char> seen(hasFaces.size(), 0);
  bool first = true;
  for (size_t i = 0; i < hasFaces.size(); ++i) {
    if (!hasFaces[i]) continue;
    const size_t root = static_cast<size_t>(pieces.Root(static_cast<int>(i)));
    if (seen[root]) continue;
    seen[root] = 1;
    if (!first) Note(disconnected, static_cast<int>(i));
    first = false;
  }
}

}  // namespace

FaceSharing CheckFaces(const MemoryMesh& mesh, const std::vector<char>& hasFaces, QualityReport& r) {
  Pieces pieces(mesh.elements.size());
  FaceSharing sharing = ShareFaces(SortedFaceUses(mesh, hasFaces), r, pieces);
  CheckBoundaryEdges(sharing.boundary, r.faults[static_cast<size_t>(Fault::OpenBoundary)]);
  CheckHangingFaces(sharing.boundary, r.faults[static_cast<size_t>(Fault::HangingFace)]);
  CountPieces(pieces, hasFaces, r.faults[static_cast<size_t>(Fault::Disconnected)]);
  return sharing;
}

}  // namespace vela::quality::detail
