// N-way junctions end to end, the merge of their junction-end nodes, and the
// inputs they refuse.

#include "junction_fixtures.h"
#include "mesh_checks.h"
#include "quality.h"

#include "mapper/node_merge.h"
#include "mapper/nway_junction.h"
#include "sweep/section_pattern.h"
#include "vec3.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include <cmath>
#include <limits>

namespace {

using vela::Point3;

const double kNoTurn[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

std::vector<Junction> NWayJunctions() {
  return {
      Planar("Y", {0, 120, 240}),
      Planar("T", {0, 90, 180}),
      Planar("X", {0, 90, 180, 270}),
      Planar("narrowY", {0, 100, 200}),
      With(Planar("unequalRadii", {0, 120, 240}), [](Junction& j) { j.radii = {2.0, 2.0, 1.5, 1.5, 2.5, 2.5}; }),
      With(Planar("tapered", {0, 90, 180, 270}), [](Junction& j) { j.radii = {2.5, 2, 2, 2, 2.5, 2, 2, 2}; }),
      With(Planar("outOfPlane", {0, 120, 240}), [](Junction& j) { j.farPoints[1][2] = 6.0; j.farPoints[2][2] = -4.0; }),
      With(Planar("boundaryLayers", {0, 90, 180, 270}), [](Junction& j) { j.outer = {0, 0.5, 1}; j.firstRing = 6; }),
      Transformed(Planar("awayFromOrigin", {10, 135, 250}, 1.5), kNoTurn, {100, -50, 7}),
  };
}

class NWayJunction : public testing::TestWithParam<Junction> {};

}  // namespace

TEST_P(NWayJunction, MeshIsSoundAndComplete) {
  const Junction& j = GetParam();
  const Meshed m = MeshJunction(j);
  ASSERT_TRUE(m.ok);
  ExpectSoundMesh(m.mesh, MergeTolOf(j));

  // Every branch keeps its 5 element layers of the section's faces; the merge
  // only removes nodes.
  const int c = static_cast<int>(j.inner.size()) - 1;
  const int b = std::max(static_cast<int>(j.outer.size()) - 1, 0);
  const int n = static_cast<int>(j.farPoints.size());
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Prism), 5 * n * j.firstRing * c * c);
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Hexa), 5 * n * b * c * j.firstRing);
  // At least the n junction-section centres and the shared wall nodes merged.
  const vela::JunctionResult value = vela::host::MeshValue(FileOf(j), vela::host::kAsClass);
  EXPECT_LE(m.mesh.GetNodeCount(), value.mesh.nodesBeforeMerge - (n - 1));

  // Each far node lies on its runner's far-end section, on the outer wall:
  // square to the runner's axis at the far point, one wall radius away.
  for (size_t i = 0; i < j.farPoints.size(); ++i) {
    const vela::Point3 off = vela::Sub({m.farNodes[i].x, m.farNodes[i].y, m.farNodes[i].z}, j.farPoints[i]);
    const double wall = j.radii[2 * i] * (b > 0 ? 1.0 : j.innerShare * j.inner.back());
    EXPECT_NEAR(vela::Dot(off, vela::Unit(vela::Sub(j.farPoints[i], j.center))), 0.0, 1e-4) << "runner " << i;
    EXPECT_NEAR(vela::Norm(off), wall, 1e-4) << "runner " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Junctions, NWayJunction, testing::ValuesIn(NWayJunctions()),
                         [](const testing::TestParamInfo<Junction>& param) { return param.param.name; });

TEST(NWayJunction, MovedAndTurnedJunctionGivesTheMovedAndTurnedMesh) {
  const Junction j = With(Planar("Y", {0, 120, 240}), [](Junction& y) { y.farPoints[1][2] = 5.0; });
  // A turn about z by 0.7, then about x by -0.4.
  const double ca = std::cos(0.7), sa = std::sin(0.7), cb = std::cos(-0.4), sb = std::sin(-0.4);
  const double rot[3][3] = {{ca, -sa, 0}, {cb * sa, cb * ca, -sb}, {sb * sa, sb * ca, cb}};
  const std::array<double, 3> offset = {3.0, -8.0, 12.0};

  const Meshed original = MeshJunction(j);
  const Meshed moved = MeshJunction(Transformed(j, rot, offset));
  ASSERT_TRUE(original.ok && moved.ok);
  ASSERT_EQ(original.mesh.GetNodeCount(), moved.mesh.GetNodeCount());
  ASSERT_EQ(original.mesh.GetElementCount(), moved.mesh.GetElementCount());
  double worst = 0.0;
  for (size_t i = 0; i < original.mesh.nodes.size(); ++i) {
    const auto& p = original.mesh.nodes[i];
    for (size_t r = 0; r < 3; ++r)
      worst = std::max(worst, std::fabs(rot[r][0] * p[0] + rot[r][1] * p[1] + rot[r][2] * p[2] + offset[r] -
                                        moved.mesh.nodes[i][r]));
  }
  // The inputs cross the boundary as floats: agreement to float precision of a 20-unit junction.
  EXPECT_LT(worst, 1e-4);
  for (size_t e = 0; e < original.mesh.elements.size(); ++e)
    EXPECT_EQ(original.mesh.elements[e].nodes, moved.mesh.elements[e].nodes) << "element " << e;
}

