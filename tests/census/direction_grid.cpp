#include "direction_grid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vela::census {

namespace {

double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm(const Vec& a) { return std::sqrt(Dot(a, a)); }
Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec Scaled(const Vec& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }

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

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

float Down(double x) { return std::nextafter(static_cast<float>(x), -std::numeric_limits<float>::infinity()); }
float Up(double x) { return std::nextafter(static_cast<float>(x), std::numeric_limits<float>::infinity()); }

}  // namespace

DirectionGrid::Entry DirectionGrid::Group::EntryOf(const Box& local, int piece) const {
  Entry e{};
  e.piece = piece;
  for (size_t a = 0; a < 3; ++a) {
    e.lo[a] = Down(local.lo[a] - region.lo[a]);
    e.hi[a] = Up(local.hi[a] - region.lo[a]);
  }
  return e;
}

DirectionGrid::DirectionGrid(const std::vector<Piece>& pieces) {
  std::vector<std::vector<int>> members;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const FrameKey key = KeyOf(pieces[k]);
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
      const Vec& d = key.direction;
      const Vec side = Cross(d, std::fabs(d[0]) < 0.9 ? Vec{1, 0, 0} : Vec{0, 1, 0});
      const Vec other = Scaled(side, 1.0 / Norm(side));
      if (key.normal) {  // thin across the normal
        g.w = d;
        g.u = other;
        g.v = Cross(g.w, g.u);
      } else {  // long along the direction
        g.u = d;
        g.v = other;
        g.w = Cross(g.u, g.v);
      }
      m_groups.push_back(g);
      members.emplace_back();
      best = m_groups.size() - 1;
    }
    members[best].push_back(static_cast<int>(k));
  }
  // A frame for a handful of pieces costs every query more than their loose
  // boxes in the frame of the axes would.
  std::vector<Group> kept;
  std::vector<std::vector<int>> keptMembers, leftOver(1);
  for (size_t g = 0; g < m_groups.size(); ++g) {
    if (members[g].size() >= kMinGroup) {
      kept.push_back(m_groups[g]);
      keptMembers.push_back(members[g]);
    } else {
      leftOver[0].insert(leftOver[0].end(), members[g].begin(), members[g].end());
    }
  }
  if (!leftOver[0].empty()) {
    Group axes;
    axes.key = {{1, 0, 0}, false};
    axes.u = {1, 0, 0};
    axes.v = {0, 1, 0};
    axes.w = {0, 0, 1};
    kept.push_back(axes);
    keptMembers.push_back(leftOver[0]);
  }
  m_groups = kept;
  for (size_t g = 0; g < m_groups.size(); ++g) Build(m_groups[g], pieces, keptMembers[g]);
}

void DirectionGrid::Build(Group& g, const std::vector<Piece>& pieces, const std::vector<int>& members) {
  std::vector<Box> local;
  std::vector<double> along, across;
  for (int k : members) {
    local.push_back(LocalBox(g, pieces[static_cast<size_t>(k)]));
    const Box& b = local.back();
    along.push_back(b.hi[0] - b.lo[0]);
    across.push_back(std::max(b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]));
  }
  g.region = local[0];
  for (const Box& b : local)
    for (size_t a = 0; a < 3; ++a) {
      g.region.lo[a] = std::min(g.region.lo[a], b.lo[a]);
      g.region.hi[a] = std::max(g.region.hi[a], b.hi[a]);
    }
  for (size_t m = 0; m < members.size(); ++m) g.all.push_back(g.EntryOf(local[m], members[m]));

  // Cells about the size of a typical member, coarsened until the dense grid
  // holds at most a few cells per member.
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
    // Flat or unbounded members: nothing to grid, every query meets them.
    g.large = g.all;
    g.cellSize = {1, 1, 1};
    g.dims = {1, 1, 1};
    g.cellStart.assign(2, 0);
    return;
  }
  const double maxCells = 8.0 * static_cast<double>(members.size()) + 4096.0;
  while (!(cellsNeeded() <= maxCells))
    for (double& h : g.cellSize) h *= 1.5;
  for (size_t a = 0; a < 3; ++a)
    g.dims[a] = static_cast<std::int64_t>(std::floor((g.region.hi[a] - g.region.lo[a]) / g.cellSize[a])) + 1;

  std::vector<std::pair<size_t, Entry>> placed;
  placed.reserve(8 * members.size());
  for (size_t m = 0; m < members.size(); ++m) {
    const Entry& entry = g.all[m];
    const auto lo = g.CellOf(local[m].lo), hi = g.CellOf(local[m].hi);
    if ((hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1) > kMaxCellsPerMember) {
      g.large.push_back(entry);
      continue;
    }
    for (std::int64_t x = lo[0]; x <= hi[0]; ++x)
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
        for (std::int64_t z = lo[2]; z <= hi[2]; ++z) placed.push_back({g.IndexOf({x, y, z}), entry});
  }
  const size_t cells = static_cast<size_t>(g.dims[0] * g.dims[1] * g.dims[2]);
  g.cellStart.assign(cells + 1, 0);
  for (const auto& pe : placed) ++g.cellStart[pe.first + 1];
  for (size_t c = 0; c < cells; ++c) g.cellStart[c + 1] += g.cellStart[c];
  g.entries.resize(placed.size());
  std::vector<size_t> fill(g.cellStart.begin(), g.cellStart.end() - 1);
  for (const auto& pe : placed) g.entries[fill[pe.first]++] = pe.second;
}

}  // namespace vela::census
