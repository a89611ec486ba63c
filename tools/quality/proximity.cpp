// Coincident nodes: pairs of nodes that lie within the tolerance of each
// other. The nodes are binned into a uniform grid, so that a mesh of a hundred
// thousand nodes is checked in linear time on average, not pair by pair.

#include "parallel.h"
#include "quality_detail.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vela::quality::detail {

namespace {

using Vec = std::array<double, 3>;
using Cell = std::array<long long, 3>;

// Cells never get finer than this share of the mesh's extent, so that cell
// numbers stay far inside 64 bits whatever tolerance is asked for.
constexpr double kFinestNodeCell = 0x1p-40;

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

// The neighbouring cells that sort after a cell, in the order they are
// looked at: each pair of cells is compared once, from the one that sorts first.
constexpr std::array<Cell, 13> kLaterNeighbours{{{0, 0, 1},
                                                 {0, 1, -1},
                                                 {0, 1, 0},
                                                 {0, 1, 1},
                                                 {1, -1, -1},
                                                 {1, -1, 0},
                                                 {1, -1, 1},
                                                 {1, 0, -1},
                                                 {1, 0, 0},
                                                 {1, 0, 1},
                                                 {1, 1, -1},
                                                 {1, 1, 0},
                                                 {1, 1, 1}}};

// Compared field by field: std::array's equality goes through memcmp, which
// costs more than three comparisons.
bool SameCell(const Cell& a, const Cell& b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

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

// The nodes in the order `before` gives: by cell first, the cells in the
// order of their numbers (x, then y, then z). The cells are about as many
// as the nodes (they are about as wide as the nodes are apart), so the nodes
// are counted into them and the few of each cell sorted among themselves:
// linear, where one sort of all would not be. A grid of far more cells than
// nodes (which the cell width should rule out) falls back to sorting all,
// in pieces on the threads, merged.
template <class Before>
UnsetVector<size_t> SortedByCell(const UnsetVector<Cell>& cells, int threads, const Before& before) {
  UnsetVector<size_t> order(cells.size());
  std::array<long long, 3> dims{1, 1, 1};
  bool countable = true;
  for (const Cell& c : cells)
    for (size_t a = 0; a < 3; ++a) {
      countable = countable && c[a] >= 0 && c[a] < (1LL << 40);
      dims[a] = std::max(dims[a], c[a] + 1);
    }
  const double cellCount = static_cast<double>(dims[0]) * static_cast<double>(dims[1]) * static_cast<double>(dims[2]);
  if (countable && cellCount <= 8.0 * static_cast<double>(cells.size()) + 4096.0) {
    const auto number = [&](const Cell& c) { return static_cast<size_t>((c[0] * dims[1] + c[1]) * dims[2] + c[2]); };
    std::vector<std::uint32_t> start(static_cast<size_t>(cellCount) + 1, 0);
    for (const Cell& c : cells) ++start[number(c) + 1];
    for (size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < cells.size(); ++i) order[fill[number(cells[i])]++] = i;
    for (size_t k = 0; k + 1 < start.size(); ++k)
      if (start[k + 1] - start[k] > 1)
        std::sort(order.begin() + static_cast<std::ptrdiff_t>(start[k]), order.begin() + static_cast<std::ptrdiff_t>(start[k + 1]), before);
    return order;
  }
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  // The order is total (no two nodes share an id), so sorting pieces of it
  // on the threads and merging them gives the one sorted order.
  const size_t pieces = std::min<size_t>({static_cast<size_t>(ThreadCount(threads)), 8, order.size() / 4096 + 1});
  std::vector<size_t> cut(pieces + 1);
  for (size_t k = 0; k <= pieces; ++k) cut[k] = order.size() * k / pieces;
  const auto at = [&](size_t k) { return order.begin() + static_cast<std::ptrdiff_t>(cut[k]); };
  ForRanges(threads, pieces * kRangeLength, [&](size_t begin, size_t, int) {
    const size_t k = begin / kRangeLength;
    std::sort(at(k), at(k + 1), before);
  });
  for (size_t width = 1; width < pieces; width *= 2)
    for (size_t k = 0; k + width < pieces; k += 2 * width)
      std::inplace_merge(at(k), at(k + width), at(std::min(pieces, k + 2 * width)), before);
  return order;
}

}  // namespace

FaultList FindCoincidentNodes(const std::vector<Vec>& nodes, double tol, int threads) {
  // Room for every node, of which only what is used is touched: grown
  // instead, these would touch twice their size in fresh memory, in copies.
  std::vector<Vec> finite;
  std::vector<int> ids;
  finite.reserve(nodes.size());
  ids.reserve(nodes.size());
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
  UnsetVector<Cell> cells(finite.size());
  ForRanges(threads, finite.size(), [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) cells[i] = cellOf(finite[i]);
  });
  const auto before = [&](size_t a, size_t b) {
    if (!SameCell(cells[a], cells[b])) return cells[a] < cells[b];
    if (finite[a] != finite[b]) return finite[a] < finite[b];
    return ids[a] < ids[b];
  };
  const UnsetVector<size_t> order = SortedByCell(cells, threads, before);
  std::vector<Distinct> distinct;
  distinct.reserve(finite.size());
  struct CellRange {
    Cell cell;
    size_t begin, end;  // in distinct
  };
  std::vector<CellRange> cellRanges;  // sorted by cell
  cellRanges.reserve(finite.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    const bool newCell = k == 0 || !SameCell(cells[i], cells[order[k - 1]]);
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
    return it != cellRanges.end() && SameCell(it->cell, cell) ? &*it : nullptr;
  };

  for (const Distinct& d : distinct)
    if (d.multiplicity > 1) counter.Add(d.multiplicity * (d.multiplicity - 1) / 2, d.first, d.second);
  // A little more than tol, so that rounding in the cell arithmetic can only
  // add a neighbour to look at, never drop one.
  const double near = tol + 1e-9 * size;
  for (const CellRange& range : cellRanges) {
    for (size_t a = range.begin; a < range.end; ++a) {
      // A cell's points come by x: past the first more than tol beyond
      // this one's x, none is within tol.
      for (size_t b = a + 1; b < range.end && !(distinct[b].point[0] - distinct[a].point[0] > tol); ++b)
        counter.Compare(distinct[a], distinct[b]);
      // The neighbouring cells this node lies near, on each axis.
      std::array<std::array<bool, 3>, 3> side{};  // [axis][offset + 1]
      for (size_t k = 0; k < 3; ++k) {
        const double from = distinct[a].point[k] - (box.lo[k] + static_cast<double>(range.cell[k]) * size);
        side[k] = {from <= near, true, size - from <= near};
      }
      if (!(side[0][0] || side[0][2] || side[1][0] || side[1][2] || side[2][0] || side[2][2])) continue;
      for (const Cell& d : kLaterNeighbours) {
        if (!side[0][static_cast<size_t>(d[0] + 1)] || !side[1][static_cast<size_t>(d[1] + 1)] ||
            !side[2][static_cast<size_t>(d[2] + 1)])
          continue;
        const CellRange* other = findCell({range.cell[0] + d[0], range.cell[1] + d[1], range.cell[2] + d[2]});
        if (other == nullptr) continue;
        for (size_t b = other->begin; b < other->end; ++b) counter.Compare(distinct[a], distinct[b]);
      }
    }
  }
  return counter.out;
}

}  // namespace vela::quality::detail