// A mapper that meshed one junction meshes the next exactly as a fresh one
// does: nothing of the first junction's runners (elevations, radii) lingers.
TEST(NWayJunction, ReusedMapperForgetsThePreviousJunction) {
  const Junction three = With(Planar("Y", {0, 120, 240}), [](Junction& j) { j.farPoints[0][2] = 7.0; });
  const Junction four = With(Planar("X", {0, 90, 180, 270}), [](Junction& j) {
    j.farPoints[1][2] = -5.0;
    j.radii = {2.0, 2.0, 1.5, 1.8, 2.0, 2.0, 1.6, 1.6};
  });
  CVelaRunnerMapping mapper;
  ASSERT_TRUE(MeshJunction(three, &mapper).ok);
  const Meshed second = MeshJunction(four, &mapper), fresh = MeshJunction(four);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(mapper.GetNPoint(), 4);
  EXPECT_EQ(second.mesh.nodes, fresh.mesh.nodes);
  EXPECT_EQ(second.farNodes, fresh.farNodes);
}

// ---------------------------------------------------------------- refused input

TEST(NWayJunction, RefusedInputNamesItsReasonAndWritesNothing) {
  using R = vela::Refusal;
  const double inf = std::numeric_limits<double>::infinity();
  const std::tuple<const char*, std::function<void(Junction&)>, R, int> rows[] = {
      {"shares add up to 1.001", [](Junction& j) { j.outerShare = 0.201; }, R::Shares, -1},
      {"inner share zero", [](Junction& j) { j.innerShare = 0.0; j.outerShare = 1.0; }, R::ShareRatio, -1},
      {"negative outer share", [](Junction& j) { j.innerShare = 1.2; j.outerShare = -0.2; }, R::ShareRatio, -1},
      {"boundary layers with no share of the radius",
       [](Junction& j) { j.innerShare = 1.0; j.outerShare = 0.0; j.outer = {0, 1}; }, R::ShareRatio, -1},
      {"radius list too short", [](Junction& j) { j.radii.pop_back(); }, R::RadiusList, -1},
      {"radius zero", [](Junction& j) { j.radii[3] = 0.0; }, R::RadiusNotPositive, 1},
      {"radius negative", [](Junction& j) { j.radii[0] = -2.0; }, R::RadiusNotPositive, 0},
      {"radius not finite", [inf](Junction& j) { j.radii[2] = inf; }, R::NonFinite, 1},
      {"radius NaN", [](Junction& j) { j.radii[5] = std::nan(""); }, R::NonFinite, 2},
      {"coordinate not finite", [inf](Junction& j) { j.farPoints[1][0] = inf; }, R::NonFinite, 1},
      {"coordinate near the float limit", [](Junction& j) { j.farPoints[1][0] = 3e38; }, R::Magnitude, 1},
      {"radius of 1e300", [](Junction& j) { j.radii[4] = j.radii[5] = 1e300; }, R::Magnitude, 2},
      {"far point at the centre", [](Junction& j) { j.farPoints[2] = j.center; }, R::FarPointDegenerate, 2},
      {"all runners on one line", [](Junction& j) { j.farPoints = {{20, 0, 0}, {-20, 0, 0}, {10, 0, 0}}; },
       R::NoPlane, -1},
      {"no inner ring", [](Junction& j) { j.inner = {0}; }, R::NoInnerRing, -1},
      {"empty inner list", [](Junction& j) { j.inner = {}; }, R::LayersNotSet, -1},
      {"inner positions out of order", [](Junction& j) { j.inner = {0, 0.5, 0.25, 1}; }, R::LayerOrder, -1},
      {"inner position repeated", [](Junction& j) { j.inner = {0, 0.5, 0.5, 1}; }, R::LayerOrder, -1},
      {"outer positions beyond 1", [](Junction& j) { j.outer = {0, 0.5, 1.5}; }, R::LayerOrder, -1},
      {"inner list not reaching 1", [](Junction& j) { j.inner = {0, 0.5, 0.9}; }, R::LayerOrder, -1},
      {"layer position NaN", [](Junction& j) { j.outer = {0, std::nan(""), 1}; }, R::NonFinite, -1},
      {"first ring of two nodes", [](Junction& j) { j.firstRing = 2; }, R::FirstRingTooSmall, -1},
      {"more nodes than an int numbers", [](Junction& j) { j.firstRing = 100000; j.inner.assign(1001, 0.0);
         for (size_t i = 0; i < j.inner.size(); ++i) j.inner[i] = double(i) / 1000.0; }, R::TooLarge, -1},
      {"eight rings around a first ring of four", [](Junction& j) { j.firstRing = 4;
         j.inner = {0, 0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 1}; }, R::SectionTooFine, -1},
      // Beyond the bounds the construction was validated within, junctions
      // whose branches run into each other, refused under the bound's name.
      {"neighbours 5 degrees apart", [](Junction& j) { j = Planar("Y", {0, 5, 180}); }, R::NeighboursTooClose, 0},
      {"far points inside the neighbours' crossing", [](Junction& j) { j = Planar("Y", {0, 40, 180}, 10.0); },
       R::NeighboursTooClose, 0},
      {"two opposite runners 60 degrees out of the plane", [](Junction& j) { j = Planar("X", {0, 90, 180, 270});
         j.farPoints[1] = {0, 10, 17.320508}; j.farPoints[3] = {0, -10, 17.320508}; }, R::Elevation, 1},
      {"one runner eight times as wide, 40 degrees from a neighbour", [](Junction& j) { j = Planar("Y", {0, 40, 180});
         j.radii[2] = j.radii[3] = 16.0; }, R::RadiusRatio, 1},
      {"runners out of order round the centre", [](Junction& j) { j = Planar("X", {0, 200, 100, 300}); },
       R::RunnerOrder, -1},
      // Far out of the plane the order about its normal means little: the
      // steepest runner is named, as within the plane's bound.
      {"five runners 70 degrees up and down by turns", [](Junction& j) { j = Planar("five", {0, 72, 144, 216, 288});
         for (size_t k = 0; k < 5; ++k) {
           const double a = 72.0 * static_cast<double>(k) * vela::kPi / 180, e = (k % 2 ? 70 : -70) * vela::kPi / 180;
           j.farPoints[k] = {20 * std::cos(e) * std::cos(a), 20 * std::cos(e) * std::sin(a), 20 * std::sin(e)};
         } }, R::Elevation, 2},
      // Junction-end sections that stay apart: the merged mesh leaves faces uncovered.
      {"sections that do not meet", [](Junction& j) { j = Planar("Y", {4, 110, 316});
         j.radii = {2, 2, 3, 3, 1.5, 1.5}; }, R::UnsoundResult, -1},
      // Two runners through the N-way call, not the bend.
      {"two runners", [](Junction& j) { j.farPoints = {{20, 0, 0}, {0, 20, 0}}; j.radii.resize(4); },
       R::TooFewRunners, -1},
  };
  for (const auto& [why, change, reason, runner] : rows) {
    SCOPED_TRACE(why);
    const Meshed m = MeshJunction(With(Planar("Y", {0, 120, 240}), change));
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(vela::RefusalName(vela::LastJunctionRefusal().reason), std::string(vela::RefusalName(reason)));
    EXPECT_EQ(vela::LastJunctionRefusal().runner, runner);
    EXPECT_EQ(m.mesh.CallCount(), 0);
    for (const ON_3fPoint& p : m.farNodes) EXPECT_EQ(p, ON_3fPoint());
  }
}

