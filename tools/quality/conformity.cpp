// How the elements fit together through their faces: faces shared by three
// or more, faces shared in the same turn, the boundary's closure, hanging
// faces and pieces that share no face with the rest. All of it follows from
// matching the elements' faces by their corners, sorted once.

#include "quality_detail.h"

#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <numeric>
#include <utility>

namespace vela::quality::detail {

namespace {

// One face of one element: its corners sorted, the key shared by every
// element that uses the face (-1 after a triangle's three). The turn is read
// again from the element where it is needed: a use is kept small, as there
// are some six per element.
struct FaceUse {
  std::array<int, 4> key;
  int element;
  int face;  // in the element's LocalFaces
};

FaceUse MakeFaceUse(const MeshElement& e, const LocalFace& local, int element, int face) {
  FaceUse f{{-1, -1, -1, -1}, element, face};
  for (int i = 0; i < local.size; ++i)
    f.key[static_cast<size_t>(i)] = e.nodes[static_cast<size_t>(local.corners[static_cast<size_t>(i)])];
  // Three or four corners: insertion by hand, cheaper than a general sort.
  for (size_t i = 1; i < static_cast<size_t>(local.size) && i < 4; ++i)
    for (size_t j = i; j > 0 && f.key[j] < f.key[j - 1]; --j) std::swap(f.key[j], f.key[j - 1]);
  return f;
}

// The face's corners in the element's turn from the smallest corner.
std::array<int, 4> Cycle(const MeshElement& e, const LocalFace& local) {
  std::array<int, 4> nodes{-1, -1, -1, -1}, cycle{-1, -1, -1, -1};
  int start = 0;
  for (int i = 0; i < local.size; ++i) {
    nodes[static_cast<size_t>(i)] = e.nodes[static_cast<size_t>(local.corners[static_cast<size_t>(i)])];
    if (nodes[static_cast<size_t>(i)] < nodes[static_cast<size_t>(start)]) start = i;
  }
  for (int i = 0; i < local.size; ++i) cycle[static_cast<size_t>(i)] = nodes[static_cast<size_t>((start + i) % local.size)];
  return cycle;
}

// Compared field by field: std::array's operators go through memcmp, which
// costs more than the comparisons themselves on keys this short.
bool SameKey(const FaceUse& a, const FaceUse& b) {
  return a.key[0] == b.key[0] && a.key[1] == b.key[1] && a.key[2] == b.key[2] && a.key[3] == b.key[3];
}
// Key, then element, then face: an order without ties, so that uses placed
// in any order by the threads sort the same.
bool UseBefore(const FaceUse& a, const FaceUse& b) {
  for (size_t i = 0; i < 4; ++i)
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i];
  return a.element != b.element ? a.element < b.element : a.face < b.face;
}

// Two turns round the same corners, each from the smallest, that run in
// opposite ways, as the two elements on either side of a face must.
bool OppositeTurns(int size, const std::array<int, 4>& a, const std::array<int, 4>& b) {
  for (int i = 1; i < size; ++i)
    if (a[static_cast<size_t>(i)] != b[static_cast<size_t>(size - i)]) return false;
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

// Every use of every face, grouped by smallest corner and sorted by key,
// element and face within a group: start[n] .. start[n + 1] are the uses
// whose smallest corner is node n. A counting sort on the threads (the
// counts and the places taken with atomic adds), linear in the mesh; only
// the few uses round one node are then sorted among themselves.
struct SortedUses {
  UnsetVector<FaceUse> uses;
  std::vector<size_t> start;
};

SortedUses SortFaceUses(const MemoryMesh& mesh, const std::vector<char>& hasFaces, int threads) {
  const size_t nodes = mesh.nodes.size();
  const size_t elements = mesh.elements.size();
  const std::unique_ptr<std::atomic<size_t>[]> place(new std::atomic<size_t>[nodes + 1]());
  const auto smallestCorner = [&](const MeshElement& e, const LocalFace& face) {
    int smallest = e.nodes[static_cast<size_t>(face.corners[0])];
    for (int k = 1; k < face.size; ++k)
      smallest = std::min(smallest, e.nodes[static_cast<size_t>(face.corners[static_cast<size_t>(k)])]);
    return static_cast<size_t>(smallest);
  };
  ForRanges(threads, elements, [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      if (!hasFaces[i]) continue;
      const MeshElement& e = mesh.elements[i];
      const FaceTable& table = LocalFaces(e.kind);
      for (int f = 0; f < table.count; ++f)
        place[smallestCorner(e, table.faces[static_cast<size_t>(f)]) + 1].fetch_add(1, std::memory_order_relaxed);
    }
  });
  SortedUses sorted;
  sorted.start.resize(nodes + 1);
  size_t total = 0;
  for (size_t n = 0; n <= nodes; ++n) {
    total += place[n].load(std::memory_order_relaxed);
    sorted.start[n] = total;
    place[n].store(total, std::memory_order_relaxed);
  }
  sorted.uses.resize(total);
  ForRanges(threads, elements, [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      if (!hasFaces[i]) continue;
      const MeshElement& e = mesh.elements[i];
      const FaceTable& table = LocalFaces(e.kind);
      for (int f = 0; f < table.count; ++f) {
        const FaceUse use = MakeFaceUse(e, table.faces[static_cast<size_t>(f)], static_cast<int>(i), f);
        sorted.uses[place[static_cast<size_t>(use.key[0])].fetch_add(1, std::memory_order_relaxed)] = use;
      }
    }
  });
  ForRanges(threads, nodes, [&](size_t begin, size_t end, int) {
    for (size_t n = begin; n < end; ++n)
      if (sorted.start[n + 1] - sorted.start[n] > 1)
        std::sort(sorted.uses.begin() + static_cast<long>(sorted.start[n]),
                  sorted.uses.begin() + static_cast<long>(sorted.start[n + 1]), UseBefore);
  });
  return sorted;
}

