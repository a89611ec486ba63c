#include "soundness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <unordered_map>

namespace vela::census {

namespace {

using Vec = std::array<double, 3>;

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

struct FaceUse {
  std::array<int, 4> key;  // sorted corners; a triangle's fourth is INT_MAX
  int element;
  int face;
  bool operator<(const FaceUse& o) const { return key < o.key; }
};

std::vector<int> FaceCorners(const MeshElement& e, int face) {
  std::vector<int> out;
  for (int local : TableOf(e.kind).faces[static_cast<size_t>(face)]) out.push_back(e.nodes[static_cast<size_t>(local)]);
  return out;
}

std::array<int, 4> KeyOf(std::vector<int> corners) {
  std::sort(corners.begin(), corners.end());
  std::array<int, 4> key{0, 0, 0, std::numeric_limits<int>::max()};
  std::copy(corners.begin(), corners.end(), key.begin());
  return key;
}

// True when b, read backwards, is a's cycle of corners.
bool OppositeTurn(const std::vector<int>& a, const std::vector<int>& b) {
  const size_t n = a.size();
  if (b.size() != n) return false;
  const auto start = std::find(b.begin(), b.end(), a[0]);
  if (start == b.end()) return false;
  const size_t s = static_cast<size_t>(start - b.begin());
  for (size_t k = 0; k < n; ++k)
    if (a[k] != b[(s + n - k) % n]) return false;
  return true;
}

void CheckFaces(const MemoryMesh& mesh, const std::vector<char>& usable, Recorder& rec) {
  std::vector<FaceUse> uses;
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    if (!usable[i]) continue;
    const MeshElement& e = mesh.elements[i];
    const int faces = static_cast<int>(TableOf(e.kind).faces.size());
    for (int f = 0; f < faces; ++f) uses.push_back({KeyOf(FaceCorners(e, f)), static_cast<int>(i), f});
  }
  std::sort(uses.begin(), uses.end());

  std::vector<std::vector<int>> boundary;
  for (size_t g = 0; g < uses.size();) {
    size_t end = g;
    while (end < uses.size() && uses[end].key == uses[g].key) ++end;
    const auto corners = [&](size_t u) {
      return FaceCorners(mesh.elements[static_cast<size_t>(uses[u].element)], uses[u].face);
    };
    if (end - g == 1) boundary.push_back(corners(g));
    if (end - g == 2 && !OppositeTurn(corners(g), corners(g + 1))) rec.Add(Fault::FaceTurn, uses[g].element);
    if (end - g > 2) rec.Add(Fault::OverShared, uses[g].element);
    g = end;
  }

  // Boundary edges, directed by their face's turn: each must be met once
  // each way.
  std::vector<std::pair<std::pair<int, int>, int>> edges;  // (low, high), +1 low->high, -1 back
  std::vector<std::array<int, 4>> triangles;
  for (const auto& f : boundary) {
    for (size_t k = 0; k < f.size(); ++k) {
      const int a = f[k], b = f[(k + 1) % f.size()];
      edges.push_back({{std::min(a, b), std::max(a, b)}, a < b ? 1 : -1});
    }
    if (f.size() == 3) triangles.push_back(KeyOf(f));
  }
  std::sort(edges.begin(), edges.end());
  for (size_t g = 0; g < edges.size();) {
    size_t end = g;
    int balance = 0;
    while (end < edges.size() && edges[end].first == edges[g].first) balance += edges[end++].second;
    if (end - g != 2 || balance != 0) rec.Add(Fault::OpenBoundary, edges[g].first.first);
    g = end;
  }

  std::sort(triangles.begin(), triangles.end());
  const auto hasTriangle = [&](int a, int b, int c) {
    return std::binary_search(triangles.begin(), triangles.end(), KeyOf({a, b, c}));
  };
  for (const auto& f : boundary)
    if (f.size() == 4 && ((hasTriangle(f[0], f[1], f[2]) && hasTriangle(f[0], f[2], f[3])) ||
                          (hasTriangle(f[1], f[2], f[3]) && hasTriangle(f[1], f[3], f[0]))))
      rec.Add(Fault::HangingFace, f[0]);
}

// --- spatial hashing -------------------------------------------------------------------------

using CellKey = std::array<std::int64_t, 3>;

// Cell coordinates, clamped so that far-out or huge coordinates still hash
// (they then share cells, which costs time but not correctness).
CellKey CellOf(const Vec& p, double h) {
  CellKey c{};
  for (size_t a = 0; a < 3; ++a) c[a] = static_cast<std::int64_t>(std::floor(std::clamp(p[a] / h, -1e15, 1e15)));
  return c;
}

struct CellHash {
  size_t operator()(const CellKey& c) const {
    std::uint64_t h = 1469598103934665603ull;
    for (std::int64_t v : c) h = (h ^ static_cast<std::uint64_t>(v)) * 1099511628211ull;
    return static_cast<size_t>(h ^ (h >> 29));
  }
};

using CellMap = std::unordered_map<CellKey, std::vector<int>, CellHash>;

// --- cracks ----------------------------------------------------------------------------------

void CheckCracks(const MemoryMesh& mesh, const std::vector<char>& usable, Recorder& rec) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> shortest(mesh.nodes.size(), inf);
  for (size_t i = 0; i < mesh.elements.size(); ++i) {
    if (!usable[i]) continue;
    const MeshElement& e = mesh.elements[i];
    for (const auto& [a, b] : TableOf(e.kind).edges) {
      const int na = e.nodes[static_cast<size_t>(a)], nb = e.nodes[static_cast<size_t>(b)];
      const double len = Norm(Sub(At(mesh, na), At(mesh, nb)));
      shortest[static_cast<size_t>(na)] = std::min(shortest[static_cast<size_t>(na)], len);
      shortest[static_cast<size_t>(nb)] = std::min(shortest[static_cast<size_t>(nb)], len);
    }
  }
  double h = 0.0;
  for (double s : shortest)
    if (s < inf) h = std::max(h, kCrackShare * s);
  if (!(h > 0.0) || !std::isfinite(h)) return;

