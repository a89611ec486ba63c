#pragma once

// An index of many small pieces (elements, surface triangles) that are long
// and thin and lie along their runners in every direction. Boxes aligned with
// the axes fit such pieces badly: around a runner at 45 degrees every box
// holds a whole cross-section of the runner. So the pieces are grouped by the
// direction they are long in, and each group gets a grid of cells long and
// thin in that direction, in its own frame.
//
// Queries are conservative: they report every piece whose box in its group's
// frame meets the query, and more; the caller does the exact test. Internal
// to vela_quality: the overlap and crossing checks share it.

#include "vec.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace vela::quality {

struct Box {
  Vec lo{}, hi{};

  // Strictly inside.
  bool Contains(const Vec& p) const {
    return p[0] > lo[0] && p[0] < hi[0] && p[1] > lo[1] && p[1] < hi[1] && p[2] > lo[2] && p[2] < hi[2];
  }
  bool Meets(const Box& b) const {
    return lo[0] <= b.hi[0] && b.lo[0] <= hi[0] && lo[1] <= b.hi[1] && b.lo[1] <= hi[1] && lo[2] <= b.hi[2] &&
           b.lo[2] <= hi[2];
  }
};

// A piece by its corners: a face (3 or 4 corners, in turn), or an element:
// 4 a tetrahedron, 5 a pyramid, 6 a prism and 8 a hexahedron in the
// library's corner order (the second section follows the first, which gives
// the direction a swept piece is long in).
struct Piece {
  std::array<Vec, 8> at{};
  int corners = 0;
  bool face = false;
};

class DirectionGrid {
public:
  // Indexes pieces 0..count-1, piece k as pieceAt(k) gives it (asked for a
  // few times each, so that the caller need not keep them all); every corner
  // must be finite. The pieces are read on `threads` threads (pieceAt must
  // allow that); the index does not depend on how many.
  DirectionGrid(std::size_t count, const std::function<Piece(std::size_t)>& pieceAt, int threads = 1);

  // Calls visit(k) for every piece k whose box may hold p; stops and returns
  // true as soon as visit does.
  template <class Visit>
  bool AnyAt(const Vec& p, Visit&& visit) const;

  // The cell each group found last, for a caller whose points come near
  // each other (the sample points of one element): the next point in the
  // same cell needs no look-up. One per thread.
  struct LastCells {
    std::vector<std::uint64_t> key;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> members;
  };
  // AnyAt, through the caller's LastCells.
  template <class Visit>
  bool AnyAt(const Vec& p, LastCells& last, Visit&& visit) const;

  // Calls visit(k) for every piece k whose box may meet the box of the given
  // corners, some pieces more than once; stops and returns true as soon as
  // visit does.
  template <class Visit>
  bool AnyNear(const Piece& query, Visit&& visit) const;

private:
  struct Entry {
    // Measured from the group's region.lo and rounded outwards to float: half
    // the memory to read per query, and a box that still holds its piece.
    std::array<float, 3> lo, hi;
    int piece;
  };

  // What makes pieces share a frame: the direction they are long in, or, for
  // compact faces, their normal.
  struct FrameKey {
    Vec direction;
    bool normal;
  };
  static FrameKey KeyOf(const Piece& p);

  using Cells = std::array<std::int64_t, 3>;

  struct Group {
    FrameKey key{};
    Vec u{}, v{}, w{};  // u along the group's pieces, or w along their normal
    Box region;         // in (u, v, w), around every member
    bool faces = false;  // whether the members are faces, met by boxes
    std::array<double, 3> cellSize{1, 1, 1};
    Cells dims{1, 1, 1};
    std::vector<Entry> members;
    // Only the cells that hold members are kept, so that the cells can be
    // as small as the members however little of the group's region the
    // members fill (a network of thin runners spread over a plate). A
    // cell's key (IndexOf) finds its members through an open-addressed
    // table whose slot holds the key and the members' places in
    // cellMembers (positions in members), so that a look-up reads one
    // line; neighbouring cells along the last axis share lines. Four bytes
    // a place: a member lies in a few cells.
    struct Slot {
      std::uint64_t key = kNoCell;
      std::uint32_t first = 0, last = 0;
    };
    std::vector<Slot> slots;
    std::uint64_t slotMask = 0;
    std::vector<std::uint32_t> cellMembers;
    std::vector<std::uint32_t> large;  // members far larger than the cells, met by every query

