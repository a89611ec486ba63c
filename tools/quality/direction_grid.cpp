#include "direction_grid.h"

#include "parallel.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace vela::quality {

namespace {


// Within this angle a piece's box in its group's frame stays close to the
// piece; more groups cost each query a few more products.
const double kSameDirection = std::cos(4.0 * 3.141592653589793 / 180.0);
constexpr size_t kMaxGroups = 64;
constexpr size_t kMinGroup = 24;
// A piece less than this many times as long as it is wide gains nothing from
// a frame along its length. Faces need more: the sectors of a flat section
// are a few times longer than wide, each its own way, and share the frame of
// their normal instead.
constexpr double kElongatedElement = 3.0;
constexpr double kElongatedFace = 6.0;
// A member spanning more cells than this is met by every query instead.
constexpr std::int64_t kMaxCellsPerMember = 256;

// Sign chosen so that the largest component is positive: opposite
// directions make one frame.
Vec Canonical(const Vec& d) {
  const double n = Norm(d);
  if (!(n > 0.0) || !std::isfinite(n)) return {1, 0, 0};
  size_t big = 0;
  for (size_t a = 1; a < 3; ++a)
    if (std::fabs(d[a]) > std::fabs(d[big])) big = a;
  return Scaled(d, (d[big] < 0 ? -1.0 : 1.0) / n);
}

// The direction a piece is long in: from its first to its second section for
// prisms and hexahedra, between opposite sides' midpoints for quadrilaterals
// (along a long thin one even when its diagonals lean), else its longest
// edge.
Vec LongAxis(const Piece& p) {
  Vec axis{};
  if (p.face && p.corners == 4) {
    Vec across{};
    for (size_t a = 0; a < 3; ++a) {
      axis[a] = 0.5 * (p.at[2][a] + p.at[3][a] - p.at[0][a] - p.at[1][a]);
      across[a] = 0.5 * (p.at[1][a] + p.at[2][a] - p.at[0][a] - p.at[3][a]);
    }
    if (Norm(across) > Norm(axis)) axis = across;
  } else if (!p.face && (p.corners == 6 || p.corners == 8)) {
    const size_t half = static_cast<size_t>(p.corners / 2);
    for (size_t k = 0; k < half; ++k)
      for (size_t a = 0; a < 3; ++a) axis[a] += p.at[k + half][a] - p.at[k][a];
  }
  if (!(Norm(axis) > 0.0)) {
    double longest = -1.0;
    for (size_t i = 0; i < static_cast<size_t>(p.corners); ++i)
      for (size_t j = i + 1; j < static_cast<size_t>(p.corners); ++j) {
        const Vec e{p.at[j][0] - p.at[i][0], p.at[j][1] - p.at[i][1], p.at[j][2] - p.at[i][2]};
        if (Norm(e) > longest) {
          longest = Norm(e);
          axis = e;
        }
      }
  }
  return Canonical(axis);
}

// How many times longer along u the piece is than it is wide across u.
double Elongation(const Piece& p, const Vec& u) {
  double lo = Dot(u, p.at[0]), hi = lo, width = 0.0;
  for (size_t k = 1; k < static_cast<size_t>(p.corners); ++k) {
    const Vec d{p.at[k][0] - p.at[0][0], p.at[k][1] - p.at[0][1], p.at[k][2] - p.at[0][2]};
    const double along = Dot(u, d);
    lo = std::min(lo, Dot(u, p.at[k]));
    hi = std::max(hi, Dot(u, p.at[k]));
    width = std::max(width, Norm({d[0] - along * u[0], d[1] - along * u[1], d[2] - along * u[2]}));
  }
  return width > 0.0 ? (hi - lo) / width : std::numeric_limits<double>::infinity();
}

}  // namespace

