#include "soundness.h"

#include "direction_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace vela::census {

namespace {

// Below this a corner's scaled determinant counts as flat or inverted: far
// above rounding of a healthy corner, far below any corner a solver accepts.
constexpr double kMinScaledJacobian = 1e-9;
// Two nodes nearer than this share of the shortest edge at either are one
// point that was not merged.
constexpr double kCrackShare = 1e-3;
// A sample point counts as inside an element when it lies deeper than this
// share of a piece's height below the element's surface; points on shared
// faces stay outside.
constexpr double kInsideMargin = 1e-6;
// How far a sample is pulled from the centroid towards a corner.
constexpr double kSamplePull = 0.5;
// A segment crosses a triangle when its ends lie, and the triangle's corners
// lie around it, beyond this share of the measures' scale: far above
// rounding, far below any real cut.
constexpr double kCrossingMargin = 1e-9;

Vec Sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const Vec& a) { return std::sqrt(Dot(a, a)); }
double Det(const Vec& a, const Vec& b, const Vec& c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}
// Six times the signed volume of the tetrahedron (a, b, c, d).
double Orient(const Vec& a, const Vec& b, const Vec& c, const Vec& d) { return Det(Sub(b, a), Sub(c, a), Sub(d, a)); }
bool Finite(const Vec& a) { return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]); }

// --- the element kinds in the library's corner order ------------------------------------------

// A corner and the three corners it is joined to, in the turn that gives a
// positive determinant on a positively oriented element.
struct CornerFrame {
  int corner, a, b, c;
};

struct KindTable {
  std::vector<CornerFrame> frames;
  std::vector<std::pair<int, int>> edges;
  // Faces in the turn that is counter-clockwise seen from outside.
  std::vector<std::vector<int>> faces;
};

// Corner frames follow from the drawings of Vela_SolidMesh.h: the base turns
// counter-clockwise seen from the apex or the second section, so at a base
// corner (next, previous, up) and at a top corner (previous, next, down) are
// right-handed. The pyramid's apex has four edges; it is judged through the
// four tetrahedra of the two base diagonals.
const KindTable& TableOf(ElementKind kind) {
  static const KindTable tetra{
      {{0, 1, 2, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {3, 0, 2, 1}},
      {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}},
      {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}};
  static const KindTable pyramid{
      {{0, 1, 3, 4}, {1, 2, 0, 4}, {2, 3, 1, 4}, {3, 0, 2, 4},
       {4, 0, 2, 1}, {4, 0, 3, 2}, {4, 1, 3, 2}, {4, 0, 3, 1}},
      {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 4}, {1, 4}, {2, 4}, {3, 4}},
      {{0, 3, 2, 1}, {0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}}};
  static const KindTable prism{
      {{0, 1, 2, 3}, {1, 2, 0, 4}, {2, 0, 1, 5}, {3, 5, 4, 0}, {4, 3, 5, 1}, {5, 4, 3, 2}},
      {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}, {0, 3}, {1, 4}, {2, 5}},
      {{0, 2, 1}, {3, 4, 5}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}};
  static const KindTable hexa{
      {{0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7},
       {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}},
      {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}},
      {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}};
  switch (kind) {
    case ElementKind::Tetra: return tetra;
    case ElementKind::Pyramid: return pyramid;
    case ElementKind::Prism: return prism;
    case ElementKind::Hexa: return hexa;
  }
  return tetra;
}

// --- recording -------------------------------------------------------------------------------

class Recorder {
public:
  explicit Recorder(Soundness& s) : m_s(s) {}
  void Add(Fault f, int example) {
    const auto i = static_cast<size_t>(f);
    ++m_s.count[i];
    if (m_s.examples[i].size() < Soundness::kExamples) m_s.examples[i].push_back(example);
  }

private:
  Soundness& m_s;
};

// --- local checks ----------------------------------------------------------------------------

const Vec& At(const MemoryMesh& mesh, int node) { return mesh.nodes[static_cast<size_t>(node)]; }

