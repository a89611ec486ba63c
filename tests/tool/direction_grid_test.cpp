// The quality report's index of long thin pieces against what every
// query must find: a grid that drops a candidate hides an overlap or a cut.

#include "direction_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

namespace {

using vela::quality::DirectionGrid;
using vela::quality::Piece;
using vela::quality::Vec;

Vec Plus(const Vec& a, const Vec& b, double s = 1.0) { return {a[0] + s * b[0], a[1] + s * b[1], a[2] + s * b[2]}; }

Vec Unit(const Vec& d) {
  const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  return {d[0] / n, d[1] / n, d[2] / n};
}

Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Pieces along a few directions, as the runners of a system lie: long thin
// hexahedra, prisms and tetrahedra (or quadrilaterals and triangles), of
// sizes that vary tenfold, spread over a region far from the origin, with a
// few pieces far larger than the rest.
std::vector<Piece> RunnerPieces(bool faces, int count, std::mt19937& random) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::vector<Vec> directions = {Unit({1, 0, 0}), Unit({0, 1, 0}), Unit({1, 1, 0}), Unit({1, 2, 3}),
                                       Unit({-2, 1, 0.5})};
  std::vector<Piece> pieces;
  for (int i = 0; i < count; ++i) {
    const Vec u = directions[static_cast<size_t>(i) % directions.size()];
    const Vec v = Unit(Cross(u, std::fabs(u[0]) < 0.9 ? Vec{1, 0, 0} : Vec{0, 1, 0}));
    const Vec w = Cross(u, v);
    const double size = (i % 97 == 0 ? 40.0 : 1.0) * (0.2 + 2.0 * unit(random));
    const double length = 4.0 * size, width = size;
    const Vec base{5000.0 + 60.0 * unit(random), -3000.0 + 60.0 * unit(random), 20.0 * unit(random)};
    Piece p;
    p.face = faces;
    const int kind = i % 3;
    if (faces) {
      // A wall piece: a quadrilateral or a triangle spanned by u and a leaning v.
      const Vec across = Plus(v, w, 0.3 * (unit(random) - 0.5));
      p.at[0] = base;
      p.at[1] = Plus(base, u, length);
      if (kind == 0) {
        p.corners = 3;
        p.at[2] = Plus(base, across, width);
      } else {
        p.corners = 4;
        p.at[2] = Plus(p.at[1], across, width);
        p.at[3] = Plus(base, across, width);
      }
    } else if (kind == 0) {
      p.corners = 4;
      p.at = {base, Plus(base, u, length), Plus(base, v, width), Plus(Plus(base, w, width), u, 0.5 * length)};
    } else {
      // A prism or a hexahedron swept along u: the second section follows the first.
      const std::vector<Vec> section =
          kind == 1 ? std::vector<Vec>{base, Plus(base, v, width), Plus(base, w, width)}
                    : std::vector<Vec>{base, Plus(base, v, width), Plus(Plus(base, v, width), w, width),
                                       Plus(base, w, width)};
      p.corners = static_cast<int>(2 * section.size());
      for (size_t k = 0; k < section.size(); ++k) {
        p.at[k] = section[k];
        p.at[k + section.size()] = Plus(section[k], u, length * (1.0 + 0.1 * unit(random)));
      }
    }
    pieces.push_back(p);
  }
  return pieces;
}

// A point of the piece: a blend of its corners with random weights, or one
// pressed against a corner, where the piece's box is tightest.
Vec PointOf(const Piece& p, std::mt19937& random, bool atCorner) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> weight(static_cast<size_t>(p.corners));
  for (double& x : weight) x = atCorner ? 1e-6 * (0.5 + unit(random)) : 0.05 + unit(random);
  if (atCorner) weight[static_cast<size_t>(random() % static_cast<unsigned>(p.corners))] = 1.0;
  double sum = 0.0;
  for (const double x : weight) sum += x;
  Vec q{0, 0, 0};
  for (size_t k = 0; k < weight.size(); ++k) q = Plus(q, p.at[k], weight[k] / sum);
  return q;
}

}  // namespace

// Every piece that holds a point is offered for it, near its corners as
// much as inside. Points asked for together, through the caller's cache of
// the last cells, are offered exactly the pieces each would be offered
// alone: several of them fall in one cell, where a piece is first tried
// against the box of their steps.
TEST(DirectionGrid, OffersEveryPieceHoldingAPoint) {
  std::mt19937 random(42);
  const std::vector<Piece> pieces = RunnerPieces(false, 3000, random);
  for (const int threads : {1, 3}) {
    const DirectionGrid grid(pieces.size(), [&](size_t k) { return pieces[k]; }, threads);
    DirectionGrid::LastCells last;
    int missed = 0, offeredOthers = 0, differing = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
      Vec points[6];
      std::set<std::pair<int, int>> alone, together;
      for (int sample = 0; sample < 6; ++sample) {
        const Vec p = points[sample] = PointOf(pieces[k], random, sample % 2 == 1);
        bool found = false;
        grid.AnyAt(p, [&](int other) {
          alone.insert({sample, other});
          found = found || static_cast<size_t>(other) == k;
          offeredOthers += static_cast<size_t>(other) != k ? 1 : 0;
          return false;
        });
        missed += found ? 0 : 1;
      }
      grid.AnyAtEach(points, 6, last, [&](int sample, int other) {
        EXPECT_TRUE(together.insert({sample, other}).second) << "offered twice";
        return false;
      });
      differing += alone == together ? 0 : 1;
    }
    EXPECT_EQ(missed, 0) << threads << " threads";
    EXPECT_EQ(differing, 0) << threads << " threads";
    // A grid that offered everything would pass the above: it must also sort
    // the pieces out (fewer than a tenth offered per point on average).
    EXPECT_LT(offeredOthers, static_cast<int>(pieces.size()) * 6 * static_cast<int>(pieces.size()) / 10);
  }
}