  CellMap cells;
  for (size_t n = 0; n < mesh.nodes.size(); ++n)
    if (shortest[n] < inf) cells[CellOf(mesh.nodes[n], h)].push_back(static_cast<int>(n));
  for (size_t n = 0; n < mesh.nodes.size(); ++n) {
    if (!(shortest[n] < inf)) continue;
    const CellKey c = CellOf(mesh.nodes[n], h);
    for (std::int64_t dx = -1; dx <= 1; ++dx)
      for (std::int64_t dy = -1; dy <= 1; ++dy)
        for (std::int64_t dz = -1; dz <= 1; ++dz) {
          const auto it = cells.find({c[0] + dx, c[1] + dy, c[2] + dz});
          if (it == cells.end()) continue;
          for (int m : it->second) {
            if (static_cast<size_t>(m) <= n) continue;
            const double tol = kCrackShare * std::min(shortest[n], shortest[static_cast<size_t>(m)]);
            if (Norm(Sub(mesh.nodes[n], At(mesh, m))) < tol) rec.Add(Fault::Crack, static_cast<int>(n));
          }
        }
  }
}

// --- overlap ---------------------------------------------------------------------------------

struct Box {
  Vec lo{}, hi{};
  bool Contains(const Vec& p) const {
    return p[0] > lo[0] && p[0] < hi[0] && p[1] > lo[1] && p[1] < hi[1] && p[2] > lo[2] && p[2] < hi[2];
  }
};

// What the overlap test needs of an element, computed once.
struct Shape {
  int id = -1;
  const KindTable* table = nullptr;
  int corners = 0;
  std::array<Vec, 8> at{};
  Vec centroid{};
  Box box;
  // A point inside the element lies inside the hull of its corners, so it
  // lies below the corners' highest reach along every direction; the face
  // normals make the cheapest such directions, and most candidates fail one
  // of them at once.
  int directions = 0;
  std::array<Vec, 6> normal{};
  std::array<double, 6> reach{};
};

Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Shape ShapeOf(const MemoryMesh& mesh, int id) {
  const MeshElement& e = mesh.elements[static_cast<size_t>(id)];
  Shape s;
  s.id = id;
  s.table = &TableOf(e.kind);
  s.corners = e.CornerCount();
  for (size_t k = 0; k < static_cast<size_t>(s.corners); ++k) s.at[k] = At(mesh, e.nodes[k]);
  s.box = {s.at[0], s.at[0]};
  for (size_t k = 0; k < static_cast<size_t>(s.corners); ++k)
    for (size_t a = 0; a < 3; ++a) {
      s.centroid[a] += s.at[k][a] / s.corners;
      s.box.lo[a] = std::min(s.box.lo[a], s.at[k][a]);
      s.box.hi[a] = std::max(s.box.hi[a], s.at[k][a]);
    }
  for (const auto& face : s.table->faces) {
    const Vec& a = s.at[static_cast<size_t>(face[0])];
    const Vec& b = s.at[static_cast<size_t>(face[1])];
    const Vec& c = s.at[static_cast<size_t>(face[2])];
    // Newell's normal of a quadrilateral is the cross product of its diagonals.
    const Vec n = face.size() == 3 ? Cross(Sub(b, a), Sub(c, a)) : Cross(Sub(c, a), Sub(s.at[static_cast<size_t>(face[3])], b));
    double reach = -std::numeric_limits<double>::infinity();
    for (size_t k = 0; k < static_cast<size_t>(s.corners); ++k) reach = std::max(reach, Dot(n, s.at[k]));
    s.normal[static_cast<size_t>(s.directions)] = n;
    s.reach[static_cast<size_t>(s.directions)] = reach;
    ++s.directions;
  }
  return s;
}

