// The two fault classes that need to know which things lie near each other:
// coincident nodes and overlapping elements. Both bin into a uniform grid so
// that a mesh of a hundred thousand elements is checked in linear time on
// average, not compared pair by pair.

#include "quality_detail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vela::quality::detail {

namespace {

using Vec = std::array<double, 3>;
using Cell = std::array<long long, 3>;

// Cells never get finer than this share of the mesh's extent, so that cell
// numbers stay far inside 64 bits (and inside 21 bits for the element grid)
// whatever tolerance or element size is asked for.
constexpr double kFinestNodeCell = 0x1p-40;
constexpr double kFinestElementCell = 0x1p-20;

// Barycentric coordinates above this share of the tetrahedron count as
// strictly inside: a centroid on a shared face of two sound elements must not
// come out inside either neighbour.
constexpr double kInsideMargin = 1e-9;


Vec Sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

double SquaredDistance(const Vec& a, const Vec& b) {
  const Vec d = Sub(a, b);
  return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

double Det(const Vec& a, const Vec& b, const Vec& c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

struct Box {
  Vec lo{}, hi{};
};

Box BoxOf(const std::vector<Vec>& points) {
  Box b{points.front(), points.front()};
  for (const Vec& p : points)
    for (size_t k = 0; k < 3; ++k) {
      b.lo[k] = std::min(b.lo[k], p[k]);
      b.hi[k] = std::max(b.hi[k], p[k]);
    }
  return b;
}

double LargestExtent(const Box& b) {
  return std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
}

// A node position seen once or more, with its smallest two node numbers.
struct Distinct {
  Vec point;
  int first = -1;
  int second = -1;
  long long multiplicity = 0;
};

struct PairCounter {
  FaultList out;
  double tol;

  bool Within(const Vec& a, const Vec& b) const {
    return std::fabs(a[0] - b[0]) <= tol && std::fabs(a[1] - b[1]) <= tol && std::fabs(a[2] - b[2]) <= tol;
  }
  void Add(long long pairs, int a, int b) {
    out.count += pairs;
    if (out.named.size() < 2 * kNamedPerFault) {
      out.named.push_back(std::min(a, b));
      out.named.push_back(std::max(a, b));
    }
  }
  void Compare(const Distinct& a, const Distinct& b) {
    if (Within(a.point, b.point)) Add(a.multiplicity * b.multiplicity, a.first, b.first);
  }
};

}  // namespace

FaultList FindCoincidentNodes(const std::vector<Vec>& nodes, double tol) {
  std::vector<Vec> finite;
  std::vector<int> ids;
  for (size_t i = 0; i < nodes.size(); ++i)
    if (IsFinite(nodes[i])) {
      finite.push_back(nodes[i]);
      ids.push_back(static_cast<int>(i));
    }
  PairCounter counter{{}, tol};
  if (finite.size() < 2) return counter.out;

  // Cells about as wide as the nodes are apart, and never narrower than the
  // tolerance: a node then meets the nodes of its own cell, and those of a
  // neighbouring cell only when it lies within tol of the border between.
  const Box box = BoxOf(finite);
  const double extent = LargestExtent(box);
  double size = std::max({tol, extent * kFinestNodeCell, extent / std::cbrt(static_cast<double>(finite.size()))});
  if (!(size > 0.0)) size = 1.0;  // every node at one place
  auto cellOf = [&](const Vec& p) {
    return Cell{static_cast<long long>(std::floor((p[0] - box.lo[0]) / size)),
                static_cast<long long>(std::floor((p[1] - box.lo[1]) / size)),
                static_cast<long long>(std::floor((p[2] - box.lo[2]) / size))};
  };

  // Sorted by cell, then position, then node: equal positions end up next to
  // each other inside their cell.
  std::vector<Cell> cells(finite.size());
  for (size_t i = 0; i < finite.size(); ++i) cells[i] = cellOf(finite[i]);
  std::vector<size_t> order(finite.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (cells[a] != cells[b]) return cells[a] < cells[b];
    if (finite[a] != finite[b]) return finite[a] < finite[b];
    return ids[a] < ids[b];
  });

  std::vector<Distinct> distinct;
  struct CellRange {
    Cell cell;
    size_t begin, end;  // in distinct
  };
  std::vector<CellRange> cellRanges;  // sorted by cell
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    const bool newCell = k == 0 || cells[i] != cells[order[k - 1]];
    if (newCell || finite[i] != distinct.back().point) distinct.push_back({finite[i], ids[i], -1, 0});
    Distinct& d = distinct.back();
    if (d.multiplicity == 1) d.second = ids[i];
    ++d.multiplicity;
    if (newCell) cellRanges.push_back({cells[i], distinct.size() - 1, 0});
    cellRanges.back().end = distinct.size();
  }
  auto findCell = [&](const Cell& cell) -> const CellRange* {
    const auto it = std::lower_bound(cellRanges.begin(), cellRanges.end(), cell,
                                     [](const CellRange& r, const Cell& c) { return r.cell < c; });
    return it != cellRanges.end() && it->cell == cell ? &*it : nullptr;
  };

