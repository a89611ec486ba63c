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
    std::vector<char> near;  // by group, after Narrow: whether it may hold a point of the piece
  };
  // Narrows `last` to the groups that may hold a point within `reach` of
  // `centre` besides piece k's own group (which holds the piece's own
  // points), for points then given through `last` until the next Narrow: a
  // point of one group's runner need not be looked up in another group's
  // cells, which mostly lie elsewhere. Without a Narrow, every group is
  // searched.
  void Narrow(std::size_t k, const Vec& centre, double reach, LastCells& last) const;
  // AnyAt for each of points[0..count), through the caller's LastCells:
  // calls visit(i, k) for every piece k whose box may hold point i, until
  // visit returns true. The points that fall in one cell (the samples of one
  // element mostly share a few) read its members once, and each member is
  // tried against them together, by the box round their steps, before it
  // is tried against each point.
  template <class Visit>
  bool AnyAtEach(const Vec* points, int count, LastCells& last, Visit&& visit) const;

  // Calls visit(k) for every piece k whose box may meet the box of the given
  // corners, some pieces more than once; stops and returns true as soon as
  // visit does. Pieces whose corners' box in the axes lies apart from the
  // query's by more than a millionth of their coordinates may be left out:
  // no exact test of two pieces that far apart can find them touching.
  template <class Visit>
  bool AnyNear(const Piece& query, Visit&& visit) const;

  // AnyNear for piece k itself (query holds its corners), for a caller that
  // tests pairs of pieces: only the groups from k's own on are searched.
  // Every pair whose boxes may meet is still offered from one of its two
  // pieces, the one in the earlier group, or from both when they share a
  // group: pieces that meet have boxes that meet in every frame.
  template <class Visit>
  bool AnyPartnerNear(std::size_t k, const Piece& query, Visit&& visit) const;
  // The group of piece k: pieces of one group are offered to each other
  // from both sides.
  std::size_t GroupOf(std::size_t k) const { return m_groupOf[k]; }

