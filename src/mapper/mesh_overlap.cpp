#include "mapper/mesh_overlap.h"

#include "vec3.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace vela {

namespace {

// A sample counts as inside an element when it lies deeper than this share
// of a piece's height below the element's surface: a sample on a face that
// two elements share, or a hair past it from rounding, is outside both.
constexpr double kSurfaceMargin = 1e-6;
// Within the element, between its pieces, a sample on a seam counts for
// both pieces: the centroid of a neighbour can lie exactly on one.
constexpr double kSeamSlack = 1e-12;
// How far a sample is moved from the centroid towards a corner: half way
// still lies in the element's own pieces for any element that is not
// twisted, and reaches into the corners where two branches cross obliquely.
constexpr double kTowardsCorner = 0.5;
// The grid aims at about this many cells per element, and gives up refining
// when an element's box would have to be filed in more cells than this on
// average (long thin elements at an angle to the axes).
constexpr double kCellsPerElement = 1.0;
constexpr double kMaxFilingsPerElement = 64.0;
constexpr int kMaxCellsPerAxis = 512;

// Faces of each kind, counter-clockwise seen from outside for the corner
// orders of Vela_SolidMesh.h; -1 ends a triangle.
struct KindFaces {
  int count;
  int corners[6][4];
};
constexpr KindFaces kTetraFaces{4, {{0, 2, 1, -1}, {0, 1, 3, -1}, {1, 2, 3, -1}, {2, 0, 3, -1}}};
constexpr KindFaces kPyramidFaces{5, {{0, 3, 2, 1}, {0, 1, 4, -1}, {1, 2, 4, -1}, {2, 3, 4, -1}, {3, 0, 4, -1}}};
constexpr KindFaces kPrismFaces{5, {{0, 2, 1, -1}, {3, 4, 5, -1}, {0, 1, 4, 3}, {1, 2, 5, 4}, {2, 0, 3, 5}}};
constexpr KindFaces kHexaFaces{
    6, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}};

const KindFaces& FacesOf(int corners) {
  switch (corners) {
    case 4: return kTetraFaces;
    case 5: return kPyramidFaces;
    case 6: return kPrismFaces;
    default: return kHexaFaces;
  }
}

double Orient(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
  return Dot(Cross(Sub(b, a), Sub(c, a)), Sub(d, a));
}

// One element as the test reads it: its corners copied out, its centroid
// and its bounding box.
struct Cell {
  int corners = 0;
  std::array<Point3, 8> at{};
  Point3 centroid{};
  Point3 low{}, high{};
  bool tiled = false;  // its centroid sees every piece of its surface from the inside
  // A point inside the element lies inside the hull of its corners: short of
  // their furthest reach along each face's normal. Most candidates from the
  // grid fail one of these at once, before any piece is looked at.
  int faces = 0;
  std::array<Point3, 6> normal{};
  std::array<double, 6> reach{};
};

// Calls piece(a, b, c) for each triangle of the element's surface, in the
// face's turn; stops and returns true when piece does.
template <class Piece>
bool ForEachPiece(const Cell& e, Piece&& piece) {
  const KindFaces& faces = FacesOf(e.corners);
  for (int f = 0; f < faces.count; ++f) {
    const int* c = faces.corners[f];
    if (c[3] < 0) {
      if (piece(e.at[static_cast<size_t>(c[0])], e.at[static_cast<size_t>(c[1])], e.at[static_cast<size_t>(c[2])]))
        return true;
      continue;
    }
    Point3 mid{0.0, 0.0, 0.0};
    for (int k = 0; k < 4; ++k) mid = Add(mid, Scale(e.at[static_cast<size_t>(c[k])], 0.25));
    for (int k = 0; k < 4; ++k)
      if (piece(e.at[static_cast<size_t>(c[k])], e.at[static_cast<size_t>(c[(k + 1) % 4])], mid)) return true;
  }
  return false;
}

// Outward faces put the centroid on their negative side: a piece whose
// centroid is not strictly there has no volume, or faces the wrong way.
bool Tiled(const Cell& e) {
  return !ForEachPiece(e, [&](const Point3& a, const Point3& b, const Point3& c) {
    return !(Orient(a, b, c, e.centroid) < 0.0);
  });
}

