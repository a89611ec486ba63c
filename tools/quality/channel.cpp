#include "channel.h"

#include "parallel.h"
#include "quality_detail.h"
#include "vec.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vela::quality {

namespace {

double OutsideRunner(const MachinedRunner& runner, const Vec& p, double& radius) {
  const Vec axis = Sub(runner.to, runner.from);
  const double length = Norm(axis);
  const double t = length > 0.0 ? std::clamp(Dot(Sub(p, runner.from), axis) / length, 0.0, length) : 0.0;
  radius = length > 0.0 ? runner.fromRadius + (runner.toRadius - runner.fromRadius) * (t / length) : runner.fromRadius;
  const Vec onAxis = length > 0.0 ? Add(runner.from, Scaled(axis, t / length)) : runner.from;
  const double side = Norm(Sub(p, onAxis)) - radius;
  // The balls at the ends round the cut ends off.
  const double atFrom = Norm(Sub(p, runner.from)) - runner.fromRadius;
  const double atTo = Norm(Sub(p, runner.to)) - runner.toRadius;
  return std::min({side, atFrom, atTo});
}

}  // namespace

double OutsideChannel(const std::vector<MachinedRunner>& channel, const std::array<double, 3>& p,
                      double* localRadius) {
  double best = std::numeric_limits<double>::infinity(), bestRadius = 0.0;
  for (const MachinedRunner& runner : channel) {
    double radius = 0.0;
    const double d = OutsideRunner(runner, p, radius);
    if (d < best) {
      best = d;
      bestRadius = radius;
    }
  }
  if (localRadius != nullptr) *localRadius = bestRadius;
  return best;
}

namespace {

// The runners that may hold the channel's nearest wall to a point, by cell
// of a grid over the nodes: a runner is filed in every cell its box meets,
// grown by its largest radius and a margin. A point whose nearest runner
// among those of its cell lies less than half the margin outside has found
// the nearest of all: any runner not filed there lies more than its largest
// radius plus the margin from the point, so its distance from its wall
// passes the margin. The runners of a cell are in channel order, so that the
// first of two equally near is the one the whole channel gives.
class RunnerCells {
public:
  RunnerCells(const MemoryMesh& mesh, const std::vector<MachinedRunner>& channel) {
    bool any = false;
    for (const Vec& p : mesh.nodes) {
      if (!detail::IsFinite(p)) continue;
      for (size_t a = 0; a < 3; ++a) {
        m_lo[a] = any ? std::min(m_lo[a], p[a]) : p[a];
        m_hi[a] = any ? std::max(m_hi[a], p[a]) : p[a];
      }
      any = true;
    }
    double largest = 0.0;
    for (const MachinedRunner& runner : channel)
      largest = std::max({largest, std::fabs(runner.fromRadius), std::fabs(runner.toRadius)});
    const double diagonal = std::hypot(m_hi[0] - m_lo[0], m_hi[1] - m_lo[1], m_hi[2] - m_lo[2]);
    if (!any || channel.empty() || !std::isfinite(diagonal) || !std::isfinite(largest)) return;
    m_margin = 1e-6 * diagonal + 1e-9 * largest;
    // Cells about as wide as the widest runner, no more than a few million
    // of them, nor a runner filed more times than that altogether: past
    // that, every node asks the whole channel.
    constexpr double kMostCells = 2e6;
    m_size = std::max({largest, diagonal / 256.0, 1e-300});
    for (;;) {
      double cells = 1.0;
      for (size_t a = 0; a < 3; ++a) {
        m_dims[a] = static_cast<long long>(std::floor((m_hi[a] - m_lo[a]) / m_size)) + 1;
        cells *= static_cast<double>(m_dims[a]);
      }
      if (cells <= kMostCells) break;
      m_size *= 1.25;
    }
    const std::vector<std::pair<Cell, Cell>> spans = Spans(channel);
    double filed = 0.0;
    for (const auto& [lo, hi] : spans)
      filed += static_cast<double>(hi[0] - lo[0] + 1) * static_cast<double>(hi[1] - lo[1] + 1) *
               static_cast<double>(hi[2] - lo[2] + 1);
    if (filed > 16 * kMostCells) return;
    std::vector<long long> counts(static_cast<size_t>(m_dims[0] * m_dims[1] * m_dims[2]) + 1, 0);
    for (const auto& [lo, hi] : spans) ForCells(lo, hi, [&](size_t c) { ++counts[c + 1]; });
    for (size_t c = 1; c < counts.size(); ++c) counts[c] += counts[c - 1];
    m_start.assign(counts.begin(), counts.end());
    m_runners.resize(static_cast<size_t>(counts.back()));
    for (size_t r = 0; r < spans.size(); ++r)
      ForCells(spans[r].first, spans[r].second,
               [&](size_t c) { m_runners[static_cast<size_t>(counts[c]++)] = static_cast<int>(r); });
    m_ready = true;
  }

