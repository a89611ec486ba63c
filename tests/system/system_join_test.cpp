// Joining the two end sections of a runner by ring and number: a section and
// the same section renumbered from another angle-0 node, run the other way
// round, turned a little and seen from either side join back node for node,
// with the turn between them as the twist, and a runner swept between them
// turns no element inside out.

#include "system_detail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace vela::system;
using namespace vela::system::detail;

namespace {

constexpr double kTwoPi = 2 * kPi;

// v turned by angle about +z, then taken into the frame (e1, e2, e3).
Vec3 Place(const Vec3& v, double angle, const std::array<Vec3, 3>& frame) {
  const double c = std::cos(angle), s = std::sin(angle);
  const Vec3 turned{c * v[0] - s * v[1], s * v[0] + c * v[1], v[2]};
  return Add(Add(Scale(frame[0], turned[0]), Scale(frame[1], turned[1])), Scale(frame[2], turned[2]));
}

// Node a of every ring renumbered as (mirror ? -a : a) + steps * n / F, ring
// by ring: the numbering of the same section started from another angle-0
// node and, mirrored, running the other way round.
std::vector<int> Renumbering(const SectionRings& rings, int steps, bool mirror) {
  std::vector<int> to;
  int base = 0;
  for (const int n : rings.sizes) {
    for (int a = 0; a < n; ++a) {
      const int b = ((mirror ? -a : a) + steps * (n / rings.steps)) % n;
      to.push_back(base + (b < 0 ? b + n : b));
    }
    base += n;
  }
  return to;
}

struct Pair {
  Section from, to;
  std::vector<int> renumbering;
};

// The reference section in a frame at the origin, and at `length` along the
// frame's third axis the same section turned by `angle`, renumbered, its
// axis pointing back along the runner when `facingBack`. Node numbers are the
// indices into mesh, which gets both sections' places.
Pair MakePair(const Section& reference, const SectionRings& rings, const std::array<Vec3, 3>& frame, int steps,
              bool mirror, double angle, bool facingBack, SystemMesh& mesh) {
  Pair pair;
  pair.renumbering = Renumbering(rings, steps, mirror);
  const std::size_t count = reference.places.size();
  const Vec3 end = Scale(frame[2], 30.0);
  pair.from.origin = {0, 0, 0};
  pair.from.axis = frame[2];
  pair.from.radius = pair.to.radius = 2.0;
  pair.from.faces = reference.faces;
  pair.to.origin = end;
  pair.to.axis = facingBack ? Scale(frame[2], -1.0) : frame[2];
  pair.to.places.resize(count);
  pair.to.nodes.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    pair.from.places.push_back(Place(Scale(reference.places[i], 2.0), 0.0, frame));
    pair.from.nodes.push_back(static_cast<int>(i));
    const auto j = static_cast<std::size_t>(pair.renumbering[i]);
    pair.to.places[j] = Add(end, Place(Scale(reference.places[i], 2.0), angle, frame));
    pair.to.nodes[j] = static_cast<int>(count + j);
  }
  for (const Vec3& p : pair.from.places) mesh.nodes.push_back(p);
  for (const Vec3& p : pair.to.places) mesh.nodes.push_back(p);
  // The same faces, by the new numbers, wound about the new axis.
  for (const SectionFace& face : reference.faces) {
    SectionFace row = face;
    for (std::size_t k = 0; k < static_cast<std::size_t>(face.corners); ++k)
      row.at[k] = pair.renumbering[static_cast<std::size_t>(face.at[k])];
    if (facingBack) std::reverse(row.at.begin() + 1, row.at.begin() + row.corners);
    pair.to.faces.push_back(row);
  }
  return pair;
}

std::array<Vec3, 3> Frame(const Vec3& axis) {
  const Vec3 e3 = Unit(axis);
  const Vec3 e1 = AnySquareTo(e3);
  return {e1, Cross(e3, e1), e3};
}

}  // namespace

TEST(SystemJoin, RenumberedTurnedAndMirroredSectionsJoinBack) {
  std::vector<SectionSettings> settings(3);
  settings[1].firstCircleNodes = 4;
  settings[1].innerLayers = {0, 0.5, 1};
  settings[1].outerLayers = {};
  settings[2].firstCircleNodes = 6;
  settings[2].innerLayers = {0, 0.3, 0.6, 1};
  settings[2].outerLayers = {0, 0.3, 0.6, 1};
  for (const SectionSettings& setting : settings) {
    Section reference;
    SectionRings rings;
    ASSERT_FALSE(ReferenceSection(setting, reference, rings));
    const int f = setting.firstCircleNodes;
    const double step = kTwoPi / f;
    for (const Vec3& axis : {Vec3{0, 0, 1}, Vec3{-2, 1, 3}})
      for (int steps = 0; steps < f; ++steps)
        for (const bool mirror : {false, true})
          for (const double share : {0.0, 0.3, -0.45})
            for (const bool facingBack : {false, true}) {
              SCOPED_TRACE("F " + std::to_string(f) + ", " + std::to_string(steps) + " steps" +
                           (mirror ? ", mirrored" : "") + ", turned by " + std::to_string(share) + " step" +
                           (facingBack ? ", facing back" : ""));
              SystemMesh mesh;
              const Pair pair =
                  MakePair(reference, rings, Frame(axis), steps, mirror, share * step, facingBack, mesh);
              const SectionJoin join = JoinSections(pair.from, pair.to, rings);
              ASSERT_EQ(join.to, pair.renumbering);
              EXPECT_NEAR(join.twist, share * step, 1e-12);
              // Swept along the runner with that twist, every element keeps its corners turning outward.
              std::vector<std::vector<int>> boundary;
              SweepRunner(pair.from, pair.to, join, 4, 0, mesh, boundary);
              EXPECT_TRUE(AllPositive(mesh, 0));
            }
  }
}