// What one range of nodes' uses share beyond the sound faces, to be put
// together in range order.
struct SharedRange {
  size_t boundary = 0, pairs = 0;  // faces used once, and twice
  size_t internal = 0;             // the pairs in opposite turns
  long long overShared = 0, sameTurn = 0;
  std::vector<int> overSharedElements, sameTurnElements;
  std::vector<std::pair<int, int>> joins;  // of the faces shared the wrong way
};

// Calls visit(first, last) for each face's uses in the range of nodes
// [begin, end): uses[first, last) share one key.
template <class Visit>
void EachFace(const SortedUses& sorted, size_t begin, size_t end, Visit&& visit) {
  const auto& uses = sorted.uses;
  const size_t last = sorted.start[end];
  for (size_t i = sorted.start[begin]; i < last;) {
    size_t j = i + 1;
    while (j < last && SameKey(uses[j], uses[i])) ++j;
    visit(i, j);
    i = j;
  }
}

// Faces shared by three or more and faces shared in the same turn; joins the
// elements that share a face; returns the faces only one element uses and
// those two share soundly, with every element's faces numbered. A face's
// uses all lie in the group of its smallest corner, so that ranges of nodes
// are matched on their own.
//
// The faces are counted first and then written straight into their places:
// on a large system the lists run to gigabytes, and lists grown range by
// range and then copied would touch twice that in fresh memory.
FaceSharing ShareFaces(const MemoryMesh& mesh, const SortedUses& sorted, int threads, QualityReport& r,
                       Pieces& pieces) {
  const size_t nodes = sorted.start.size() - 1;
  std::vector<SharedRange> ranges((nodes + kRangeLength - 1) / kRangeLength);
  ForRanges(threads, nodes, [&](size_t begin, size_t end, int) {
    SharedRange& out = ranges[begin / kRangeLength];
    EachFace(sorted, begin, end, [&](size_t first, size_t last) {
      out.boundary += last - first == 1 ? 1 : 0;
      out.pairs += last - first == 2 ? 1 : 0;
    });
  });
  // Every pair gets a place; pairs in the same turn leave theirs empty, and
  // the faces after them move up once all are written.
  std::vector<size_t> pairAt(ranges.size() + 1, 0), boundaryAt(ranges.size() + 1, 0);
  for (size_t k = 0; k < ranges.size(); ++k) {
    pairAt[k + 1] = pairAt[k] + ranges[k].pairs;
    boundaryAt[k + 1] = boundaryAt[k] + ranges[k].boundary;
  }
  FaceSharing sharing;
  sharing.internal.resize(pairAt.back());
  sharing.boundary.resize(boundaryAt.back());
  ForRanges(threads, nodes, [&](size_t begin, size_t end, int) {
    SharedRange& out = ranges[begin / kRangeLength];
    BoundaryFace* boundary = sharing.boundary.data() + boundaryAt[begin / kRangeLength];
    InternalFace* internal = sharing.internal.data() + pairAt[begin / kRangeLength];
    const auto& uses = sorted.uses;
    EachFace(sorted, begin, end, [&](size_t i, size_t j) {
      const FaceUse& a = uses[i];
      const MeshElement& ea = mesh.elements[static_cast<size_t>(a.element)];
      const LocalFace& local = LocalFaces(ea.kind).faces[static_cast<size_t>(a.face)];
      if (j - i == 1) {
        *boundary++ = {local.size, Cycle(ea, local), a.element, static_cast<std::uint8_t>(a.face)};
      } else if (j - i == 2) {
        const FaceUse& b = uses[i + 1];
        const MeshElement& eb = mesh.elements[static_cast<size_t>(b.element)];
        const std::array<int, 4> cycle = Cycle(ea, local);
        if (OppositeTurns(local.size, cycle, Cycle(eb, LocalFaces(eb.kind).faces[static_cast<size_t>(b.face)]))) {
          *internal++ = {local.size, cycle, a.element, b.element, static_cast<std::uint8_t>(a.face),
                         static_cast<std::uint8_t>(b.face)};
          ++out.internal;
        } else {
          ++out.sameTurn;
          out.sameTurnElements.insert(out.sameTurnElements.end(), {a.element, b.element});
          out.joins.push_back({b.element, a.element});
        }
      } else {
        ++out.overShared;
        for (size_t k = i; k < j; ++k) {
          out.overSharedElements.push_back(uses[k].element);
          if (k > i) out.joins.push_back({uses[k].element, a.element});
        }
      }
    });
  });
  // Only a mesh with faces shared in the same turn has gaps to close.
  size_t internalCount = 0;
  for (size_t k = 0; k < ranges.size(); ++k) {
    if (internalCount != pairAt[k])
      std::copy(sharing.internal.begin() + static_cast<long>(pairAt[k]),
                sharing.internal.begin() + static_cast<long>(pairAt[k] + ranges[k].internal),
                sharing.internal.begin() + static_cast<long>(internalCount));
    internalCount += ranges[k].internal;
  }
  sharing.internal.resize(internalCount);
  // Each element's face is one face only, so no two faces write the same entry.
  sharing.cellFaces.resize(kMostFaces * mesh.elements.size());
  ForRanges(threads, mesh.elements.size(), [&](size_t begin, size_t end, int) {
    std::fill(sharing.cellFaces.begin() + static_cast<long>(kMostFaces * begin),
              sharing.cellFaces.begin() + static_cast<long>(kMostFaces * end), -1);
  });
  const auto number = [&](int element, std::uint8_t face, size_t index) {
    sharing.cellFaces[kMostFaces * static_cast<size_t>(element) + face] = static_cast<int>(index);
  };
  ForRanges(threads, internalCount, [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      const InternalFace& f = sharing.internal[i];
      number(f.owner, f.ownerFace, i);
      number(f.neighbour, f.neighbourFace, i);
    }
  });
  ForRanges(threads, sharing.boundary.size(), [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      const BoundaryFace& f = sharing.boundary[i];
      number(f.element, f.face, internalCount + i);
    }
  });

  FaultList& overShared = r.faults[static_cast<size_t>(Fault::OverSharedFace)];
  FaultList& sameTurn = r.faults[static_cast<size_t>(Fault::SameTurnFace)];
  std::vector<int> overSharedElements, sameTurnElements;
  for (const SharedRange& range : ranges) {
    overShared.count += range.overShared;
    sameTurn.count += range.sameTurn;
    overSharedElements.insert(overSharedElements.end(), range.overSharedElements.begin(),
                              range.overSharedElements.end());
    sameTurnElements.insert(sameTurnElements.end(), range.sameTurnElements.begin(), range.sameTurnElements.end());
    for (const auto& [a, b] : range.joins) pieces.Join(a, b);
  }
  // Which elements end up joined does not depend on the order of the joins.
  for (const InternalFace& f : sharing.internal) pieces.Join(f.neighbour, f.owner);
  NameSmallest(overShared, std::move(overSharedElements));
  NameSmallest(sameTurn, std::move(sameTurnElements));
  return sharing;
}