private:
  // A piece's box, measured from its group's region.lo and rounded outwards
  // to float: half the memory of doubles, and a box that still holds its piece.
  struct Entry {
    std::array<float, 3> lo, hi;
  };

  // A piece as a cell lists it: its box again, in steps of a 64th of the
  // cell measured from half a cell before the cell's corner, rounded
  // outwards by a step and clamped to 0..127 (where 0 below and 127 above
  // bound nothing), one byte an axis. Most pieces a query meets in a cell
  // miss it, and this tells them from the cell's own list, read in one run,
  // without looking up the piece's own box, which is far away in memory.
  // Seven bits a byte leave the eighth to compare all three axes at once
  // without branches (MayHold), which the many misses would mispredict.
  struct Place {
    std::uint32_t piece;
    std::uint32_t lo, hi;  // axis a in byte a
  };
  // A point's (or a query box side's) steps in the same measure, clamped, packed alike.
  using Steps = std::uint32_t;

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
    Box world;          // in the axes, around every member's corners, widened a little
    bool faces = false;  // whether the members are faces, met by boxes
    std::array<double, 3> cellSize{1, 1, 1};
    // 1 / cellSize: a product costs a query far less than a quotient, and
    // is as monotonic, which is all that keeps a point among the cells of
    // every box that holds it.
    std::array<double, 3> perCell{1, 1, 1};
    std::array<double, 3> stepsPerLength{0, 0, 0};  // 64 / cellSize; 0 where steps are not kept
    Cells dims{1, 1, 1};
    std::vector<std::uint32_t> pieces;  // the members
    // Only the blocks of 4 x 4 x 4 cells that hold members are kept, so that
    // the cells can be as small as the members however little of the
    // group's region the members fill (a network of thin runners spread over
    // a plate). A block's key (BlockOf) finds its number through an
    // open-addressed table; the block's cells then find their members'
    // places in `places` through `cellStart`, 64 cells a block, in order.
    // The queries of neighbouring points (the samples of one element, the
    // elements in turn, a face's cells) come back to the same block and
    // find it, and its cells' places, in the cache, and the table of blocks
    // is small enough to stay there.
    struct Slot {
      std::uint64_t key = kNoBlock;
      std::uint32_t block = 0;
    };
    std::vector<Slot> slots;
    std::uint64_t slotMask = 0;
    std::vector<std::uint32_t> cellStart;  // 64 a block, and the end
    std::vector<Place> places;
    std::vector<std::uint32_t> large;  // pieces far larger than the cells, met by every query

    static constexpr std::uint64_t kNoBlock = ~std::uint64_t{0};  // no key is this large
    static std::uint64_t Spread(std::uint64_t value) {
      value ^= value >> 33;
      value *= 0xff51afd7ed558ccdULL;
      value ^= value >> 33;
      return value;
    }
    std::uint64_t BlockOf(const Cells& c) const {
      return static_cast<std::uint64_t>(((c[0] >> 2) * ((dims[1] + 3) >> 2) + (c[1] >> 2)) * ((dims[2] + 3) >> 2) +
                                        (c[2] >> 2));
    }
    static std::uint32_t InBlock(const Cells& c) {
      return static_cast<std::uint32_t>(((c[0] & 3) << 4) | ((c[1] & 3) << 2) | (c[2] & 3));
    }
    // The number of the block with this key, or kNoBlock.
    std::uint64_t NumberOf(std::uint64_t block) const {
      if (slots.empty()) return kNoBlock;
      for (std::uint64_t s = Spread(block) & slotMask;; s = (s + 1) & slotMask) {
        const Slot& slot = slots[s];
        if (slot.key == block) return slot.block;
        if (slot.key == kNoBlock) return kNoBlock;
      }
    }
    // The members of a cell: [first, last) in places.
    std::pair<std::uint32_t, std::uint32_t> MembersOf(const Cells& c) const {
      const std::uint64_t number = NumberOf(BlockOf(c));
      if (number == kNoBlock) return {0, 0};
      const std::size_t at = static_cast<std::size_t>(number) * 64 + InBlock(c);
      return {cellStart[at], cellStart[at + 1]};
    }

    Vec Local(const Vec& p) const {
      return {u[0] * p[0] + u[1] * p[1] + u[2] * p[2], v[0] * p[0] + v[1] * p[1] + v[2] * p[2],
              w[0] * p[0] + w[1] * p[1] + w[2] * p[2]};
    }
    // The cell of a point given from region.lo, clamped to the grid.
    Cells CellOf(const Vec& fromRegion) const {
      Cells c{};
      for (std::size_t a = 0; a < 3; ++a) {
        // Not a number goes to the last cell; both tests compile to no branch.
        const double x = fromRegion[a] * perCell[a], last = static_cast<double>(dims[a] - 1);
        const double below = x < last ? x : last;
        c[a] = static_cast<std::int64_t>(below > 0.0 ? below : 0.0);
      }
      return c;
    }
    std::uint64_t IndexOf(const Cells& c) const {
      return static_cast<std::uint64_t>((c[0] * dims[1] + c[1]) * dims[2] + c[2]);
    }
    // A coordinate from region.lo in steps of cell `cell` on axis a, from
    // half a cell before it. Measured from inside the region, it is off by
    // far less than a step while the grid has at most kMaxStepped cells on
    // the axis.
    double StepsFrom(std::size_t a, std::int64_t cell, double fromRegion) const {
      return (fromRegion - static_cast<double>(cell) * cellSize[a]) * stepsPerLength[a] + 32.0;
    }
    Entry EntryOf(const Box& local) const;
  };
  static constexpr std::int64_t kMaxStepped = std::int64_t{1} << 36;

  // Steps: floor, clamped. A point (or a query box's side) below a place's
  // lo, or above its hi, lies beyond that piece's box on that axis by more
  // than rounding: see the rounding in StepRange.
  static std::uint32_t StepOf(double steps) {
    if (!(steps >= 0.0)) return 0;
    if (steps >= 127.0) return 127;
    return static_cast<std::uint32_t>(steps);
  }
  static Steps StepsOf(const Group& g, const Cells& cell, const Vec& fromRegion) {
    return StepOf(g.StepsFrom(0, cell[0], fromRegion[0])) | StepOf(g.StepsFrom(1, cell[1], fromRegion[1])) << 8 |
           StepOf(g.StepsFrom(2, cell[2], fromRegion[2])) << 16;
  }
  // Per byte, whether a >= b: the eighth bit of a byte of (a | 128) - b,
  // which borrows nothing from the next byte.
  static std::uint32_t AtLeast(std::uint32_t a, std::uint32_t b) { return ((a | 0x80808080u) - b) & 0x00808080u; }
  // Per byte, the lesser and the greater of a and b.
  static Steps Least(Steps a, Steps b) {
    const Steps aAtLeast = (AtLeast(a, b) >> 7) * 0xffu;  // 0xff in the bytes where a >= b
    return (b & aAtLeast) | (a & ~aAtLeast);
  }
  static Steps Greatest(Steps a, Steps b) { return a ^ b ^ Least(a, b); }
  static bool PlaceMayHold(const Place& p, Steps at) {
    return (AtLeast(at, p.lo) & AtLeast(p.hi, at)) == 0x00808080u;
  }
  static bool PlaceMayMeet(const Place& p, Steps lo, Steps hi) {
    return (AtLeast(hi, p.lo) & AtLeast(p.hi, lo)) == 0x00808080u;
  }

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
  static Box WorldBox(const Piece& p) {
    Box b{p.at[0], p.at[0]};
    for (std::size_t k = 1; k < static_cast<std::size_t>(p.corners); ++k)
      for (std::size_t a = 0; a < 3; ++a) {
        b.lo[a] = p.at[k][a] < b.lo[a] ? p.at[k][a] : b.lo[a];
        b.hi[a] = p.at[k][a] > b.hi[a] ? p.at[k][a] : b.hi[a];
      }
    return b;
  }
  // A member's cells, lowest and highest corner.
  static std::pair<Cells, Cells> CellsOf(const Group& g, const Entry& e) {
    return {g.CellOf({e.lo[0], e.lo[1], e.lo[2]}), g.CellOf({e.hi[0], e.hi[1], e.hi[2]})};
  }
  // The members' extents along and across the group's direction.
  using Extents = std::pair<std::vector<double>, std::vector<double>>;
  // A group's frame, region and members' boxes; then, once all are known,
  // its cells.
  void Build(Group& g, const std::vector<int>& members, const std::function<Piece(std::size_t)>& pieceAt,
             int threads, Extents& extents);
  void Grid(Group& g, Extents extents) const;
  bool ChooseCells(Group& g, std::vector<double> along, std::vector<double> across) const;
  void FillCells(Group& g) const;
  // A piece's box on axis a in steps of cell `cell` on that axis: lo in
  // the low byte, hi in the next.
  static std::uint32_t StepRange(const Group& g, std::size_t a, std::int64_t cell, const Entry& e);

  template <class Visit>
  bool NearFrom(std::size_t firstGroup, const Piece& query, Visit&& visit) const;
  // Visits the members [first, last) of cell whose boxes may hold the point
  // `from` (in the group's region) until visit returns true.
  template <class Visit>
  bool VisitMembers(const Group& g, const Cells& cell, const Vec& from,
                    std::pair<std::uint32_t, std::uint32_t> members, Visit& visit) const;

  std::vector<Entry> m_boxes;  // by piece, in its group's frame
  std::vector<std::uint8_t> m_groupOf;  // by piece
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
      if (EntryHolds(m_boxes[m], from) && visit(static_cast<int>(m))) return true;
    const Cells cell = g.CellOf(from);
    if (VisitMembers(g, cell, from, g.MembersOf(cell), visit)) return true;
  }
  return false;
}