bool IndicesInRange(const MemoryMesh& mesh, const MeshElement& e) {
  for (int k = 0; k < e.CornerCount(); ++k)
    if (e.nodes[static_cast<size_t>(k)] < 0 || e.nodes[static_cast<size_t>(k)] >= mesh.GetNodeCount()) return false;
  return true;
}

bool RepeatsNode(const MeshElement& e) {
  const size_t n = static_cast<size_t>(e.CornerCount());
  for (size_t a = 0; a < n; ++a)
    for (size_t b = a + 1; b < n; ++b)
      if (e.nodes[a] == e.nodes[b]) return true;
  return false;
}

bool AllFinite(const MemoryMesh& mesh, const MeshElement& e) {
  for (int k = 0; k < e.CornerCount(); ++k)
    if (!Finite(At(mesh, e.nodes[static_cast<size_t>(k)]))) return false;
  return true;
}

double SmallestScaledJacobian(const MemoryMesh& mesh, const MeshElement& e) {
  double smallest = std::numeric_limits<double>::infinity();
  const Vec* p[8];
  for (int k = 0; k < e.CornerCount(); ++k) p[k] = &At(mesh, e.nodes[static_cast<size_t>(k)]);
  for (const CornerFrame& f : TableOf(e.kind).frames) {
    const Vec a = Sub(*p[f.a], *p[f.corner]), b = Sub(*p[f.b], *p[f.corner]), c = Sub(*p[f.c], *p[f.corner]);
    const double lengths = Norm(a) * Norm(b) * Norm(c);
    const double scaled = lengths > 0.0 ? Det(a, b, c) / lengths : 0.0;
    smallest = std::min(smallest, std::isfinite(scaled) ? scaled : -1.0);
  }
  return smallest;
}

// --- faces and boundary ----------------------------------------------------------------------

// A face's corners (node numbers) in its outward turn.
struct FaceNodes {
  int count = 0;
  std::array<int, 4> node{};
};

// Sorted corners; a triangle's fourth is INT_MAX, so that a triangle never
// matches a quadrilateral.
using FaceKey = std::array<int, 4>;

FaceNodes FaceOf(const MeshElement& e, int face) {
  FaceNodes f;
  for (int local : TableOf(e.kind).faces[static_cast<size_t>(face)])
    f.node[static_cast<size_t>(f.count++)] = e.nodes[static_cast<size_t>(local)];
  return f;
}

FaceKey KeyOf(const FaceNodes& f) {
  FaceKey key{0, 0, 0, std::numeric_limits<int>::max()};
  const size_t n = static_cast<size_t>(f.count);
  for (size_t k = 0; k < n; ++k) {  // insertion sort of at most four
    size_t at = k;
    for (; at > 0 && key[at - 1] > f.node[k]; --at) key[at] = key[at - 1];
    key[at] = f.node[k];
  }
  return key;
}

struct FaceUse {
  FaceKey key;
  int element;
  int face;
  bool operator<(const FaceUse& o) const { return key < o.key; }
};

// True when b, read backwards, is a's cycle of corners.
bool OppositeTurn(const FaceNodes& a, const FaceNodes& b) {
  const size_t n = static_cast<size_t>(a.count);
  if (b.count != a.count) return false;
  size_t s = 0;
  while (s < n && b.node[s] != a.node[0]) ++s;
  if (s == n) return false;
  for (size_t k = 0; k < n; ++k)
    if (a.node[k] != b.node[(s + n - k) % n]) return false;
  return true;
}

// A face that only one element uses, and that element.
struct BoundaryFace {
  FaceNodes nodes;
  int element;
};