// Asking for points together stops at the first piece the caller takes:
// the offers are those made before it when nothing is taken.
TEST(DirectionGrid, PointsAskedTogetherStopAtThePieceTaken) {
  std::mt19937 random(5);
  const std::vector<Piece> pieces = RunnerPieces(false, 500, random);
  const DirectionGrid grid(pieces.size(), [&](size_t k) { return pieces[k]; });
  DirectionGrid::LastCells last;
  for (size_t k = 0; k < pieces.size(); k += 7) {
    Vec points[4];
    for (Vec& p : points) p = PointOf(pieces[k], random, false);
    std::vector<int> offered;
    EXPECT_FALSE(grid.AnyAtEach(points, 4, last, [&](int, int other) {
      offered.push_back(other);
      return false;
    }));
    const auto first = std::find(offered.begin(), offered.end(), static_cast<int>(k));
    ASSERT_NE(first, offered.end());
    int offers = 0;
    EXPECT_TRUE(grid.AnyAtEach(points, 4, last, [&](int, int other) {
      ++offers;
      return static_cast<size_t>(other) == k;
    }));
    EXPECT_EQ(offers, first - offered.begin() + 1);
  }
}

// Pieces are grouped a run of 65,536 at a time. Hexahedra along x and along
// y, a thousand of one and then a thousand of the other, must make two
// groups, each piece in its own direction's, past the first run as in it,
// on any number of threads; and each must be offered for its points.
TEST(DirectionGrid, GroupsPiecesByDirectionAcrossRunsOfKeys) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Piece> pieces;
  for (size_t k = 0; k < 150000; ++k) {
    const bool alongX = k % 2000 < 1000;
    const Vec u = alongX ? Vec{1, 0, 0} : Vec{0, 1, 0}, v = alongX ? Vec{0, 1, 0} : Vec{-1, 0, 0}, w{0, 0, 1};
    const Vec base{400.0 * unit(random), 400.0 * unit(random), 40.0 * unit(random)};
    const std::vector<Vec> section = {base, Plus(base, v), Plus(Plus(base, v), w), Plus(base, w)};
    Piece p;
    p.corners = 8;
    for (size_t c = 0; c < 4; ++c) {
      p.at[c] = section[c];
      p.at[c + 4] = Plus(section[c], u, 20.0);
    }
    pieces.push_back(p);
  }
  for (const int threads : {1, 2}) {
    const DirectionGrid grid(pieces.size(), [&](size_t k) { return pieces[k]; }, threads);
    ASSERT_NE(grid.GroupOf(0), grid.GroupOf(1000));
    int strays = 0, missed = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
      strays += grid.GroupOf(k) != grid.GroupOf(k % 2000 < 1000 ? 0 : 1000) ? 1 : 0;
      if (k % 7 != 0) continue;
      const Vec p = PointOf(pieces[k], random, false);
      bool found = false;
      grid.AnyAt(p, [&](int other) { return found = static_cast<size_t>(other) == k; });
      missed += found ? 0 : 1;
    }
    EXPECT_EQ(strays, 0) << threads << " threads";
    EXPECT_EQ(missed, 0) << threads << " threads";
  }
}

// Every pair of touching faces is offered from the one face or the other
// (AnyPartnerNear), and each is offered to the other's plain query (AnyNear):
// the pairs are a face and a triangle through a point of it, or one corner
// on its rim.
TEST(DirectionGrid, OffersEveryPairOfTouchingFaces) {
  std::mt19937 random(7);
  std::vector<Piece> pieces = RunnerPieces(true, 2000, random);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<std::pair<size_t, size_t>> touching;
  const size_t first = pieces.size();
  for (size_t k = 0; k < first; k += 3) {
    Piece t;
    t.face = true;
    t.corners = 3;
    t.at[0] = PointOf(pieces[k], random, k % 2 == 1);
    const double reach = 2.0 * (1.0 + unit(random));
    t.at[1] = Plus(t.at[0], {unit(random), unit(random), unit(random)}, reach);
    t.at[2] = Plus(t.at[0], {unit(random), unit(random), unit(random)}, reach);
    touching.emplace_back(k, pieces.size());
    pieces.push_back(t);
  }
  const DirectionGrid grid(pieces.size(), [&](size_t k) { return pieces[k]; }, 2);
  const auto offers = [&](size_t from, size_t to, bool partner) {
    bool found = false;
    const auto visit = [&](int other) { return found = static_cast<size_t>(other) == to; };
    if (partner) grid.AnyPartnerNear(from, pieces[from], visit);
    else grid.AnyNear(pieces[from], visit);
    return found;
  };
  int missed = 0, missedPlain = 0;
  for (const auto& [a, b] : touching) {
    missed += offers(a, b, true) || offers(b, a, true) ? 0 : 1;
    missedPlain += offers(a, b, false) && offers(b, a, false) ? 0 : 1;
  }
  EXPECT_EQ(missed, 0);
  EXPECT_EQ(missedPlain, 0);
  // And a face is offered no partner from a group before its own.
  for (size_t k = 0; k < pieces.size(); k += 7)
    grid.AnyPartnerNear(k, pieces[k], [&](int other) {
      EXPECT_GE(grid.GroupOf(static_cast<size_t>(other)), grid.GroupOf(k));
      return false;
    });
}