template <class Visit>
bool DirectionGrid::AnyAtEach(const Vec* points, int count, LastCells& last, Visit&& visit) const {
  if (last.key.size() != m_groups.size()) {
    last.key.assign(m_groups.size(), ~std::uint64_t{0});
    last.members.assign(m_groups.size(), {0, 0});
    last.near.assign(m_groups.size(), 1);
  }
  constexpr int kAtOnce = 16;  // points taken together, at most
  for (int first = 0; first < count; first += kAtOnce) {
    const int taken = std::min(kAtOnce, count - first);
    for (std::size_t gi = 0; gi < m_groups.size(); ++gi) {
      if (!last.near[gi]) continue;
      const Group& g = m_groups[gi];
      // The points inside the group's region, from its corner.
      int inside = 0;
      int which[kAtOnce];
      Vec from[kAtOnce];
      for (int i = first; i < first + taken; ++i) {
        const Vec q = g.Local(points[i]);
        if (!g.region.Contains(q)) continue;
        which[inside] = i;
        from[inside++] = {q[0] - g.region.lo[0], q[1] - g.region.lo[1], q[2] - g.region.lo[2]};
      }
      if (inside == 0) continue;
      for (const std::uint32_t m : g.large)
        for (int j = 0; j < inside; ++j)
          if (EntryHolds(m_boxes[m], from[j]) && visit(which[j], static_cast<int>(m))) return true;
      Cells cell[kAtOnce];
      std::uint64_t key[kAtOnce];
      Steps steps[kAtOnce];
      for (int j = 0; j < inside; ++j) {
        cell[j] = g.CellOf(from[j]);
        key[j] = g.IndexOf(cell[j]);
        steps[j] = StepsOf(g, cell[j], from[j]);
      }
      unsigned done = 0;
      for (int j = 0; j < inside; ++j) {
        if (done >> j & 1u) continue;
        // The points in j's cell, and the box of their steps, byte by byte.
        unsigned same = 0;
        Steps lo = steps[j], hi = steps[j];
        for (int k = j; k < inside; ++k) {
          if (key[k] != key[j]) continue;
          same |= 1u << k;
          lo = Least(lo, steps[k]);
          hi = Greatest(hi, steps[k]);
        }
        done |= same;
        if (last.key[gi] != key[j]) {
          last.key[gi] = key[j];
          last.members[gi] = g.MembersOf(cell[j]);
        }
        const auto [begin, end] = last.members[gi];
        for (std::uint32_t m = begin; m < end; ++m) {
          const Place& place = g.places[m];
          // A place that may hold any of the points may meet their box.
          if (!PlaceMayMeet(place, lo, hi)) continue;
          const Entry& entry = m_boxes[place.piece];
          for (int k = j; k < inside; ++k)
            if ((same >> k & 1u) && PlaceMayHold(place, steps[k]) && EntryHolds(entry, from[k]) &&
                visit(which[k], static_cast<int>(place.piece)))
              return true;
        }
      }
    }
  }
  return false;
}