// Edges of the boundary surface that no other boundary face closes by
// running back along them. The edges are grouped by their smaller node (a
// counting sort) and each group by the larger; which elements an open edge
// names does not depend on the order within its uses.
void CheckBoundaryEdges(const std::vector<BoundaryFace>& boundary, size_t nodes, FaultList& open) {
  struct EdgeUse {
    int hi;
    bool forward;
    int element;
  };
  std::vector<size_t> start(nodes + 1, 0);
  for (const BoundaryFace& f : boundary)
    for (int k = 0; k < f.size; ++k) {
      const int a = f.nodes[static_cast<size_t>(k)], b = f.nodes[static_cast<size_t>((k + 1) % f.size)];
      ++start[static_cast<size_t>(std::min(a, b)) + 1];
    }
  for (size_t n = 0; n < nodes; ++n) start[n + 1] += start[n];
  std::vector<EdgeUse> edges(start.back());
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (const BoundaryFace& f : boundary)
    for (int k = 0; k < f.size; ++k) {
      const int a = f.nodes[static_cast<size_t>(k)], b = f.nodes[static_cast<size_t>((k + 1) % f.size)];
      edges[fill[static_cast<size_t>(std::min(a, b))]++] = {std::max(a, b), a < b, f.element};
    }
  std::vector<int> openElements;
  for (size_t n = 0; n < nodes; ++n) {
    const auto first = edges.begin() + static_cast<long>(start[n]), last = edges.begin() + static_cast<long>(start[n + 1]);
    if (last - first > 1) std::sort(first, last, [](const EdgeUse& x, const EdgeUse& y) { return x.hi < y.hi; });
    for (auto i = first; i != last;) {
      auto j = i;
      while (j != last && j->hi == i->hi) ++j;
      if (j - i != 2 || i->forward == (i + 1)->forward) {
        ++open.count;
        for (auto k = i; k != j; ++k) openElements.push_back(k->element);
      }
      i = j;
    }
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

FaceSharing CheckFaces(const MemoryMesh& mesh, const std::vector<char>& hasFaces, QualityReport& r, int threads) {
  Pieces pieces(mesh.elements.size());
  FaceSharing sharing = ShareFaces(mesh, SortFaceUses(mesh, hasFaces, threads), threads, r, pieces);
  CheckBoundaryEdges(sharing.boundary, mesh.nodes.size(), r.faults[static_cast<size_t>(Fault::OpenBoundary)]);
  CheckHangingFaces(sharing.boundary, r.faults[static_cast<size_t>(Fault::HangingFace)]);
  CountPieces(pieces, hasFaces, r.faults[static_cast<size_t>(Fault::Disconnected)]);
  return sharing;
}

}  // namespace vela::quality::detail