// Past the bounds within which the construction was validated, a junction
// whose mesh overlaps nowhere is accepted: its mesh is sound by the quality
// report, which shares no code with the library, wherever the junction is
// moved and however it is turned. Among them the five runners at
// uneven angles, tapered, one of them 30 degrees out of the plane.
std::vector<Junction> BeyondTheOldBounds() {
  const auto at = [](double azimuthDeg, double elevationDeg) {
    const double a = azimuthDeg * vela::kPi / 180, e = elevationDeg * vela::kPi / 180;
    return std::array<double, 3>{20 * std::cos(e) * std::cos(a), 20 * std::cos(e) * std::sin(a), 20 * std::sin(e)};
  };
  return {
      With(Planar("fiveOneLeaving30", {0, 65, 150, 215, 290}),
           [&](Junction& j) {
             j.farPoints[2] = at(150, 30);
             j.radii = {2.2, 2.5, 1.8, 2.0, 1.6, 1.8, 2.0, 2.3, 1.7, 1.9};
           }),
      With(Planar("xOneLeaving25", {0, 90, 180, 270}), [](Junction& j) { j.farPoints[1] = {0, 18.1, 8.45}; }),
      With(Planar("xTwoLeaving45", {0, 90, 180, 270}),
           [&](Junction& j) { j.farPoints[1] = at(90, 45), j.farPoints[3] = at(270, 45); }),
      Planar("neighbours20Apart", {0, 20, 180}),
      Planar("farPointsInsideTheCrossing", {0, 40, 180}, 8.0),
      With(Planar("oneThreeTimesAsWide", {0, 120, 240}), [](Junction& j) { j.radii[2] = j.radii[3] = 6.0; }),
  };
}