// Long pieces are framed along their length. Compact faces are framed by
// their normal: the faces of one flat section then share a frame whatever
// way each of them is long. Compact elements take the axes.
DirectionGrid::FrameKey DirectionGrid::KeyOf(const Piece& p) {
  const Vec u = LongAxis(p);
  if (Elongation(p, u) >= (p.face ? kElongatedFace : kElongatedElement)) return {u, false};
  if (!p.face) return {{1, 0, 0}, false};
  Vec n{};  // Newell's normal
  for (size_t k = 0; k < static_cast<size_t>(p.corners); ++k) {
    const Vec& a = p.at[k];
    const Vec& b = p.at[(k + 1) % static_cast<size_t>(p.corners)];
    n[0] += (a[1] - b[1]) * (a[2] + b[2]);
    n[1] += (a[2] - b[2]) * (a[0] + b[0]);
    n[2] += (a[0] - b[0]) * (a[1] + b[1]);
  }
  return {Canonical(n), true};
}

namespace {

double Median(std::vector<double>& v) {
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// Floats on either side of x. A value beyond the float range (a mesh read
// from a file may hold any double) or not a number widens the box to the
// infinite bound instead of converting out of range.
float Down(double x) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  if (!(x >= -static_cast<double>(FLT_MAX))) return -kInf;
  if (x > static_cast<double>(FLT_MAX)) return FLT_MAX;
  return std::nextafter(static_cast<float>(x), -kInf);
}
float Up(double x) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  if (!(x <= static_cast<double>(FLT_MAX))) return kInf;
  if (x < -static_cast<double>(FLT_MAX)) return -FLT_MAX;
  return std::nextafter(static_cast<float>(x), kInf);
}

}  // namespace

DirectionGrid::Entry DirectionGrid::Group::EntryOf(const Box& local) const {
  Entry e{};
  for (size_t a = 0; a < 3; ++a) {
    e.lo[a] = Down(local.lo[a] - region.lo[a]);
    e.hi[a] = Up(local.hi[a] - region.lo[a]);
  }
  return e;
}

namespace {

// A frame whose first axis (or, for a face's normal, third) is the key's direction.
void SetFrame(Vec& u, Vec& v, Vec& w, const Vec& d, bool normal) {
  const Vec side = Cross(d, std::fabs(d[0]) < 0.9 ? Vec{1, 0, 0} : Vec{0, 1, 0});
  const Vec other = Scaled(side, 1.0 / Norm(side));
  if (normal) {  // thin across the normal
    w = d;
    u = other;
    v = Cross(w, u);
  } else {  // long along the direction
    u = d;
    v = other;
    w = Cross(u, v);
  }
}

}  // namespace

DirectionGrid::DirectionGrid(std::size_t count, const std::function<Piece(std::size_t)>& pieceAt, int threads) {
  // Each piece's key on the threads; the groups then in piece order, so
  // that they come out the same on any number. The keys a run of pieces
  // at a time, in one table: a key for every piece at once would be fresh
  // memory a third the size of the mesh.
  constexpr size_t kKeysAtOnce = size_t{1} << 16;
  std::vector<FrameKey> keys(std::min(count, kKeysAtOnce));
  std::vector<std::vector<int>> members;
  for (size_t from = 0; from < count; from += kKeysAtOnce) {
    const size_t run = std::min(kKeysAtOnce, count - from);
    detail::ForRanges(threads, run, [&](size_t begin, size_t end, int) {
      for (size_t k = begin; k < end; ++k) keys[k] = KeyOf(pieceAt(from + k));
    });
    for (size_t k = from; k < from + run; ++k) {
      const FrameKey& key = keys[k - from];
      size_t best = m_groups.size();
      double bestDot = -1.0;
      for (size_t g = 0; g < m_groups.size(); ++g) {
        if (m_groups[g].key.normal != key.normal) continue;
        const double d = std::fabs(Dot(key.direction, m_groups[g].key.direction));
        if (d > bestDot) {
          bestDot = d;
          best = g;
        }
      }
      if (best == m_groups.size() || (bestDot < kSameDirection && m_groups.size() < kMaxGroups)) {
        Group g;
        g.key = key;
        SetFrame(g.u, g.v, g.w, key.direction, key.normal);
        m_groups.push_back(g);
        members.emplace_back();
        best = m_groups.size() - 1;
      }
      members[best].push_back(static_cast<int>(k));
    }
  }
  // A frame for a handful of pieces costs every query more than their loose
  // boxes in the frame of the axes would.
  std::vector<Group> kept;
  std::vector<std::vector<int>> keptMembers;
  std::vector<int> leftOver;
  for (size_t g = 0; g < m_groups.size(); ++g) {
    if (members[g].size() >= kMinGroup) {
      kept.push_back(m_groups[g]);
      keptMembers.push_back(std::move(members[g]));
    } else {
      leftOver.insert(leftOver.end(), members[g].begin(), members[g].end());
    }
  }
  if (!leftOver.empty()) {
    Group axes;
    axes.key = {{1, 0, 0}, false};
    axes.u = {1, 0, 0};
    axes.v = {0, 1, 0};
    axes.w = {0, 0, 1};
    kept.push_back(axes);
    keptMembers.push_back(std::move(leftOver));
  }
  m_groups = std::move(kept);
  m_boxes.resize(count);
  m_groupOf.resize(count);
  std::vector<Extents> extents(m_groups.size());
  for (size_t g = 0; g < m_groups.size(); ++g) {
    for (const int k : keptMembers[g]) m_groupOf[static_cast<size_t>(k)] = static_cast<std::uint8_t>(g);
    Build(m_groups[g], keptMembers[g], pieceAt, threads, extents[g]);
  }
  // Each group's cells on a thread of its own: placing a group's members
  // goes member by member, but the groups are apart.
  detail::ForRanges(threads, m_groups.size() * detail::kRangeLength, [&](size_t begin, size_t end, int) {
    for (size_t g = begin / detail::kRangeLength; g * detail::kRangeLength < end; ++g)
      Grid(m_groups[g], std::move(extents[g]));
  });
}