// p inside the piece (a, b, c, centroid): its weight on the centroid beyond
// the margin (so, below the surface), its weights on a, b and c not below
// zero beyond rounding.
bool InsidePiece(const Point3& p, const Point3& a, const Point3& b, const Point3& c, const Point3& g) {
  const double v = Orient(a, b, c, g);  // negative
  const double slack = -kSeamSlack * v;
  return Orient(a, b, c, p) < kSurfaceMargin * v && Orient(p, b, c, g) <= slack &&
         Orient(a, p, c, g) <= slack && Orient(a, b, p, g) <= slack;
}

bool InBox(const Point3& p, const Cell& e) {
  return p[0] > e.low[0] && p[0] < e.high[0] && p[1] > e.low[1] && p[1] < e.high[1] && p[2] > e.low[2] &&
         p[2] < e.high[2];
}

// The face normals (a quadrilateral's from its diagonals, which does not
// depend on which way it is split) and the corners' reach along each.
void FillHull(Cell& e) {
  const KindFaces& faces = FacesOf(e.corners);
  e.faces = faces.count;
  for (int f = 0; f < faces.count; ++f) {
    const int* c = faces.corners[f];
    const auto at = [&](int k) -> const Point3& { return e.at[static_cast<size_t>(c[k])]; };
    const Point3 n = c[3] < 0 ? Cross(Sub(at(1), at(0)), Sub(at(2), at(0))) : Cross(Sub(at(2), at(0)), Sub(at(3), at(1)));
    double reach = Dot(n, e.at[0]);
    for (int k = 1; k < e.corners; ++k) reach = std::max(reach, Dot(n, e.at[static_cast<size_t>(k)]));
    e.normal[static_cast<size_t>(f)] = n;
    e.reach[static_cast<size_t>(f)] = reach;
  }
}

bool Inside(const Point3& p, const Cell& e) {
  if (!InBox(p, e)) return false;
  for (size_t f = 0; f < static_cast<size_t>(e.faces); ++f)
    if (Dot(e.normal[f], p) >= e.reach[f]) return false;
  return ForEachPiece(e, [&](const Point3& a, const Point3& b, const Point3& c) { return InsidePiece(p, a, b, c, e.centroid); });
}

// The elements' boxes filed in a uniform grid, cell by cell.
class BoxGrid {
public:
  explicit BoxGrid(const std::vector<Cell>& cells) {
    m_low = cells.front().low;
    Point3 high = cells.front().high;
    for (const Cell& e : cells)
      for (size_t a = 0; a < 3; ++a) {
        m_low[a] = std::min(m_low[a], e.low[a]);
        high[a] = std::max(high[a], e.high[a]);
      }
    Point3 extent = Sub(high, m_low);
    const double longest = std::max({extent[0], extent[1], extent[2]});
    // A flat or empty extent still gets one cell's depth.
    for (size_t a = 0; a < 3; ++a) extent[a] = std::max(extent[a], longest * 1e-3);
    const double count = static_cast<double>(cells.size());
    double size = std::cbrt(extent[0] * extent[1] * extent[2] / (kCellsPerElement * count));
    size = std::max(size, longest / kMaxCellsPerAxis);
    // Every box at one point: one cell holds them all.
    if (!(size > 0.0 && std::isfinite(size))) size = 1.0;
    // Coarser until the boxes fit in a bounded number of filings.
    for (;;) {
      for (size_t a = 0; a < 3; ++a)
        m_dims[a] = std::clamp(static_cast<int>(std::ceil(extent[a] / size)), 1, kMaxCellsPerAxis);
      m_size = size;
      double filings = 0.0;
      for (const Cell& e : cells) filings += Span(e, 0) * Span(e, 1) * Span(e, 2);
      if (filings <= kMaxFilingsPerElement * count || (m_dims[0] == 1 && m_dims[1] == 1 && m_dims[2] == 1)) break;
      size *= 2.0;
    }
    m_start.assign(static_cast<size_t>(m_dims[0]) * m_dims[1] * m_dims[2] + 1, 0);
    ForEachFiling(cells, [&](size_t cell, int) { ++m_start[cell + 1]; });
    for (size_t k = 1; k < m_start.size(); ++k) m_start[k] += m_start[k - 1];
    m_items.resize(m_start.back());
    std::vector<size_t> next(m_start.begin(), m_start.end() - 1);
    ForEachFiling(cells, [&](size_t cell, int element) { m_items[next[cell]++] = element; });
  }