class BeyondOldBounds : public testing::TestWithParam<Junction> {};

TEST_P(BeyondOldBounds, IsMeshedSoundlyWhereverItIsPlaced) {
  const double turn[3][3] = {{0.36, 0.48, -0.8}, {-0.8, 0.6, 0.0}, {0.48, 0.64, 0.6}};
  for (const Junction& j : {GetParam(), Transformed(GetParam(), turn, {130, -45, 12})}) {
    const Meshed m = MeshJunction(j);
    ASSERT_TRUE(m.ok) << vela::RefusalMessage(vela::LastJunctionRefusal());
    EXPECT_EQ(vela::LastJunctionRefusal().reason, vela::Refusal::None);
    // Two nodes count as one within the report's own tolerance, as the
    // census judges: near a much wider runner the merge is mended within a
    // finer spacing than the usual tolerance (mesh_build.h).
    ExpectSoundMesh(m.mesh, vela::quality::DefaultTolerance(m.mesh));
  }
}

INSTANTIATE_TEST_SUITE_P(Accepted, BeyondOldBounds, testing::ValuesIn(BeyondTheOldBounds()),
                         [](const testing::TestParamInfo<Junction>& param) { return param.param.name; });

TEST(NWayJunction, MissingListsAndUnsetLayersAreRefusedByName) {
  const JunctionArrays a = ArraysOf(Planar("Y", {0, 120, 240}));
  MemoryMesh mesh;
  ON_3fPoint far[3];
  CVelaRunnerMapping fresh;  // layer lists never set
  EXPECT_FALSE(fresh.NConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, &mesh, far));
  EXPECT_EQ(vela::LastJunctionRefusal().reason, vela::Refusal::LayersNotSet);
  fresh.SetIOBoundaryLayer(&a.inner, &a.outer);
  const std::pair<const char*, std::function<bool()>> calls[] = {
      {"far points", [&] { return fresh.NConnectRunner(ON_3fPoint(), nullptr, &a.radii, 0.8, 0.2, &mesh, far); }},
      {"radii", [&] { return fresh.NConnectRunner(ON_3fPoint(), &a.far, nullptr, 0.8, 0.2, &mesh, far); }},
      {"mesh", [&] { return fresh.NConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, nullptr, far); }},
      {"far nodes", [&] { return fresh.NConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, &mesh, nullptr); }},
      {"far nodes, mesh-less", [&] { return fresh.NConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, nullptr); }},
  };
  for (const auto& [what, call] : calls) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(call());
    EXPECT_EQ(vela::LastJunctionRefusal().reason, vela::Refusal::NullPointer);
  }
  EXPECT_EQ(mesh.CallCount(), 0);
  // A call that meshes clears the record.
  EXPECT_TRUE(fresh.NConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, &mesh, far));
  EXPECT_EQ(vela::LastJunctionRefusal().reason, vela::Refusal::None);
}

TEST(NWayJunction, SharesWithinTheToleranceOfOneAreAccepted) {
  for (const auto& [inner, outer] : {std::pair{0.7, 0.3}, {0.7, 0.3009}, {0.7, 0.2991}}) {
    SCOPED_TRACE(testing::Message() << inner << " + " << outer);
    Junction j = Planar("Y", {0, 120, 240});
    j.innerShare = inner;
    j.outerShare = outer;
    j.outer = {0, 1};
    const Meshed m = MeshJunction(j);
    EXPECT_TRUE(m.ok);
    EXPECT_GT(m.mesh.GetElementCount(), 0);
  }
}