// Turned by half a step, two turns are equally small: the positive one is
// taken, whichever way the sections are numbered, and the join follows it.
TEST(SystemJoin, HalfAStepEitherWayTakesThePositiveTurn) {
  Section reference;
  SectionRings rings;
  ASSERT_FALSE(ReferenceSection(SectionSettings{}, reference, rings));
  const double step = kTwoPi / rings.steps;
  for (const bool mirror : {false, true})
    for (const double half : {0.5 * step, -0.5 * step}) {
      SystemMesh mesh;
      const Pair pair = MakePair(reference, rings, Frame({1, 1, 0}), 3, mirror, half, false, mesh);
      const SectionJoin join = JoinSections(pair.from, pair.to, rings);
      ASSERT_EQ(join.to.size(), pair.renumbering.size());
      EXPECT_NEAR(join.twist, 0.5 * step, 1e-9);
      // Turned back by a whole step, the join is the renumbering one step on.
      const std::vector<int> expected = half > 0 ? pair.renumbering : [&] {
        const std::vector<int> onward = Renumbering(rings, 1, false);
        std::vector<int> shifted(onward.size());
        for (std::size_t i = 0; i < onward.size(); ++i)
          shifted[i] = pair.renumbering[static_cast<std::size_t>(onward[i])];
        return shifted;
      }();
      EXPECT_EQ(join.to, expected) << (mirror ? "mirrored" : "") << " by " << half;
    }
}

// What does not carry the pattern face for face is not joined: here two
// faces of the other end split the other way.
TEST(SystemJoin, SectionsThatDoNotMatchAreNotJoined) {
  Section reference;
  SectionRings rings;
  ASSERT_FALSE(ReferenceSection(SectionSettings{}, reference, rings));
  SystemMesh mesh;
  const Pair pair = MakePair(reference, rings, Frame({0, 1, 0}), 2, true, 0.1, false, mesh);
  ASSERT_FALSE(JoinSections(pair.from, pair.to, rings).to.empty());

  // The first two triangles between rings 1 and 2, after the fan, make a
  // quadrilateral: split along its other diagonal, the section keeps every
  // node and its rim but no longer meets the other face for face.
  Pair flipped = pair;
  SectionFace& first = flipped.to.faces[static_cast<std::size_t>(rings.steps)];
  SectionFace& second = flipped.to.faces[static_cast<std::size_t>(rings.steps) + 1];
  ASSERT_TRUE(first.corners == 3 && second.corners == 3);
  ASSERT_TRUE(first.at[0] == second.at[0] && first.at[2] == second.at[1]) << "not two triangles on one edge";
  const std::array<int, 4> quad{first.at[0], first.at[1], first.at[2], second.at[2]};
  first.at = {quad[0], quad[1], quad[3], -1};
  second.at = {quad[1], quad[2], quad[3], -1};
  EXPECT_TRUE(JoinSections(flipped.from, flipped.to, rings).to.empty());
}

// A runner's layers against the cells of the regions at its ends: even where
// the even layer is thin enough for both, else graded from each end that
// needs it, never more than a quarter thicker than the layer before, the
// count unchanged and the length filled.
TEST(SystemJoin, RunnerLayersGrowFromThinRegionCells) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(LayerShares(20.0, 10, inf, inf).empty());
  EXPECT_TRUE(LayerShares(20.0, 10, 2.0 / 32, 0.5).empty()) << "the even layer of 2 is 32 times 1/16";
  EXPECT_TRUE(LayerShares(20.0, 1, 0.001, 0.001).empty()) << "one layer has nothing to grow";
  EXPECT_TRUE(LayerShares(9.0, 4, 0.01, 0.2).empty()) << "four layers grown from 0.32 reach 1.85 of 9";
  const struct {
    double length;
    int layers;
    double fromCell, toCell;
  } cases[] = {{20.0, 10, 0.052, inf}, {20.0, 10, inf, 0.03}, {26.0, 13, 0.052, 0.052}, {9.0, 4, 0.05, 0.2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::vector<double> shares = LayerShares(c.length, c.layers, c.fromCell, c.toCell);
    ASSERT_EQ(shares.size(), static_cast<std::size_t>(c.layers) + 1);
    EXPECT_EQ(shares.front(), 0.0);
    EXPECT_EQ(shares.back(), 1.0);
    std::vector<double> layer;
    for (int i = 0; i < c.layers; ++i) layer.push_back(c.length * (shares[i + 1] - shares[i]));
    for (const double t : layer) EXPECT_GT(t, 0.0);
    EXPECT_LE(layer.front(), 32.0 * c.fromCell * (1 + 1e-9));
    EXPECT_LE(layer.back(), 32.0 * c.toCell * (1 + 1e-9));
    for (std::size_t i = 1; i < layer.size(); ++i) {
      const double ratio = std::max(layer[i] / layer[i - 1], layer[i - 1] / layer[i]);
      EXPECT_LE(ratio, 1.25 + 1e-9) << "layers " << i - 1 << " and " << i;
    }
  }
}