  // Calls visit(element) for every element filed in the cell holding p;
  // stops and returns true when visit does.
  template <class Visit>
  bool AnyAt(const Point3& p, Visit&& visit) const {
    std::array<int, 3> at{};
    for (size_t a = 0; a < 3; ++a) {
      const double x = (p[a] - m_low[a]) / m_size;
      if (!(x >= 0.0 && x < m_dims[a])) return false;
      at[a] = std::min(static_cast<int>(x), m_dims[a] - 1);
    }
    const size_t cell = Index(at[0], at[1], at[2]);
    for (size_t k = m_start[cell]; k < m_start[cell + 1]; ++k)
      if (visit(m_items[k])) return true;
    return false;
  }

private:
  int Low(double v, size_t a) const {
    return std::clamp(static_cast<int>(std::floor((v - m_low[a]) / m_size)), 0, m_dims[a] - 1);
  }
  double Span(const Cell& e, size_t a) const { return Low(e.high[a], a) - Low(e.low[a], a) + 1.0; }
  size_t Index(int x, int y, int z) const {
    return (static_cast<size_t>(z) * static_cast<size_t>(m_dims[1]) + static_cast<size_t>(y)) *
               static_cast<size_t>(m_dims[0]) +
           static_cast<size_t>(x);
  }
  template <class File>
  void ForEachFiling(const std::vector<Cell>& cells, File&& file) const {
    for (size_t k = 0; k < cells.size(); ++k) {
      const Cell& e = cells[k];
      for (int z = Low(e.low[2], 2); z <= Low(e.high[2], 2); ++z)
        for (int y = Low(e.low[1], 1); y <= Low(e.high[1], 1); ++y)
          for (int x = Low(e.low[0], 0); x <= Low(e.high[0], 0); ++x) file(Index(x, y, z), static_cast<int>(k));
    }
  }

  Point3 m_low{};
  double m_size = 1.0;
  std::array<int, 3> m_dims{1, 1, 1};
  std::vector<size_t> m_start;
  std::vector<int> m_items;
};

}  // namespace

MeshOverlap FindOverlap(const std::vector<Point3>& nodes, const std::vector<Element>& elements,
                        bool stopAtFirst) {
  MeshOverlap out;
  std::vector<Cell> cells;
  std::vector<int> ids;
  cells.reserve(elements.size());
  for (size_t i = 0; i < elements.size(); ++i) {
    const Element& element = elements[i];
    Cell e;
    e.corners = element.CornerCount();
    bool usable = e.corners == 4 || e.corners == 5 || e.corners == 6 || e.corners == 8;
    for (int k = 0; k < e.corners && usable; ++k) {
      const int node = element.corners[static_cast<size_t>(k)];
      usable = node >= 0 && static_cast<size_t>(node) < nodes.size() && IsFinite(nodes[static_cast<size_t>(node)]);
      if (usable) e.at[static_cast<size_t>(k)] = nodes[static_cast<size_t>(node)];
    }
    if (!usable) continue;
    e.low = e.high = e.at[0];
    for (int k = 0; k < e.corners; ++k) {
      const Point3& p = e.at[static_cast<size_t>(k)];
      e.centroid = Add(e.centroid, Scale(p, 1.0 / e.corners));
      for (size_t a = 0; a < 3; ++a) {
        e.low[a] = std::min(e.low[a], p[a]);
        e.high[a] = std::max(e.high[a], p[a]);
      }
    }
    e.tiled = Tiled(e);
    FillHull(e);
    out.untiled += e.tiled ? 0 : 1;
    cells.push_back(e);
    ids.push_back(static_cast<int>(i));
  }
  if (cells.size() < 2) return out;
  const BoxGrid grid(cells);
  for (size_t k = 0; k < cells.size(); ++k) {
    const Cell& e = cells[k];
    bool overlaps = false;
    for (int sample = -1; sample < e.corners && !overlaps; ++sample) {
      const Point3 p = sample < 0 ? e.centroid
                                  : Add(e.centroid, Scale(Sub(e.at[static_cast<size_t>(sample)], e.centroid), kTowardsCorner));
      overlaps = grid.AnyAt(p, [&](int other) {
        const Cell& o = cells[static_cast<size_t>(other)];
        return static_cast<size_t>(other) != k && o.tiled && Inside(p, o);
      });
    }
    if (!overlaps) continue;
    ++out.overlapping;
    if (out.firstElement < 0) out.firstElement = ids[k];
    if (stopAtFirst) break;
  }
  return out;
}

}  // namespace vela