// Checks how faces are shared, the boundary and the pieces; returns the
// boundary faces.
std::vector<BoundaryFace> CheckFaces(const MemoryMesh& mesh, const std::vector<char>& usable, Recorder& rec) {
  std::vector<FaceUse> uses;
  uses.reserve(mesh.elements.size() * 6);
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    if (!usable[i]) continue;
    const MeshElement& e = mesh.elements[i];
    const int faces = static_cast<int>(TableOf(e.kind).faces.size());
    for (int f = 0; f < faces; ++f) uses.push_back({KeyOf(FaceOf(e, f)), static_cast<int>(i), f});
  }
  std::sort(uses.begin(), uses.end());
  const auto nodesOf = [&](const FaceUse& u) { return FaceOf(mesh.elements[static_cast<size_t>(u.element)], u.face); };

  // Pieces of elements joined through shared faces (union-find).
  std::vector<size_t> piece(mesh.elements.size());
  for (size_t i = 0; i < piece.size(); ++i) piece[i] = i;
  const auto root = [&](size_t i) {
    while (piece[i] != i) {
      piece[i] = piece[piece[i]];
      i = piece[i];
    }
    return i;
  };

  std::vector<BoundaryFace> boundary;
  for (size_t g = 0; g < uses.size();) {
    size_t end = g;
    while (end < uses.size() && uses[end].key == uses[g].key) ++end;
    for (size_t k = g + 1; k < end; ++k)
      piece[root(static_cast<size_t>(uses[k].element))] = root(static_cast<size_t>(uses[g].element));
    if (end - g == 1) boundary.push_back({nodesOf(uses[g]), uses[g].element});
    if (end - g == 2 && !OppositeTurn(nodesOf(uses[g]), nodesOf(uses[g + 1]))) rec.Add(Fault::FaceTurn, uses[g].element);
    if (end - g > 2) rec.Add(Fault::OverShared, uses[g].element);
    g = end;
  }

  bool first = true;
  for (size_t i = 0; i < piece.size(); ++i)
    if (usable[i] && root(i) == i) {
      if (!first) rec.Add(Fault::Disconnected, static_cast<int>(i));
      first = false;
    }

  // Boundary edges, directed by their face's turn: each must be met once
  // each way.
  struct DirectedEdge {
    std::pair<int, int> ends;  // low, high
    int way;                   // +1 low to high, -1 back
    bool operator<(const DirectedEdge& o) const { return ends < o.ends; }
  };
  std::vector<DirectedEdge> edges;
  std::vector<FaceKey> triangles;
  for (const BoundaryFace& face : boundary) {
    const FaceNodes& f = face.nodes;
    for (size_t k = 0; k < static_cast<size_t>(f.count); ++k) {
      const int a = f.node[k], b = f.node[(k + 1) % static_cast<size_t>(f.count)];
      edges.push_back({{std::min(a, b), std::max(a, b)}, a < b ? 1 : -1});
    }
    if (f.count == 3) triangles.push_back(KeyOf(f));
  }
  std::sort(edges.begin(), edges.end());
  for (size_t g = 0; g < edges.size();) {
    size_t end = g;
    int balance = 0;
    while (end < edges.size() && edges[end].ends == edges[g].ends) balance += edges[end++].way;
    if (end - g != 2 || balance != 0) rec.Add(Fault::OpenBoundary, edges[g].ends.first);
    g = end;
  }

  std::sort(triangles.begin(), triangles.end());
  const auto hasTriangle = [&](int a, int b, int c) {
    FaceNodes t;
    t.count = 3;
    t.node = {a, b, c, 0};
    return std::binary_search(triangles.begin(), triangles.end(), KeyOf(t));
  };
  for (const BoundaryFace& b : boundary) {
    const auto& n = b.nodes.node;
    if (b.nodes.count == 4 && ((hasTriangle(n[0], n[1], n[2]) && hasTriangle(n[0], n[2], n[3])) ||
                               (hasTriangle(n[1], n[2], n[3]) && hasTriangle(n[1], n[3], n[0]))))
      rec.Add(Fault::HangingFace, b.element);
  }
  return boundary;
}

// --- cracks ----------------------------------------------------------------------------------