// The tetrahedron (a, b, c, centre) is one piece of an element: (a, b, c)
// lies on the element's surface, the other three faces inside it. A point
// counts as inside when it lies a margin within the surface face and anywhere
// up to rounding on the inner faces, so that points on the seams between
// pieces (the centroid of a neighbour on a symmetry line) still count.
bool InsidePiece(const Vec& p, const Vec& a, const Vec& b, const Vec& c, const Vec& centre) {
  const double v = Orient(a, b, c, centre);
  if (!(v > 0.0)) return false;  // a flat or turned piece of a warped element proves nothing
  const double seam = -1e-12 * v;
  return Orient(a, b, c, p) > kInsideMargin * v && Orient(p, b, c, centre) >= seam &&
         Orient(a, p, c, centre) >= seam && Orient(a, b, p, centre) >= seam;
}

// Splits the element into tetrahedra from its centroid to each face; a
// quadrilateral is fanned from its centre, so that two elements sharing a
// warped face split it alike and never seem to overlap there.
bool Inside(const Vec& p, const Shape& s) {
  if (!s.box.Contains(p)) return false;
  for (size_t d = 0; d < static_cast<size_t>(s.directions); ++d)
    if (Dot(s.normal[d], p) >= s.reach[d]) return false;
  for (const auto& face : s.table->faces) {
    const auto corner = [&](size_t k) -> const Vec& { return s.at[static_cast<size_t>(face[k])]; };
    if (face.size() == 3) {
      // The face turns counter-clockwise seen from outside, so (a, c, b) with
      // the centroid behind it is positive.
      if (InsidePiece(p, corner(0), corner(2), corner(1), s.centroid)) return true;
      continue;
    }
    Vec mid{};
    for (size_t k = 0; k < 4; ++k)
      for (size_t a = 0; a < 3; ++a) mid[a] += 0.25 * corner(k)[a];
    for (size_t k = 0; k < 4; ++k)
      if (InsidePiece(p, corner(k), mid, corner((k + 1) % 4), s.centroid)) return true;
  }
  return false;
}

void CheckOverlap(const MemoryMesh& mesh, const std::vector<char>& sound, Recorder& rec) {
  std::vector<Shape> shapes;
  for (size_t i = 0; i < mesh.elements.size(); ++i)
    if (sound[i]) shapes.push_back(ShapeOf(mesh, static_cast<int>(i)));
  if (shapes.size() < 2) return;

  std::vector<double> extents;
  for (const Shape& s : shapes) {
    const Box& b = s.box;
    extents.push_back(std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]}));
  }
  // Cells about the size of a typical element: a few candidates per sample,
  // a few cells per element.
  std::nth_element(extents.begin(), extents.begin() + static_cast<long>(extents.size() / 2), extents.end());
  const double h = extents[extents.size() / 2];
  if (!(h > 0.0) || !std::isfinite(h)) return;

  // An element far larger than the cells (a long straight leg among fine
  // sections) would fill thousands of cells; every sample tests it directly.
  constexpr double kMaxCellsPerElement = 512;
  CellMap cells;
  std::vector<int> large;  // indices into shapes
  for (size_t k = 0; k < shapes.size(); ++k) {
    const Box& b = shapes[k].box;
    const CellKey lo = CellOf(b.lo, h), hi = CellOf(b.hi, h);
    double span = 1.0;
    for (size_t a = 0; a < 3; ++a) span *= static_cast<double>(hi[a] - lo[a]) + 1.0;
    if (span > kMaxCellsPerElement) {
      large.push_back(static_cast<int>(k));
      continue;
    }
    for (std::int64_t x = lo[0]; x <= hi[0]; ++x)
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
        for (std::int64_t z = lo[2]; z <= hi[2]; ++z) cells[{x, y, z}].push_back(static_cast<int>(k));
  }
  std::vector<Box> boxes;
  for (const Shape& s : shapes) boxes.push_back(s.box);
  const auto insideAnother = [&](size_t self, const Vec& p, const std::vector<int>& candidates) {
    for (int k : candidates)
      if (static_cast<size_t>(k) != self && boxes[static_cast<size_t>(k)].Contains(p) &&
          Inside(p, shapes[static_cast<size_t>(k)]))
        return true;
    return false;
  };

  for (size_t k = 0; k < shapes.size(); ++k) {
    const Shape& s = shapes[k];
    bool overlaps = false;
    for (int sample = -1; sample < s.corners && !overlaps; ++sample) {
      Vec p = s.centroid;
      if (sample >= 0)
        for (size_t a = 0; a < 3; ++a) p[a] += kSamplePull * (s.at[static_cast<size_t>(sample)][a] - p[a]);
      const auto it = cells.find(CellOf(p, h));
      overlaps = (it != cells.end() && insideAnother(k, p, it->second)) || insideAnother(k, p, large);
    }
    if (overlaps) rec.Add(Fault::Overlap, s.id);
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

  CheckFaces(mesh, usable, rec);
  CheckCracks(mesh, sound, rec);
  CheckOverlap(mesh, sound, rec);
  return s;
}

}  // namespace vela::census