  for (const Distinct& d : distinct)
    if (d.multiplicity > 1) counter.Add(d.multiplicity * (d.multiplicity - 1) / 2, d.first, d.second);
  // A little more than tol, so that rounding in the cell arithmetic can only
  // add a neighbour to look at, never drop one.
  const double near = tol + 1e-9 * size;
  for (const CellRange& range : cellRanges) {
    for (size_t a = range.begin; a < range.end; ++a) {
      for (size_t b = a + 1; b < range.end; ++b) counter.Compare(distinct[a], distinct[b]);
      // The neighbouring cells this node lies near, on each axis.
      std::array<std::array<bool, 3>, 3> side{};  // [axis][offset + 1]
      for (size_t k = 0; k < 3; ++k) {
        const double from = distinct[a].point[k] - (box.lo[k] + static_cast<double>(range.cell[k]) * size);
        side[k] = {from <= near, true, size - from <= near};
      }
      for (long long dx = -1; dx <= 1; ++dx)
        for (long long dy = -1; dy <= 1; ++dy)
          for (long long dz = -1; dz <= 1; ++dz) {
            // Each pair of cells once: from the one that sorts first.
            if (!(Cell{dx, dy, dz} > Cell{0, 0, 0})) continue;
            if (!side[0][static_cast<size_t>(dx + 1)] || !side[1][static_cast<size_t>(dy + 1)] ||
                !side[2][static_cast<size_t>(dz + 1)])
              continue;
            const CellRange* other = findCell({range.cell[0] + dx, range.cell[1] + dy, range.cell[2] + dz});
            if (other == nullptr) continue;
            for (size_t b = other->begin; b < other->end; ++b) counter.Compare(distinct[a], distinct[b]);
          }
    }
  }
  return counter.out;
}

namespace {

Vec Centroid(const MemoryMesh& mesh, const MeshElement& e) {
  Vec c{0, 0, 0};
  for (int k = 0; k < e.CornerCount(); ++k)
    for (size_t a = 0; a < 3; ++a) c[a] += mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(k)])][a];
  for (double& v : c) v /= e.CornerCount();
  return c;
}

bool StrictlyInsideTetra(const Vec& p, const Vec& a, const Vec& b, const Vec& c, const Vec& d) {
  const double volume = Det(Sub(b, a), Sub(c, a), Sub(d, a));
  if (!(volume > 0.0)) return false;  // a warped element's sliver: left out
  const double margin = kInsideMargin * volume;
  return Det(Sub(b, p), Sub(c, p), Sub(d, p)) > margin && Det(Sub(p, a), Sub(c, a), Sub(d, a)) > margin &&
         Det(Sub(b, a), Sub(p, a), Sub(d, a)) > margin && Det(Sub(b, a), Sub(c, a), Sub(p, a)) > margin;
}

bool StrictlyInside(const MemoryMesh& mesh, const MeshElement& e, const Vec& centre, const Vec& p) {
  auto node = [&](int corner) -> const Vec& {
    return mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(corner)])];
  };
  const FaceTable& table = LocalFaces(e.kind);
  for (int f = 0; f < table.count; ++f) {
    const LocalFace& face = table.faces[static_cast<size_t>(f)];
    auto corner = [&](int i) -> const Vec& { return node(face.corners[static_cast<size_t>(i % face.size)]); };
    if (face.size == 3) {
      if (StrictlyInsideTetra(p, centre, corner(0), corner(1), corner(2))) return true;
      continue;
    }
    Vec mid{0, 0, 0};
    for (int i = 0; i < 4; ++i)
      for (size_t a = 0; a < 3; ++a) mid[a] += corner(i)[a] / 4;
    for (int i = 0; i < 4; ++i)
      if (StrictlyInsideTetra(p, centre, corner(i), corner(i + 1), mid)) return true;
  }
  return false;
}