void CheckCracks(const MemoryMesh& mesh, const std::vector<char>& sound, Recorder& rec) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> shortest(mesh.nodes.size(), inf);
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    if (!sound[i]) continue;
    const MeshElement& e = mesh.elements[i];
    for (const auto& [a, b] : TableOf(e.kind).edges) {
      const int na = e.nodes[static_cast<size_t>(a)], nb = e.nodes[static_cast<size_t>(b)];
      const double len = Norm(Sub(At(mesh, na), At(mesh, nb)));
      shortest[static_cast<size_t>(na)] = std::min(shortest[static_cast<size_t>(na)], len);
      shortest[static_cast<size_t>(nb)] = std::min(shortest[static_cast<size_t>(nb)], len);
    }
  }
  double widest = 0.0;  // the largest tolerance of any node
  std::vector<int> order;
  for (size_t n = 0; n < mesh.nodes.size(); ++n)
    if (shortest[n] < inf) {
      widest = std::max(widest, kCrackShare * shortest[n]);
      order.push_back(static_cast<int>(n));
    }
  if (!(widest > 0.0) || !std::isfinite(widest)) return;
  // The tolerance is tiny against the spacing of nodes, so after sorting by
  // x only nodes with all but the same x are compared.
  std::sort(order.begin(), order.end(), [&](int a, int b) { return At(mesh, a) < At(mesh, b); });
  for (size_t i = 0; i < order.size(); ++i) {
    const Vec& p = At(mesh, order[i]);
    for (size_t j = i + 1; j < order.size() && At(mesh, order[j])[0] - p[0] < widest; ++j) {
      const double tol =
          kCrackShare * std::min(shortest[static_cast<size_t>(order[i])], shortest[static_cast<size_t>(order[j])]);
      if (Norm(Sub(At(mesh, order[j]), p)) < tol) rec.Add(Fault::Crack, std::min(order[i], order[j]));
    }
  }
}

// --- overlap ---------------------------------------------------------------------------------

// What the overlap test needs of an element, computed once.
struct Shape {
  int id = -1;
  const KindTable* table = nullptr;
  Piece piece;
  Vec centroid{};
  // A point inside the element lies inside the hull of its corners, so it
  // lies below the corners' highest reach along every direction; the face
  // normals make the cheapest such directions, and most candidates fail one
  // of them at once.
  int directions = 0;
  std::array<Vec, 6> normal{};
  std::array<double, 6> reach{};
  // Every piece (see ForEachPiece) turns positively about the centroid: the
  // pieces then tile the element. A twisted element, whose centroid sees one
  // of its faces from behind, has pieces that reach beyond it and would
  // report overlaps that are not there; it sits the overlap test out.
  bool starShaped = false;

  const Vec& At(size_t k) const { return piece.at[k]; }
};

Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Calls piece(a, b, c) for each triangle of the element's surface, in the
// turn that is counter-clockwise seen from outside: (a, b, c, centroid) is a
// positive tetrahedron of the element. Quadrilaterals are fanned from their
// centre, so that two elements sharing a warped face split it alike and never
// seem to overlap there. Stops and returns true when piece does.
template <class PieceOfSurface>
bool ForEachPiece(const Shape& s, PieceOfSurface&& piece) {
  for (const auto& face : s.table->faces) {
    const auto corner = [&](size_t k) -> const Vec& { return s.At(static_cast<size_t>(face[k])); };
    if (face.size() == 3) {
      if (piece(corner(0), corner(2), corner(1))) return true;
      continue;
    }
    Vec mid{};
    for (size_t k = 0; k < 4; ++k)
      for (size_t a = 0; a < 3; ++a) mid[a] += 0.25 * corner(k)[a];
    for (size_t k = 0; k < 4; ++k)
      if (piece(corner(k), mid, corner((k + 1) % 4))) return true;
  }
  return false;
}

void FillShape(const MemoryMesh& mesh, int id, Shape& s) {
  const MeshElement& e = mesh.elements[static_cast<size_t>(id)];
  s.id = id;
  s.table = &TableOf(e.kind);
  s.piece.corners = e.CornerCount();
  const size_t n = static_cast<size_t>(s.piece.corners);
  for (size_t k = 0; k < n; ++k) s.piece.at[k] = At(mesh, e.nodes[k]);
  for (size_t k = 0; k < n; ++k)
    for (size_t a = 0; a < 3; ++a) s.centroid[a] += s.At(k)[a] / static_cast<double>(n);
  for (const auto& face : s.table->faces) {
    const Vec& a = s.At(static_cast<size_t>(face[0]));
    const Vec& b = s.At(static_cast<size_t>(face[1]));
    const Vec& c = s.At(static_cast<size_t>(face[2]));
    // Newell's normal of a quadrilateral is the cross product of its diagonals.
    const Vec normal = face.size() == 3 ? Cross(Sub(b, a), Sub(c, a))
                                        : Cross(Sub(c, a), Sub(s.At(static_cast<size_t>(face[3])), b));
    double reach = -std::numeric_limits<double>::infinity();
    for (size_t k = 0; k < n; ++k) reach = std::max(reach, Dot(normal, s.At(k)));
    s.normal[static_cast<size_t>(s.directions)] = normal;
    s.reach[static_cast<size_t>(s.directions)] = reach;
    ++s.directions;
  }
  s.starShaped = !ForEachPiece(s, [&](const Vec& a, const Vec& b, const Vec& c) {
    return !(Orient(a, b, c, s.centroid) > 0.0);
  });
}