    static constexpr std::uint64_t kNoCell = ~std::uint64_t{0};  // no key is this large
    // The slot a key starts looking from: blocks of four cells along the
    // last axis stay together, the blocks spread over the table.
    static std::uint64_t Spread(std::uint64_t value) {
      std::uint64_t block = value >> 2;
      block ^= block >> 33;
      block *= 0xff51afd7ed558ccdULL;
      block ^= block >> 33;
      return (block << 2) | (value & 3);
    }
    // The members of the cell with this key: [first, last) in cellMembers.
    std::pair<std::uint32_t, std::uint32_t> MembersOf(std::uint64_t cell) const {
      if (slots.empty()) return {0, 0};
      for (std::uint64_t s = Spread(cell) & slotMask;; s = (s + 1) & slotMask) {
        const Slot& slot = slots[s];
        if (slot.key == cell) return {slot.first, slot.last};
        if (slot.key == kNoCell) return {0, 0};
      }
    }

    Vec Local(const Vec& p) const {
      return {u[0] * p[0] + u[1] * p[1] + u[2] * p[2], v[0] * p[0] + v[1] * p[1] + v[2] * p[2],
              w[0] * p[0] + w[1] * p[1] + w[2] * p[2]};
    }
    // The cell of a point given from region.lo, clamped to the grid.
    Cells CellOf(const Vec& fromRegion) const {
      Cells c{};
      for (std::size_t a = 0; a < 3; ++a) {
        const double x = fromRegion[a] / cellSize[a];
        c[a] = static_cast<std::int64_t>(x < 0.0 ? 0.0 : x < static_cast<double>(dims[a] - 1) ? x : static_cast<double>(dims[a] - 1));
      }
      return c;
    }
    std::uint64_t IndexOf(const Cells& c) const {
      return static_cast<std::uint64_t>((c[0] * dims[1] + c[1]) * dims[2] + c[2]);
    }
    Entry EntryOf(const Box& local, int piece) const;
  };

  // Most entries a query meets miss it on the first axis or two.
  static bool EntryHolds(const Entry& e, const Vec& fromRegion) {
    for (std::size_t a = 0; a < 3; ++a)
      if (!(fromRegion[a] > e.lo[a] && fromRegion[a] < e.hi[a])) return false;
    return true;
  }
  static bool EntryMeets(const Entry& e, const Box& fromRegion) {
    for (std::size_t a = 0; a < 3; ++a)
      if (!(fromRegion.lo[a] <= e.hi[a] && e.lo[a] <= fromRegion.hi[a])) return false;
    return true;
  }
  static Box LocalBox(const Group& g, const Piece& p) {
    Box b{g.Local(p.at[0]), g.Local(p.at[0])};
    for (std::size_t k = 1; k < static_cast<std::size_t>(p.corners); ++k) {
      const Vec q = g.Local(p.at[k]);
      for (std::size_t a = 0; a < 3; ++a) {
        b.lo[a] = q[a] < b.lo[a] ? q[a] : b.lo[a];
        b.hi[a] = q[a] > b.hi[a] ? q[a] : b.hi[a];
      }
    }
    return b;
  }
  // A member's cells, lowest and highest corner.
  static std::pair<Cells, Cells> CellsOf(const Group& g, const Entry& e) {
    return {g.CellOf({e.lo[0], e.lo[1], e.lo[2]}), g.CellOf({e.hi[0], e.hi[1], e.hi[2]})};
  }
  static void Build(Group& g, const std::vector<int>& members, const std::function<Piece(std::size_t)>& pieceAt,
                    int threads);
  static bool ChooseCells(Group& g, std::vector<double> along, std::vector<double> across);
  static void FillCells(Group& g);