// The element's corners seen along one direction: the element lies within
// their hull, so a point outside the open interval cannot lie strictly inside.
struct Slab {
  Vec direction{};
  double lo = 0.0, hi = 0.0;

  bool Excludes(const Vec& p) const {
    const double along = p[0] * direction[0] + p[1] * direction[1] + p[2] * direction[2];
    return along <= lo || along >= hi;
  }
};

// The thinnest slab across the element's face normals. A box or a sphere
// round a long thin element holds many of its neighbours' centroids; the slab
// across its thin side holds none of them.
Slab ThinnestSlab(const MemoryMesh& mesh, const MeshElement& e) {
  auto node = [&](int corner) -> const Vec& {
    return mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(corner)])];
  };
  Slab best;
  double bestWidth = std::numeric_limits<double>::infinity();
  const FaceTable& table = LocalFaces(e.kind);
  for (int f = 0; f < table.count; ++f) {
    const LocalFace& face = table.faces[static_cast<size_t>(f)];
    Vec normal{0, 0, 0};
    for (int i = 0; i < face.size; ++i) {  // Newell's normal
      const Vec& a = node(face.corners[static_cast<size_t>(i)]);
      const Vec& b = node(face.corners[static_cast<size_t>((i + 1) % face.size)]);
      normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
      normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
      normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    const double length = std::sqrt(SquaredDistance(normal, {0, 0, 0}));
    if (!(length > 0.0)) continue;
    Slab slab{{normal[0] / length, normal[1] / length, normal[2] / length},
              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (int k = 0; k < e.CornerCount(); ++k) {
      const Vec& p = node(k);
      const double along = p[0] * slab.direction[0] + p[1] * slab.direction[1] + p[2] * slab.direction[2];
      slab.lo = std::min(slab.lo, along);
      slab.hi = std::max(slab.hi, along);
    }
    if (slab.hi - slab.lo < bestWidth) {
      bestWidth = slab.hi - slab.lo;
      best = slab;
    }
  }
  if (!std::isfinite(bestWidth)) {  // no face with a normal: exclude nothing
    best.lo = -std::numeric_limits<double>::infinity();
    best.hi = std::numeric_limits<double>::infinity();
  }
  return best;
}

// The grid's cell size: the median element's mean extent (the cube root of
// its box's volume), coarsened until the elements land in not too many cells
// in all. The largest extent would do for stout elements, but a branch's
// elements are long along the runner and thin across it, and cells that long
// would each hold thousands of them.
double ElementCellSize(const std::vector<Box>& boxes, const Box& all) {
  std::vector<double> extents;
  extents.reserve(boxes.size());
  for (const Box& b : boxes) {
    const double largest = LargestExtent(b);
    double volume = 1.0;
    for (size_t k = 0; k < 3; ++k) volume *= std::max(b.hi[k] - b.lo[k], 1e-3 * largest);
    extents.push_back(std::cbrt(volume));
  }
  std::nth_element(extents.begin(), extents.begin() + static_cast<long>(extents.size() / 2), extents.end());
  double size = std::max(extents[extents.size() / 2], LargestExtent(all) * kFinestElementCell);
  if (!(size > 0.0)) return 1.0;
  const double budget = 32.0 * static_cast<double>(boxes.size()) + 1e6;
  for (;;) {
    double entries = 0.0;
    for (const Box& b : boxes) {
      double cells = 1.0;
      for (size_t k = 0; k < 3; ++k)
        cells *= std::floor((b.hi[k] - all.lo[k]) / size) - std::floor((b.lo[k] - all.lo[k]) / size) + 1.0;
      entries += cells;
    }
    if (entries <= budget) return size;
    size *= 2.0;
  }
}

}  // namespace