void DirectionGrid::Build(Group& g, const std::vector<int>& members, const std::function<Piece(std::size_t)>& pieceAt,
                          int threads, Extents& extents) {
  // Each thread bounds what it reads; the bounds are then put together,
  // which for boxes comes out the same in any order. Only the members'
  // boxes in the group's frame are kept until the region is known.
  struct Bounds {
    bool any = false, faces = false;
    Box region, world;
  };
  const size_t count = members.size();
  std::vector<Box> boxes(count);
  std::vector<double> along(count), across(count);
  std::vector<Bounds> bounds(static_cast<size_t>(detail::ThreadCount(threads)));
  const auto widen = [](Box& into, const Box& b) {
    for (size_t a = 0; a < 3; ++a) {
      into.lo[a] = std::min(into.lo[a], b.lo[a]);
      into.hi[a] = std::max(into.hi[a], b.hi[a]);
    }
  };
  detail::ForRanges(threads, count, [&](size_t begin, size_t end, int worker) {
    Bounds& mine = bounds[static_cast<size_t>(worker)];
    for (size_t m = begin; m < end; ++m) {
      const Piece piece = pieceAt(static_cast<size_t>(members[m]));
      const Box b = LocalBox(g, piece), world = WorldBox(piece);
      boxes[m] = b;
      mine.faces = mine.faces || piece.face;
      if (!mine.any) {
        mine.region = b;
        mine.world = world;
        mine.any = true;
      }
      widen(mine.region, b);
      widen(mine.world, world);
      // An extent that overflowed (coordinates near the double range)
      // counts as unbounded, never as not a number, which no median can take.
      const auto extent = [&](size_t a) {
        const double d = b.hi[a] - b.lo[a];
        return d >= 0.0 ? d : std::numeric_limits<double>::infinity();
      };
      along[m] = extent(0);
      across[m] = std::max(extent(1), extent(2));
    }
  });
  bool first = true;
  for (const Bounds& b : bounds) {
    if (!b.any) continue;
    g.faces = g.faces || b.faces;
    if (first) {
      g.region = b.region;
      g.world = b.world;
      first = false;
    }
    widen(g.region, b.region);
    widen(g.world, b.world);
  }
  // Far more than rounding, which is all the widening has to cover.
  double reach = 0.0;
  for (size_t a = 0; a < 3; ++a) reach = std::max({reach, std::fabs(g.world.lo[a]), std::fabs(g.world.hi[a])});
  for (size_t a = 0; a < 3; ++a) {
    g.world.lo[a] -= 1e-6 * reach;
    g.world.hi[a] += 1e-6 * reach;
  }
  g.pieces.assign(members.begin(), members.end());
  detail::ForRanges(threads, count, [&](size_t begin, size_t end, int) {
    for (size_t m = begin; m < end; ++m) m_boxes[static_cast<size_t>(members[m])] = g.EntryOf(boxes[m]);
  });
  extents.first = std::move(along);
  extents.second = std::move(across);
}