// The tetrahedron (a, b, c, centre) is one piece of an element: (a, b, c)
// lies on the element's surface, the other three faces inside it. A point
// counts as inside when it lies a margin within the surface face and anywhere
// up to rounding on the inner faces, so that points on the seams between
// pieces (the centroid of a neighbour on a symmetry line) still count.
bool InsidePiece(const Vec& p, const Vec& a, const Vec& b, const Vec& c, const Vec& centre) {
  const double v = Orient(a, b, c, centre);
  if (!(v > 0.0)) return false;
  const double seam = -1e-12 * v;
  return Orient(a, b, c, p) > kInsideMargin * v && Orient(p, b, c, centre) >= seam &&
         Orient(a, p, c, centre) >= seam && Orient(a, b, p, centre) >= seam;
}

// Whether p lies inside the element, split into tetrahedra from its centroid
// to the pieces of its surface.
bool Inside(const Vec& p, const Shape& s) {
  for (size_t d = 0; d < static_cast<size_t>(s.directions); ++d)
    if (Dot(s.normal[d], p) >= s.reach[d]) return false;
  return ForEachPiece(s, [&](const Vec& a, const Vec& b, const Vec& c) { return InsidePiece(p, a, b, c, s.centroid); });
}

// Returns the number of twisted elements, which sat the test out.
int CheckOverlap(const MemoryMesh& mesh, const std::vector<char>& sound, Recorder& rec) {
  std::vector<Shape> shapes;
  shapes.reserve(mesh.elements.size());
  int twisted = 0;
  for (size_t i = 0; i < mesh.elements.size(); ++i)
    if (sound[i]) {
      shapes.emplace_back();
      FillShape(mesh, static_cast<int>(i), shapes.back());
      if (!shapes.back().starShaped) {
        shapes.pop_back();
        ++twisted;
      }
    }
  if (shapes.size() < 2) return twisted;
  std::vector<Piece> pieces;
  pieces.reserve(shapes.size());
  for (const Shape& s : shapes) pieces.push_back(s.piece);
  const DirectionGrid grid(pieces);

  for (size_t k = 0; k < shapes.size(); ++k) {
    const Shape& s = shapes[k];
    bool overlaps = false;
    for (int sample = -1; sample < s.piece.corners && !overlaps; ++sample) {
      Vec p = s.centroid;
      if (sample >= 0)
        for (size_t a = 0; a < 3; ++a) p[a] += kSamplePull * (s.At(static_cast<size_t>(sample))[a] - p[a]);
      overlaps = grid.AnyAt(p, [&](int other) {
        return static_cast<size_t>(other) != k && Inside(p, shapes[static_cast<size_t>(other)]);
      });
    }
    if (overlaps) rec.Add(Fault::Overlap, s.id);
  }
  return twisted;
}

// --- crossing boundary faces -----------------------------------------------------------------

// One triangle of the boundary surface: a triangular face, or a quarter of a
// quadrilateral fanned from its centre.
struct Patch {
  std::array<Vec, 3> at{};
  Vec normal{};  // of the triangle's plane, unscaled
};