template <class Visit>
bool DirectionGrid::VisitMembers(const Group& g, const Cells& cell, const Vec& from,
                                 std::pair<std::uint32_t, std::uint32_t> members, Visit& visit) const {
  const Steps at = StepsOf(g, cell, from);
  for (std::uint32_t k = members.first; k < members.second; ++k) {
    const Place& place = g.places[k];
    if (PlaceMayHold(place, at) && EntryHolds(m_boxes[place.piece], from) && visit(static_cast<int>(place.piece)))
      return true;
  }
  return false;
}

template <class Visit>
bool DirectionGrid::AnyNear(const Piece& query, Visit&& visit) const {
  return NearFrom(0, query, visit);
}

template <class Visit>
bool DirectionGrid::AnyPartnerNear(std::size_t k, const Piece& query, Visit&& visit) const {
  return NearFrom(m_groupOf[k], query, visit);
}

template <class Visit>
bool DirectionGrid::NearFrom(std::size_t firstGroup, const Piece& query, Visit&& visit) const {
  // A query box covering more cells than this (or than a group of few
  // members has) scans the group's members.
  constexpr std::int64_t kMaxCellsPerQuery = 64;
  const Box world = WorldBox(query);
  for (std::size_t gi = firstGroup; gi < m_groups.size(); ++gi) {
    const Group& g = m_groups[gi];
    if (!world.Meets(g.world)) continue;
    const Box q = LocalBox(g, query);
    if (!q.Meets(g.region)) continue;
    const Box from{{q.lo[0] - g.region.lo[0], q.lo[1] - g.region.lo[1], q.lo[2] - g.region.lo[2]},
                   {q.hi[0] - g.region.lo[0], q.hi[1] - g.region.lo[1], q.hi[2] - g.region.lo[2]}};
    const auto lo = g.CellOf(from.lo), hi = g.CellOf(from.hi);
    const std::int64_t cells = (hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1);
    if (cells > std::max<std::int64_t>(kMaxCellsPerQuery, static_cast<std::int64_t>(g.pieces.size() / 16))) {
      for (const std::uint32_t m : g.pieces)
        if (EntryMeets(m_boxes[m], from) && visit(static_cast<int>(m))) return true;
      continue;
    }
    for (const std::uint32_t m : g.large)
      if (EntryMeets(m_boxes[m], from) && visit(static_cast<int>(m))) return true;
    for (std::int64_t x = lo[0]; x <= hi[0]; ++x) {
      const Steps xlo = StepOf(g.StepsFrom(0, x, from.lo[0])), xhi = StepOf(g.StepsFrom(0, x, from.hi[0]));
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y) {
        const Steps ylo = xlo | StepOf(g.StepsFrom(1, y, from.lo[1])) << 8;
        const Steps yhi = xhi | StepOf(g.StepsFrom(1, y, from.hi[1])) << 8;
        for (std::int64_t z = lo[2]; z <= hi[2]; ++z) {
          const Steps sLo = ylo | StepOf(g.StepsFrom(2, z, from.lo[2])) << 16;
          const Steps sHi = yhi | StepOf(g.StepsFrom(2, z, from.hi[2])) << 16;
          const auto [first, last] = g.MembersOf({x, y, z});
          for (std::uint32_t k = first; k < last; ++k) {
            const Place& place = g.places[k];
            if (PlaceMayMeet(place, sLo, sHi) && EntryMeets(m_boxes[place.piece], from) &&
                visit(static_cast<int>(place.piece)))
              return true;
          }
        }
      }
    }
  }
  return false;
}

}  // namespace vela::quality