  std::vector<Group> m_groups;
};

// --- queries ---------------------------------------------------------------------------------

template <class Visit>
bool DirectionGrid::AnyAt(const Vec& p, Visit&& visit) const {
  for (const Group& g : m_groups) {
    const Vec q = g.Local(p);
    if (!g.region.Contains(q)) continue;
    const Vec from{q[0] - g.region.lo[0], q[1] - g.region.lo[1], q[2] - g.region.lo[2]};
    for (const std::uint32_t m : g.large)
      if (EntryHolds(g.members[m], from) && visit(g.members[m].piece)) return true;
    const auto [first, last] = g.MembersOf(g.IndexOf(g.CellOf(from)));
    for (std::uint32_t k = first; k < last; ++k) {
      const Entry& e = g.members[g.cellMembers[k]];
      if (EntryHolds(e, from) && visit(e.piece)) return true;
    }
  }
  return false;
}

template <class Visit>
bool DirectionGrid::AnyAt(const Vec& p, LastCells& last, Visit&& visit) const {
  if (last.key.size() != m_groups.size()) {
    last.key.assign(m_groups.size(), ~std::uint64_t{0});
    last.members.assign(m_groups.size(), {0, 0});
  }
  for (std::size_t gi = 0; gi < m_groups.size(); ++gi) {
    const Group& g = m_groups[gi];
    const Vec q = g.Local(p);
    if (!g.region.Contains(q)) continue;
    const Vec from{q[0] - g.region.lo[0], q[1] - g.region.lo[1], q[2] - g.region.lo[2]};
    for (const std::uint32_t m : g.large)
      if (EntryHolds(g.members[m], from) && visit(g.members[m].piece)) return true;
    const std::uint64_t cell = g.IndexOf(g.CellOf(from));
    if (last.key[gi] != cell) {
      last.key[gi] = cell;
      last.members[gi] = g.MembersOf(cell);
    }
    for (std::uint32_t k = last.members[gi].first; k < last.members[gi].second; ++k) {
      const Entry& e = g.members[g.cellMembers[k]];
      if (EntryHolds(e, from) && visit(e.piece)) return true;
    }
  }
  return false;
}

template <class Visit>
bool DirectionGrid::AnyNear(const Piece& query, Visit&& visit) const {
  // A query box covering more cells than this (or than a group of few
  // members has) scans the group's members.
  constexpr std::int64_t kMaxCellsPerQuery = 64;
  for (const Group& g : m_groups) {
    const Box q = LocalBox(g, query);
    if (!q.Meets(g.region)) continue;
    const Box from{{q.lo[0] - g.region.lo[0], q.lo[1] - g.region.lo[1], q.lo[2] - g.region.lo[2]},
                   {q.hi[0] - g.region.lo[0], q.hi[1] - g.region.lo[1], q.hi[2] - g.region.lo[2]}};
    const auto lo = g.CellOf(from.lo), hi = g.CellOf(from.hi);
    const std::int64_t cells = (hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1);
    if (cells > std::max<std::int64_t>(kMaxCellsPerQuery, static_cast<std::int64_t>(g.members.size() / 16))) {
      for (const Entry& e : g.members)
        if (EntryMeets(e, from) && visit(e.piece)) return true;
      continue;
    }
    for (const std::uint32_t m : g.large)
      if (EntryMeets(g.members[m], from) && visit(g.members[m].piece)) return true;
    for (std::int64_t x = lo[0]; x <= hi[0]; ++x)
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
        for (std::int64_t z = lo[2]; z <= hi[2]; ++z) {
          const auto [first, last] = g.MembersOf(g.IndexOf({x, y, z}));
          for (std::uint32_t k = first; k < last; ++k) {
            const Entry& e = g.members[g.cellMembers[k]];
            if (EntryMeets(e, from) && visit(e.piece)) return true;
          }
        }
  }
  return false;
}

}  // namespace vela::quality