FaultList FindOverlaps(const MemoryMesh& mesh, const std::vector<char>& usable) {
  FaultList out;
  std::vector<int> ids;
  std::vector<Box> boxes;
  std::vector<Vec> centroids;
  std::vector<double> reach;  // squared distance from the centroid to the farthest corner
  std::vector<Slab> slabs;
  std::vector<Vec> corners;
  for (size_t e = 0; e < mesh.elements.size(); ++e) {
    if (!usable[e]) continue;
    corners.clear();
    const MeshElement& element = mesh.elements[e];
    for (int k = 0; k < element.CornerCount(); ++k)
      corners.push_back(mesh.nodes[static_cast<size_t>(element.nodes[static_cast<size_t>(k)])]);
    ids.push_back(static_cast<int>(e));
    boxes.push_back(BoxOf(corners));
    centroids.push_back(Centroid(mesh, element));
    double farthest = 0.0;
    for (const Vec& p : corners) farthest = std::max(farthest, SquaredDistance(p, centroids.back()));
    reach.push_back(farthest);
    slabs.push_back(ThinnestSlab(mesh, element));
  }
  if (ids.size() < 2) return out;

  Box all = boxes.front();
  for (const Box& b : boxes)
    for (size_t k = 0; k < 3; ++k) {
      all.lo[k] = std::min(all.lo[k], b.lo[k]);
      all.hi[k] = std::max(all.hi[k], b.hi[k]);
    }
  const double size = ElementCellSize(boxes, all);
  auto index = [&](double v, size_t axis) { return static_cast<uint64_t>(std::floor((v - all.lo[axis]) / size)); };
  auto key = [](uint64_t x, uint64_t y, uint64_t z) { return x | (y << 21) | (z << 42); };

  std::vector<std::pair<uint64_t, int>> entries;  // cell key, position in ids
  entries.reserve(boxes.size() * 8);  // an element spans about eight cells of its own size
  for (size_t i = 0; i < boxes.size(); ++i) {
    const Box& b = boxes[i];
    for (uint64_t x = index(b.lo[0], 0); x <= index(b.hi[0], 0); ++x)
      for (uint64_t y = index(b.lo[1], 1); y <= index(b.hi[1], 1); ++y)
        for (uint64_t z = index(b.lo[2], 2); z <= index(b.hi[2], 2); ++z)
          entries.emplace_back(key(x, y, z), static_cast<int>(i));
  }
  std::sort(entries.begin(), entries.end());

  // Elements that share a node with the probe are its neighbours: a fan of
  // thin elements round a section's centre would otherwise make every one a
  // candidate of every other, and folds between neighbours show as inverted
  // elements or faces shared in the same turn already.
  std::vector<size_t> probeOf(mesh.nodes.size(), ids.size());
  auto sharesNode = [&](const MeshElement& e, size_t probe) {
    for (int k = 0; k < e.CornerCount(); ++k)
      if (probeOf[static_cast<size_t>(e.nodes[static_cast<size_t>(k)])] == probe) return true;
    return false;
  };
  for (size_t i = 0; i < ids.size(); ++i) {
    const MeshElement& probe = mesh.elements[static_cast<size_t>(ids[i])];
    for (int k = 0; k < probe.CornerCount(); ++k) probeOf[static_cast<size_t>(probe.nodes[static_cast<size_t>(k)])] = i;
    const Vec& c = centroids[i];
    const uint64_t cell = key(index(c[0], 0), index(c[1], 1), index(c[2], 2));
    auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(cell, 0));
    for (; it != entries.end() && it->first == cell; ++it) {
      const size_t j = static_cast<size_t>(it->second);
      const Box& b = boxes[j];
      if (j == i || c[0] < b.lo[0] || c[0] > b.hi[0] || c[1] < b.lo[1] || c[1] > b.hi[1] || c[2] < b.lo[2] ||
          c[2] > b.hi[2])
        continue;
      // The element lies within the hull of its corners, so within its reach
      // of its centroid: the cheapest test that rules out most fat boxes.
      if (SquaredDistance(c, centroids[j]) >= reach[j] || slabs[j].Excludes(c)) continue;
      const MeshElement& other = mesh.elements[static_cast<size_t>(ids[j])];
      if (sharesNode(other, i)) continue;
      if (StrictlyInside(mesh, other, centroids[j], c)) {
        Note(out, ids[i]);
        break;
      }
    }
  }
  return out;
}

}  // namespace vela::quality::detail