// Whether the segment pq passes through the inside of triangle abc, both
// beyond rounding: touching, grazing and lying in the plane do not count.
bool SegmentCrosses(const Vec& p, const Vec& q, const Vec& a, const Vec& b, const Vec& c) {
  const double scale = Norm(Cross(Sub(b, a), Sub(c, a))) * Norm(Sub(q, p));
  const double dp = Orient(a, b, c, p), dq = Orient(a, b, c, q);
  const double eps = kCrossingMargin * scale;
  if (!((dp > eps && dq < -eps) || (dp < -eps && dq > eps))) return false;
  const double side = std::max({Norm(Sub(b, a)), Norm(Sub(c, b)), Norm(Sub(a, c))});
  const double epsSide = kCrossingMargin * Norm(Sub(q, p)) * side * side;
  const double s0 = Orient(p, q, a, b), s1 = Orient(p, q, b, c), s2 = Orient(p, q, c, a);
  return (s0 > epsSide && s1 > epsSide && s2 > epsSide) || (s0 < -epsSide && s1 < -epsSide && s2 < -epsSide);
}

// Whether the corners of u all lie strictly on one side of t's plane, which
// settles most pairs before any segment is tried.
bool OneSide(const Patch& t, const Patch& u) {
  const double off = Dot(t.normal, t.at[0]);
  int above = 0, below = 0;
  for (const Vec& p : u.at) {
    const double d = Dot(t.normal, p) - off;
    above += d > 0.0 ? 1 : 0;
    below += d < 0.0 ? 1 : 0;
  }
  return above == 3 || below == 3;
}

bool PatchesCross(const Patch& t, const Patch& u) {
  if (OneSide(t, u) || OneSide(u, t)) return false;
  for (size_t k = 0; k < 3; ++k) {
    if (SegmentCrosses(t.at[k], t.at[(k + 1) % 3], u.at[0], u.at[1], u.at[2])) return true;
    if (SegmentCrosses(u.at[k], u.at[(k + 1) % 3], t.at[0], t.at[1], t.at[2])) return true;
  }
  return false;
}

// The face's triangles, quadrilaterals fanned from their centre.
std::vector<Patch> PatchesOf(const Piece& face) {
  std::vector<Patch> out;
  const auto add = [&](const Vec& a, const Vec& b, const Vec& c) {
    out.push_back({{a, b, c}, Cross(Sub(b, a), Sub(c, a))});
  };
  if (face.corners == 3) {
    add(face.at[0], face.at[1], face.at[2]);
    return out;
  }
  Vec mid{};
  for (size_t k = 0; k < 4; ++k)
    for (size_t a = 0; a < 3; ++a) mid[a] += 0.25 * face.at[k][a];
  for (size_t k = 0; k < 4; ++k) add(face.at[k], face.at[(k + 1) % 4], mid);
  return out;
}

bool SharesNode(const FaceNodes& a, const FaceNodes& b) {
  for (size_t i = 0; i < static_cast<size_t>(a.count); ++i)
    for (size_t j = 0; j < static_cast<size_t>(b.count); ++j)
      if (a.node[i] == b.node[j]) return true;
  return false;
}