TEST(NWayJunction, EmptyFarPointListThrowsLikeAnyListReadOutOfRange) {
  CVelaRunnerMapping mapper;
  const JunctionArrays none = ArraysOf(Planar("none", {}));
  MemoryMesh mesh;
  ON_3fPoint farNodes[1];
  EXPECT_THROW(mapper.NConnectRunner(ON_3fPoint(), &none.far, &none.radii, 0.8, 0.2, &mesh, farNodes),
               std::invalid_argument);
  EXPECT_EQ(mesh.CallCount(), 0);
}

// Run under the leak checker: nothing a call builds outlives it.
TEST(NWayJunction, CallsLeaveNoArraysBehind) {
  const Junction y = Planar("Y", {0, 120, 240});
  const JunctionArrays a = ArraysOf(y);
  CVelaRunnerMapping mapper;
  ON_3fPoint farNodes[3];
  auto meshLess = [&] { return mapper.NConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, farNodes); };
  mapper.SetIOBoundaryLayer(&a.inner, &a.outer);
  EXPECT_TRUE(meshLess());
  EXPECT_TRUE(meshLess());
  EXPECT_TRUE(MeshJunction(y, &mapper).ok);
  EXPECT_TRUE(meshLess());
}

// ---------------------------------------------------------------- junction geometry

TEST(NWayGeometry, PlaneNormalFollowsTheRunnersTurn) {
  const vela::Precision single = vela::Precision::Single;
  const std::vector<Point3> ccw = {{10, 0, 0}, {0, 10, 0}, {-10, 0, 0}};
  const auto n = vela::AverageCoplaneNormal({0, 0, 0}, ccw, single);
  ASSERT_TRUE(n.has_value());
  EXPECT_NEAR((*n)[2], 1.0, 1e-12);
  const std::vector<Point3> cw(ccw.rbegin(), ccw.rend());
  EXPECT_NEAR((*vela::AverageCoplaneNormal({0, 0, 0}, cw, single))[2], -1.0, 1e-12);
  const std::vector<Point3> line = {{10, 0, 0}, {-10, 0.5, 0}, {5, 0, 0}};
  EXPECT_FALSE(vela::AverageCoplaneNormal({0, 0, 0}, line, single).has_value());
}

// ---------------------------------------------------------------- merging

TEST(NodeMerge, CandidatesWithinAClosedBoxMergeIntoTheFirstKept) {
  // Rows 1..6; 0 unused.
  double nodes[7][3] = {{0, 0, 0}, {0, 0, 0}, {5, 5, 5}, {0.5, 0, 0}, {0.5 + 1e-9, 0, 0}, {5, 5, 5}, {9, 9, 9}};
  unsigned char candidates[7] = {0, 1, 0, 1, 1, 1, 1};
  // Node 3 lies exactly tol from node 1 and merges; node 4 lies just beyond
  // tol from node 1 but within tol of nothing kept, so it stays; node 5 sits
  // exactly on non-candidate node 2 and stays separate.
  int elements[3][8] = {{0}, {1, 2, 3, 4, 5, 6, 0, 0}, {6, 5, 4, 3, 0, 0, 0, 0}};
  double keptNodes[7][3];
  int keptElements[3][8];
  unsigned char keptFlags[7];
  int map[7];
  EXPECT_EQ(vela::MergeCandidates(nodes, 6, elements, 2, candidates, 0.5,
                                  {keptNodes, keptElements, keptFlags, map}),
            5);
  EXPECT_EQ(std::vector<int>(keptElements[1], keptElements[1] + 8), (std::vector<int>{1, 2, 1, 3, 4, 5, 0, 0}));
  EXPECT_EQ(std::vector<int>(keptElements[2], keptElements[2] + 8), (std::vector<int>{5, 4, 3, 1, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<int>(map + 1, map + 7), (std::vector<int>{1, 2, 1, 3, 4, 5}));
  EXPECT_EQ(keptNodes[3][0], 0.5 + 1e-9);  // kept in order
  EXPECT_EQ(keptNodes[5][0], 9.0);
  // The flags follow their nodes: kept nodes 1, 3, 4, 5 were candidates, 2 not.
  EXPECT_EQ(std::vector<int>(keptFlags + 1, keptFlags + 6), (std::vector<int>{1, 0, 1, 1, 1}));
  // What was swept stays as it was, for a merge with another tolerance.
  EXPECT_EQ(nodes[3][0], 0.5);
  EXPECT_EQ(elements[2][0], 6);
}