void DirectionGrid::Grid(Group& g, Extents extents) const {
  if (!ChooseCells(g, std::move(extents.first), std::move(extents.second))) {
    // Flat or unbounded members: nothing to grid, every query meets them.
    g.large = g.pieces;
    return;
  }
  for (size_t a = 0; a < 3; ++a) g.stepsPerLength[a] = g.dims[a] <= kMaxStepped ? 64.0 / g.cellSize[a] : 0.0;
  FillCells(g);
}

void DirectionGrid::Narrow(std::size_t k, const Vec& centre, double reach, LastCells& last) const {
  if (last.key.size() != m_groups.size()) {
    last.key.assign(m_groups.size(), ~std::uint64_t{0});
    last.members.assign(m_groups.size(), {0, 0});
    last.near.assign(m_groups.size(), 1);
  }
  // Blocks beyond this many are not worth looking up one by one.
  constexpr std::int64_t kMostBlocks = 8;
  for (size_t gi = 0; gi < m_groups.size(); ++gi) {
    const Group& g = m_groups[gi];
    last.near[gi] = 1;
    if (gi == m_groupOf[k] || !g.large.empty() || g.slots.empty()) continue;
    const Vec local = g.Local(centre);
    // Wider than reach: a point within it, rounded otherwise on its way into
    // the frame, still falls within, by a share of a cell and far more than
    // the rounding of the coordinates.
    Box from{};
    for (size_t a = 0; a < 3; ++a) {
      const double margin = reach + 0.0625 * g.cellSize[a] + 1e-9 * std::fabs(local[a]);
      from.lo[a] = local[a] - margin - g.region.lo[a];
      from.hi[a] = local[a] + margin - g.region.lo[a];
    }
    bool finite = true;
    for (size_t a = 0; a < 3; ++a) finite = finite && std::isfinite(from.lo[a]) && std::isfinite(from.hi[a]);
    if (!finite) continue;
    const Box region{{0, 0, 0},
                     {g.region.hi[0] - g.region.lo[0], g.region.hi[1] - g.region.lo[1], g.region.hi[2] - g.region.lo[2]}};
    if (!from.Meets(region)) {
      last.near[gi] = 0;
      continue;
    }
    const Cells lo = g.CellOf(from.lo), hi = g.CellOf(from.hi);
    const std::int64_t blocks =
        ((hi[0] >> 2) - (lo[0] >> 2) + 1) * ((hi[1] >> 2) - (lo[1] >> 2) + 1) * ((hi[2] >> 2) - (lo[2] >> 2) + 1);
    if (blocks > kMostBlocks) continue;
    bool found = false;
    for (std::int64_t x = lo[0] >> 2; x <= hi[0] >> 2 && !found; ++x)
      for (std::int64_t y = lo[1] >> 2; y <= hi[1] >> 2 && !found; ++y)
        for (std::int64_t z = lo[2] >> 2; z <= hi[2] >> 2 && !found; ++z)
          found = g.NumberOf(g.BlockOf({4 * x, 4 * y, 4 * z})) != Group::kNoBlock;
    last.near[gi] = found ? 1 : 0;
  }
}

