// Coincident nodes: pairs of nodes that lie within the tolerance of each
// other. The nodes are binned into a uniform grid, so that a mesh of a hundred
// thousand nodes is checked in linear time on average, not pair by pair.

#include "parallel.h"
#include "quality_detail.h"

#include <algorithm>
#include <cmath>

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

}  // namespace

FaultList FindCoincidentNodes(const std::vector<Vec>& nodes, double tol, int threads) {
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
  // The order is total (no two nodes share an id), so sorting pieces of it
  // on the threads and merging them gives the one sorted order.
  const auto before = [&](size_t a, size_t b) {
    if (!SameCell(cells[a], cells[b])) return cells[a] < cells[b];
    if (finite[a] != finite[b]) return finite[a] < finite[b];
    return ids[a] < ids[b];
  };
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

  std::vector<Distinct> distinct;
  struct CellRange {
    Cell cell;
    size_t begin, end;  // in distinct
  };
  std::vector<CellRange> cellRanges;  // sorted by cell
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

}  // namespace vela::quality::detail