// Branches that run into each other cut through each other's walls, however
// shallow the cut; samples inside elements would need to be as fine as the
// cut is shallow. So the boundary surface is tested against itself: two
// boundary faces that share no node must not pass through each other.
void CheckCrossings(const MemoryMesh& mesh, const std::vector<BoundaryFace>& boundary, Recorder& rec) {
  std::vector<size_t> faceOf;  // boundary face of each piece
  std::vector<Piece> pieces;
  for (size_t f = 0; f < boundary.size(); ++f) {
    const FaceNodes& nodes = boundary[f].nodes;
    Piece p;
    p.face = true;
    p.corners = nodes.count;
    bool finite = true;
    for (size_t k = 0; k < static_cast<size_t>(nodes.count); ++k) {
      p.at[k] = At(mesh, nodes.node[k]);
      finite &= Finite(p.at[k]);
    }
    if (!finite) continue;
    pieces.push_back(p);
    faceOf.push_back(f);
  }
  if (pieces.size() < 2) return;
  std::vector<std::vector<Patch>> patches;
  for (const Piece& p : pieces) patches.push_back(PatchesOf(p));
  const DirectionGrid grid(pieces);

  std::vector<char> crossed(pieces.size(), 0);
  const auto mark = [&](size_t k) {
    if (crossed[k]) return;
    crossed[k] = 1;
    rec.Add(Fault::Crossing, boundary[faceOf[k]].element);
  };
  for (size_t k = 0; k < pieces.size(); ++k) {
    const FaceNodes& mine = boundary[faceOf[k]].nodes;
    grid.AnyNear(pieces[k], [&](int other) {
      const size_t o = static_cast<size_t>(other);
      if (o <= k || SharesNode(mine, boundary[faceOf[o]].nodes)) return false;
      for (const Patch& t : patches[k])
        for (const Patch& u : patches[o])
          if (PatchesCross(t, u)) {
            mark(k);
            mark(o);
            return true;
          }
      return false;
    });
  }
}

}  // namespace

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::Empty: return "empty";
    case Fault::NonFinite: return "non-finite";
    case Fault::NodeIndex: return "node-index";
    case Fault::RepeatedNode: return "repeated-node";
    case Fault::Inverted: return "inverted";
    case Fault::OverShared: return "over-shared-face";
    case Fault::FaceTurn: return "face-turn";
    case Fault::HangingFace: return "hanging-face";
    case Fault::OpenBoundary: return "open-boundary";
    case Fault::Crack: return "crack";
    case Fault::Overlap: return "overlap";
    case Fault::Crossing: return "crossing";
    case Fault::Disconnected: return "disconnected";
    case Fault::Count: break;
  }
  return "unknown";
}

bool Soundness::Sound() const {
  return std::all_of(count.begin(), count.end(), [](int c) { return c == 0; });
}

std::string Soundness::Summary() const {
  if (Sound()) return "sound";
  std::ostringstream out;
  bool first = true;
  for (int f = 0; f < kFaultCount; ++f) {
    if (count[static_cast<size_t>(f)] == 0) continue;
    out << (first ? "" : "; ") << FaultName(static_cast<Fault>(f)) << ' ' << count[static_cast<size_t>(f)] << " [";
    const auto& ex = examples[static_cast<size_t>(f)];
    for (size_t k = 0; k < ex.size(); ++k) out << (k > 0 ? " " : "") << ex[k];
    out << ']';
    first = false;
  }
  return out.str();
}

Soundness CheckSoundness(const MemoryMesh& mesh) {
  Soundness s;
  Recorder rec(s);
  if (mesh.elements.empty() || mesh.nodes.empty()) rec.Add(Fault::Empty, 0);
  for (size_t n = 0; n < mesh.nodes.size(); ++n)
    if (!Finite(mesh.nodes[n])) rec.Add(Fault::NonFinite, static_cast<int>(n));

  // usable: an element whose faces and edges can be counted; sound: one whose
  // geometry also holds up, so that it can take part in the overlap test.
  std::vector<char> usable(mesh.elements.size(), 0), sound(mesh.elements.size(), 0);
  std::vector<char> named(mesh.nodes.size(), 0);
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    const MeshElement& e = mesh.elements[i];
    const int id = static_cast<int>(i);
    if (!IndicesInRange(mesh, e)) {
      rec.Add(Fault::NodeIndex, id);
      continue;
    }
    for (int k = 0; k < e.CornerCount(); ++k) named[static_cast<size_t>(e.nodes[static_cast<size_t>(k)])] = 1;
    if (RepeatsNode(e)) {
      rec.Add(Fault::RepeatedNode, id);
      continue;
    }
    usable[i] = 1;
    if (!AllFinite(mesh, e)) continue;  // counted with the nodes
    if (!(SmallestScaledJacobian(mesh, e) > kMinScaledJacobian)) {
      rec.Add(Fault::Inverted, id);
      continue;
    }
    sound[i] = 1;
  }
  s.unusedNodes = static_cast<int>(std::count(named.begin(), named.end(), 0));

  const std::vector<BoundaryFace> boundary = CheckFaces(mesh, usable, rec);
  CheckCracks(mesh, sound, rec);
  s.twisted = CheckOverlap(mesh, sound, rec);
  CheckCrossings(mesh, boundary, rec);
  return s;
}

}  // namespace vela::census