// Cells about the size of a typical member, coarsened until the dense grid
// holds at most a few cells per member. False when the members have no
// extent to grid by.
bool DirectionGrid::ChooseCells(Group& g, std::vector<double> along, std::vector<double> across) const {
  const double hu = Median(along), hv = Median(across);
  const double fallback = std::max(hu, hv);
  g.cellSize = {hu, hv, hv};
  for (double& h : g.cellSize)
    if (!(h > 0.0) || !std::isfinite(h)) h = fallback;
  const auto cellsNeeded = [&] {
    double n = 1.0;
    for (size_t a = 0; a < 3; ++a) n *= std::floor((g.region.hi[a] - g.region.lo[a]) / g.cellSize[a]) + 1.0;
    return n;
  };
  if (!(fallback > 0.0) || !std::isfinite(fallback) || !std::isfinite(cellsNeeded())) {
    g.cellSize = {1, 1, 1};
    g.perCell = {1, 1, 1};
    g.dims = {1, 1, 1};
    return false;
  }
  // Only occupied cells are kept, so for a point's queries (elements) the
  // count matters only as far as a cell's key must fit 64 bits. A box's
  // queries (faces) look up every cell the box meets, so there the cells
  // stay few enough that a face meets a few of them.
  const double maxCells = g.faces ? 8.0 * static_cast<double>(g.pieces.size()) + 4096.0 : 1e18;
  while (!(cellsNeeded() <= maxCells))
    for (double& h : g.cellSize) h *= 1.5;
  const auto setDims = [&] {
    for (size_t a = 0; a < 3; ++a) {
      g.dims[a] = static_cast<std::int64_t>(std::floor((g.region.hi[a] - g.region.lo[a]) / g.cellSize[a])) + 1;
      g.perCell[a] = 1.0 / g.cellSize[a];
    }
  };
  setDims();
  // Members too large for their cells are met by every query: when cells
  // as small as the typical member leave more than a few of those (a few
  // large elements among many small ones), the cells grow until they do not.
  const size_t fewLarge = std::max<size_t>(64, g.pieces.size() / 100);
  for (int attempt = 0; attempt < 16; ++attempt) {
    size_t large = 0;
    for (const std::uint32_t m : g.pieces) {
      const auto [lo, hi] = CellsOf(g, m_boxes[m]);
      large += (hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1) > kMaxCellsPerMember ? 1 : 0;
    }
    if (large <= fewLarge) break;
    for (double& h : g.cellSize) h *= 1.5;
    setDims();
  }
  return true;
}

// Each side goes out by a step beyond its floor (or ceiling), which covers
// the rounding of StepsFrom, so that a point whose floored steps lie below
// lo (or above hi) lies below the box's lo (above its hi) however either was
// rounded.
std::uint32_t DirectionGrid::StepRange(const Group& g, std::size_t a, std::int64_t cell, const Entry& e) {
  if (g.stepsPerLength[a] == 0.0) return 127u << 8;
  const double from = g.StepsFrom(a, cell, e.lo[a]), to = g.StepsFrom(a, cell, e.hi[a]);
  const std::uint32_t lo = !(from >= 1.0) ? 0 : from >= 128.0 ? 127 : static_cast<std::uint32_t>(from) - 1;
  const std::uint32_t hi =
      !(to <= 126.0) ? 127 : to < -1.0 ? 0 : static_cast<std::uint32_t>(static_cast<int>(std::ceil(to)) + 1);
  return lo | hi << 8;
}