  // What OutsideChannel gives for p, through the cell where that is sure.
  double Outside(const std::vector<MachinedRunner>& channel, const Vec& p, double& radius) const {
    if (m_ready && detail::IsFinite(p)) {
      const size_t c = IndexOf(CellOf(p));
      double best = std::numeric_limits<double>::infinity(), bestRadius = 0.0;
      for (long long k = m_start[c]; k < m_start[c + 1]; ++k) {
        double r = 0.0;
        const double d = OutsideRunner(channel[static_cast<size_t>(m_runners[static_cast<size_t>(k)])], p, r);
        if (d < best) {
          best = d;
          bestRadius = r;
        }
      }
      if (best <= 0.5 * m_margin) {
        radius = bestRadius;
        return best;
      }
    }
    return OutsideChannel(channel, p, &radius);
  }

private:
  using Cell = std::array<long long, 3>;

  Cell CellOf(const Vec& p) const {
    Cell c{};
    for (size_t a = 0; a < 3; ++a) {
      const double x = std::floor((p[a] - m_lo[a]) / m_size);
      c[a] = x < 0.0 ? 0 : x >= static_cast<double>(m_dims[a]) ? m_dims[a] - 1 : static_cast<long long>(x);
    }
    return c;
  }
  size_t IndexOf(const Cell& c) const { return static_cast<size_t>((c[0] * m_dims[1] + c[1]) * m_dims[2] + c[2]); }

  // The cells each runner's grown box meets; a box beyond the nodes' still
  // meets the cells at the grid's edge, which hold what lies past it too.
  std::vector<std::pair<Cell, Cell>> Spans(const std::vector<MachinedRunner>& channel) const {
    std::vector<std::pair<Cell, Cell>> spans;
    for (const MachinedRunner& runner : channel) {
      const double grow = std::max(std::fabs(runner.fromRadius), std::fabs(runner.toRadius)) + m_margin;
      Vec lo{}, hi{};
      for (size_t a = 0; a < 3; ++a) {
        lo[a] = std::min(runner.from[a], runner.to[a]) - grow;
        hi[a] = std::max(runner.from[a], runner.to[a]) + grow;
      }
      // A runner that is not finite takes every cell: the point then finds
      // no sure answer and asks the whole channel.
      if (!detail::IsFinite(lo) || !detail::IsFinite(hi)) {
        spans.push_back({Cell{0, 0, 0}, Cell{m_dims[0] - 1, m_dims[1] - 1, m_dims[2] - 1}});
        continue;
      }
      spans.push_back({CellOf(lo), CellOf(hi)});
    }
    return spans;
  }

  template <class Visit>
  void ForCells(const Cell& lo, const Cell& hi, Visit&& visit) const {
    for (long long x = lo[0]; x <= hi[0]; ++x)
      for (long long y = lo[1]; y <= hi[1]; ++y)
        for (long long z = lo[2]; z <= hi[2]; ++z) visit(IndexOf({x, y, z}));
  }

  bool m_ready = false;
  Vec m_lo{}, m_hi{};
  double m_margin = 0.0;
  double m_size = 1.0;
  Cell m_dims{1, 1, 1};
  std::vector<long long> m_start;
  std::vector<int> m_runners;
};

}  // namespace

WallReport AssessWall(const MemoryMesh& mesh, const std::vector<MachinedRunner>& channel, int threads) {
  const RunnerCells cells(mesh, channel);
  // Each range's furthest node, gathered in node order: the first node of
  // the largest share wins, on any number of threads.
  std::vector<WallReport> ranges((mesh.nodes.size() + detail::kRangeLength - 1) / detail::kRangeLength);
  detail::ForRanges(threads, mesh.nodes.size(), [&](size_t begin, size_t end, int) {
    WallReport& report = ranges[begin / detail::kRangeLength];
    for (size_t n = begin; n < end; ++n) {
      double radius = 0.0;
      const double d = cells.Outside(channel, mesh.nodes[n], radius);
      if (!(d > 0.0)) continue;
      report.outside = std::max(report.outside, d);
      const double share = radius > 0.0 ? d / radius : d;
      if (share > report.share) {
        report.share = share;
        report.node = static_cast<int>(n);
      }
    }
  });
  WallReport report;
  for (const WallReport& range : ranges) {
    report.outside = std::max(report.outside, range.outside);
    if (range.share > report.share) {
      report.share = range.share;
      report.node = range.node;
    }
  }
  return report;
}

}  // namespace vela::quality