// Numbers the occupied blocks as members first reach them and counts the
// members of their cells, then places the members: no list of (cell,
// member) pairs to sort or to hold.
void DirectionGrid::FillCells(Group& g) const {
  std::vector<char> gridded(g.pieces.size(), 0);
  std::uint64_t placed = 0;
  for (size_t m = 0; m < g.pieces.size(); ++m) {
    const auto [lo, hi] = CellsOf(g, m_boxes[g.pieces[m]]);
    const std::int64_t spans = (hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1);
    // Past four billion places (hundreds of millions of pieces) the rest
    // join the large ones rather than overflow the cell counts.
    if (spans > kMaxCellsPerMember || placed + static_cast<std::uint64_t>(spans) >= UINT32_MAX) {
      g.large.push_back(g.pieces[m]);
      continue;
    }
    placed += static_cast<std::uint64_t>(spans);
    gridded[m] = 1;
  }
  // The blocks, numbered as members first reach them, straight into the
  // table the queries read, kept at most half full as it grows. A member's
  // cells mostly share a block with the cell before, which then needs no
  // look-up.
  std::vector<std::uint64_t> blockKeys;
  std::vector<std::uint32_t> count;  // 64 a block
  g.slots.assign(16, Group::Slot{});
  g.slotMask = 15;
  const auto insert = [&](std::uint64_t key, std::uint32_t number) {
    for (std::uint64_t s = Group::Spread(key) & g.slotMask;; s = (s + 1) & g.slotMask) {
      Group::Slot& slot = g.slots[static_cast<size_t>(s)];
      if (slot.key == Group::kNoBlock) {
        slot = {key, number};
        return;
      }
    }
  };
  const auto numberOf = [&](std::uint64_t key) {
    const std::uint64_t known = g.NumberOf(key);
    if (known != Group::kNoBlock) return known;
    const auto number = static_cast<std::uint32_t>(blockKeys.size());
    blockKeys.push_back(key);
    count.resize(count.size() + 64, 0);
    if (2 * blockKeys.size() <= g.slots.size()) {
      insert(key, number);
    } else {
      g.slots.assign(2 * g.slots.size(), Group::Slot{});
      g.slotMask = g.slots.size() - 1;
      for (size_t k = 0; k < blockKeys.size(); ++k) insert(blockKeys[k], static_cast<std::uint32_t>(k));
    }
    return std::uint64_t{number};
  };
  // Calls place(member, its lowest cell, cell, block * 64 + cell in block)
  // for each gridded member's cells in turn.
  const auto eachPlace = [&](auto&& place) {
    std::uint64_t lastKey = Group::kNoBlock, lastNumber = 0;
    for (size_t m = 0; m < g.pieces.size(); ++m) {
      if (!gridded[m]) continue;
      const auto [lo, hi] = CellsOf(g, m_boxes[g.pieces[m]]);
      for (std::int64_t x = lo[0]; x <= hi[0]; ++x)
        for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
          for (std::int64_t z = lo[2]; z <= hi[2]; ++z) {
            const Cells c{x, y, z};
            const std::uint64_t key = g.BlockOf(c);
            if (key != lastKey) {
              lastKey = key;
              lastNumber = numberOf(key);
            }
            place(m, lo, c, static_cast<size_t>(lastNumber * 64 + Group::InBlock(c)));
          }
    }
  };
  eachPlace([&](size_t, const Cells&, const Cells&, size_t at) { ++count[at]; });
  g.cellStart.assign(count.size() + 1, 0);
  for (size_t k = 0; k < count.size(); ++k) g.cellStart[k + 1] = g.cellStart[k] + count[k];
  std::vector<std::uint32_t>().swap(count);
  // The places in cell order, each cell's in member order, with their
  // steps: a member's steps on an axis are the same for all its cells at
  // one place along that axis, so they are measured once, with the
  // member's first cell.
  g.places.resize(g.cellStart.back());
  std::vector<std::uint32_t> fill(g.cellStart.begin(), g.cellStart.end() - 1);
  std::vector<std::uint32_t> alongX, alongY, alongZ;
  size_t member = g.pieces.size();
  eachPlace([&](size_t m, const Cells& lo, const Cells& c, size_t at) {
    if (m != member) {
      member = m;
      const Entry& e = m_boxes[g.pieces[m]];
      const Cells hi = CellsOf(g, e).second;
      alongX.clear();
      alongY.clear();
      alongZ.clear();
      for (std::int64_t x = lo[0]; x <= hi[0]; ++x) alongX.push_back(StepRange(g, 0, x, e));
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y) alongY.push_back(StepRange(g, 1, y, e));
      for (std::int64_t z = lo[2]; z <= hi[2]; ++z) alongZ.push_back(StepRange(g, 2, z, e));
    }
    const std::uint32_t x = alongX[static_cast<size_t>(c[0] - lo[0])], y = alongY[static_cast<size_t>(c[1] - lo[1])];
    const std::uint32_t z = alongZ[static_cast<size_t>(c[2] - lo[2])];
    g.places[fill[at]++] = {g.pieces[m], (x & 0xff) | (y & 0xff) << 8 | (z & 0xff) << 16,
                            x >> 8 | (y >> 8) << 8 | (z >> 8) << 16};
  });
}

}  // namespace vela::quality
