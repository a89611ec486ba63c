// N-way junctions end to end, the merge of their junction-end nodes, and the
// inputs they refuse.

#include "junction_fixtures.h"
#include "mesh_checks.h"

#include "mapper/module_state.h"
#include "mapper/node_merge.h"
#include "mapper/nway_junction.h"
#include "sweep/section_pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kPi = 3.141592653589793;

std::vector<Junction> NWayJunctions() {
  std::vector<Junction> all;
  all.push_back(Planar("Y", {0, 120, 240}));
  all.push_back(Planar("T", {0, 90, 180}));
  all.push_back(Planar("X", {0, 90, 180, 270}));
  all.push_back(Planar("narrowY", {0, 100, 200}));
  Junction unequal = Planar("unequalRadii", {0, 120, 240});
  unequal.radii = {2.0, 2.0, 1.5, 1.5, 2.5, 2.5};
  all.push_back(unequal);
  Junction tapered = Planar("tapered", {0, 90, 180, 270});
  tapered.radii = {2.5, 2.0, 2.0, 2.0, 2.5, 2.0, 2.0, 2.0};
  all.push_back(tapered);
  Junction leaving = Planar("outOfPlane", {0, 120, 240});
  leaving.farPoints[1][2] = 6.0;
  leaving.farPoints[2][2] = -4.0;
  all.push_back(leaving);
  Junction layered = Planar("boundaryLayers", {0, 90, 180, 270});
  layered.outer = {0, 0.5, 1};
  layered.firstRing = 6;
  all.push_back(layered);
  Junction moved = Planar("awayFromOrigin", {10, 135, 250}, 1.5);
  moved.center = {100, -50, 7};
  for (auto& p : moved.farPoints)
    for (int a = 0; a < 3; ++a) p[static_cast<size_t>(a)] += moved.center[static_cast<size_t>(a)];
  all.push_back(moved);
  return all;
}

class NWayJunction : public testing::TestWithParam<Junction> {};

}  // namespace

TEST_P(NWayJunction, MeshIsSoundAndComplete) {
  const Junction& j = GetParam();
  const Meshed m = MeshJunction(j);
  ASSERT_TRUE(m.ok);
  DumpMeshForInspection(m.mesh, j.name);
  ExpectSoundMesh(m.mesh, MergeTolOf(j));

  // Every branch keeps its 5 element layers of the section's faces; the merge
  // only removes nodes.
  const int c = static_cast<int>(j.inner.size()) - 1;
  const int b = std::max(static_cast<int>(j.outer.size()) - 1, 0);
  const vela::SectionCounts section = vela::CountSection(j.firstRing, c, b);
  const int n = static_cast<int>(j.farPoints.size());
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Prism), 5 * n * j.firstRing * c * c);
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Hexa), 5 * n * b * c * j.firstRing);
  EXPECT_LT(m.mesh.GetNodeCount(), 6 * n * section.nodes);
  // At least the n junction-section centres and the shared wall nodes merged.
  EXPECT_LE(m.mesh.GetNodeCount(), 6 * n * section.nodes - (n - 1));

  // Each far node lies on its runner's far-end section, on the outer wall:
  // square to the runner's axis at the far point, one wall radius away.
  for (int i = 0; i < n; ++i) {
    const auto& far = j.farPoints[static_cast<size_t>(i)];
    const ON_3fPoint& node = m.farNodes[static_cast<size_t>(i)];
    const double off[3] = {node.x - far[0], node.y - far[1], node.z - far[2]};
    const double dir[3] = {far[0] - j.center[0], far[1] - j.center[1], far[2] - j.center[2]};
    const double axial = (off[0] * dir[0] + off[1] * dir[1] + off[2] * dir[2]) /
                         std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    const double wall = j.radii[static_cast<size_t>(2 * i)] * (b > 0 ? 1.0 : j.innerShare * j.inner.back());
    EXPECT_NEAR(axial, 0.0, 1e-4) << "runner " << i;
    EXPECT_NEAR(std::sqrt(off[0] * off[0] + off[1] * off[1] + off[2] * off[2]), wall, 1e-4) << "runner " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Junctions, NWayJunction, testing::ValuesIn(NWayJunctions()),
                         [](const testing::TestParamInfo<Junction>& info) { return info.param.name; });

TEST(NWayJunction, MovedAndTurnedJunctionGivesTheMovedAndTurnedMesh) {
  Junction j = Planar("Y", {0, 120, 240});
  j.farPoints[1][2] = 5.0;  // one runner leaves the plane
  const double a = 0.7, b = -0.4;
  const double rz[3][3] = {{std::cos(a), -std::sin(a), 0}, {std::sin(a), std::cos(a), 0}, {0, 0, 1}};
  const double rx[3][3] = {{1, 0, 0}, {0, std::cos(b), -std::sin(b)}, {0, std::sin(b), std::cos(b)}};
  double rot[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rot[r][c] = rx[r][0] * rz[0][c] + rx[r][1] * rz[1][c] + rx[r][2] * rz[2][c];
  const std::array<double, 3> offset = {3.0, -8.0, 12.0};

  const Meshed original = MeshJunction(j);
  const Meshed moved = MeshJunction(Transformed(j, rot, offset));
  ASSERT_TRUE(original.ok && moved.ok);
  ASSERT_EQ(original.mesh.GetNodeCount(), moved.mesh.GetNodeCount());
  ASSERT_EQ(original.mesh.GetElementCount(), moved.mesh.GetElementCount());
  double worst = 0.0;
  for (size_t i = 0; i < original.mesh.nodes.size(); ++i) {
    const auto& p = original.mesh.nodes[i];
    for (int r = 0; r < 3; ++r) {
      const double expected = rot[r][0] * p[0] + rot[r][1] * p[1] + rot[r][2] * p[2] + offset[static_cast<size_t>(r)];
      worst = std::max(worst, std::fabs(expected - moved.mesh.nodes[i][static_cast<size_t>(r)]));
    }
  }
  // The inputs cross the boundary as floats: agreement to float precision of a 20-unit junction.
  EXPECT_LT(worst, 1e-4);
  for (size_t e = 0; e < original.mesh.elements.size(); ++e)
    EXPECT_EQ(original.mesh.elements[e].nodes, moved.mesh.elements[e].nodes) << "element " << e;
}

// A mapper that meshed one junction meshes the next exactly as a fresh one
// does: nothing of the first junction's runners (elevations, radii) lingers.
TEST(NWayJunction, ReusedMapperForgetsThePreviousJunction) {
  Junction three = Planar("Y", {0, 120, 240});
  three.farPoints[0][2] = 7.0;
  Junction four = Planar("X", {0, 90, 180, 270});
  four.farPoints[1][2] = -5.0;
  four.radii = {2.0, 2.0, 1.5, 1.8, 2.0, 2.0, 1.6, 1.6};
  auto toArrays = [](const Junction& j, CArray<ON_3fPoint, ON_3fPoint>& far, CArray<double, double>& radii) {
    for (const auto& p : j.farPoints) far.Add(ON_3fPoint(float(p[0]), float(p[1]), float(p[2])));
    for (double r : j.radii) radii.Add(r);
  };
  CVelaRunnerMapping mapper;
  CArray<double, double> inner, outer;
  for (double v : three.inner) inner.Add(v);
  mapper.SetIOBoundaryLayer(&inner, &outer);
  CArray<ON_3fPoint, ON_3fPoint> far3, far4;
  CArray<double, double> radii3, radii4;
  toArrays(three, far3, radii3);
  toArrays(four, far4, radii4);
  MemoryMesh first, second;
  ON_3fPoint farNodes[4];
  ASSERT_TRUE(mapper.NConnectRunner(ON_3fPoint(), &far3, &radii3, 0.8, 0.2, &first, farNodes));
  ASSERT_TRUE(mapper.NConnectRunner(ON_3fPoint(), &far4, &radii4, 0.8, 0.2, &second, farNodes));
  EXPECT_EQ(mapper.GetNPoint(), 4);
  const Meshed fresh = MeshJunction(four);
  ASSERT_EQ(second.nodes.size(), fresh.mesh.nodes.size());
  EXPECT_EQ(second.nodes, fresh.mesh.nodes);
}

// ---------------------------------------------------------------- refused input

namespace {

struct BadInput {
  const char* why;
  Junction junction;
};

std::vector<BadInput> BadInputs() {
  const Junction y = Planar("Y", {0, 120, 240});
  std::vector<BadInput> rows;
  auto add = [&](const char* why, auto change) {
    Junction j = y;
    change(j);
    rows.push_back({why, j});
  };
  add("shares add up to 1.001", [](Junction& j) { j.outerShare = 0.201; });
  add("inner share zero", [](Junction& j) { j.innerShare = 0.0; j.outerShare = 1.0; });
  add("negative outer share", [](Junction& j) { j.innerShare = 1.2; j.outerShare = -0.2; });
  add("boundary layers with no share of the radius", [](Junction& j) { j.innerShare = 1.0; j.outerShare = 0.0; j.outer = {0, 1}; });
  add("radius list too short", [](Junction& j) { j.radii.pop_back(); });
  add("radius zero", [](Junction& j) { j.radii[3] = 0.0; });
  add("radius negative", [](Junction& j) { j.radii[0] = -2.0; });
  add("radius not finite", [](Junction& j) { j.radii[2] = std::numeric_limits<double>::infinity(); });
  add("radius NaN", [](Junction& j) { j.radii[5] = std::nan(""); });
  add("coordinate not finite", [](Junction& j) { j.farPoints[1][0] = std::numeric_limits<double>::infinity(); });
  add("far point at the centre", [](Junction& j) { j.farPoints[2] = j.center; });
  add("all runners on one line", [](Junction& j) { j.farPoints = {{20, 0, 0}, {-20, 0, 0}, {10, 0, 0}}; });
  add("no inner ring", [](Junction& j) { j.inner = {0}; });
  add("empty inner list", [](Junction& j) { j.inner = {}; });
  add("first ring of two nodes", [](Junction& j) { j.firstRing = 2; });
  add("two runners", [](Junction& j) { j.farPoints.pop_back(); j.radii.resize(4); j.farPoints[1] = {0, 20, 0}; });
  return rows;
}

}  // namespace

TEST(NWayJunction, RefusedInputWritesNothing) {
  for (const BadInput& row : BadInputs()) {
    SCOPED_TRACE(row.why);
    if (row.junction.farPoints.size() == 2) {
      // Two runners go through the N-way call here, not the bend.
      CVelaRunnerMapping mapper;
      CArray<ON_3fPoint, ON_3fPoint> far;
      CArray<double, double> radii;
      for (const auto& p : row.junction.farPoints) far.Add(ON_3fPoint(float(p[0]), float(p[1]), float(p[2])));
      for (double r : row.junction.radii) radii.Add(r);
      MemoryMesh mesh;
      ON_3fPoint farNodes[2];
      EXPECT_FALSE(mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, &mesh, farNodes));
      EXPECT_EQ(mesh.CallCount(), 0);
      continue;
    }
    const Meshed m = MeshJunction(row.junction);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.mesh.CallCount(), 0);
    for (const ON_3fPoint& p : m.farNodes) EXPECT_EQ(p, ON_3fPoint());
  }
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
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii;
  MemoryMesh mesh;
  EXPECT_THROW(mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, &mesh, nullptr), std::invalid_argument);
  EXPECT_EQ(mesh.CallCount(), 0);
}

// Run under the leak checker: arrays left by the mesh-less call are released
// by the next call and by the destructor.
TEST(NWayJunction, RepeatedMeshLessCallsReleaseEarlierArrays) {
  const Junction y = Planar("Y", {0, 120, 240});
  CVelaRunnerMapping mapper;
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii, inner, outer;
  for (const auto& p : y.farPoints) far.Add(ON_3fPoint(float(p[0]), float(p[1]), float(p[2])));
  for (double r : y.radii) radii.Add(r);
  for (double v : y.inner) inner.Add(v);
  mapper.SetIOBoundaryLayer(&inner, &outer);
  ON_3fPoint farNodes[3];
  EXPECT_TRUE(mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, farNodes));
  EXPECT_TRUE(mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, farNodes));
  MemoryMesh mesh;
  EXPECT_TRUE(mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, &mesh, farNodes));
  EXPECT_EQ(g_pMergeCandidate, nullptr);
  EXPECT_TRUE(mapper.NConnectRunner(ON_3fPoint(), &far, &radii, 0.8, 0.2, farNodes));
  vela::ReleaseMergeCandidates();  // the module-level flags outlive the object by design
}

// ---------------------------------------------------------------- junction geometry

TEST(NWayGeometry, CentreSizeOfTAndYJunctions) {
  const std::vector<ON_3fPoint> tee = {ON_3fPoint(10, 0, 0), ON_3fPoint(0, 10, 0), ON_3fPoint(-10, 0, 0)};
  const double teeRadii[6] = {9, 2, 9, 3, 1, 4};
  // Runners 0 and 2 pass straight through: their mean junction-end radius.
  EXPECT_EQ(vela::CenterJunctionRadius(ON_3fPoint(), tee, teeRadii), 3.0);
  const std::vector<ON_3fPoint> y = {ON_3fPoint(10, 0, 0), ON_3fPoint(-5, 8.66f, 0), ON_3fPoint(-5, -8.66f, 0)};
  const double yRadii[6] = {1, 2, 4, 3, 7, 8};  // the last runner's pair does not count
  EXPECT_EQ(vela::CenterJunctionRadius(ON_3fPoint(), y, yRadii), 4.0);
}

TEST(NWayGeometry, PlaneNormalFollowsTheRunnersTurn) {
  const std::vector<ON_3fPoint> ccw = {ON_3fPoint(10, 0, 0), ON_3fPoint(0, 10, 0), ON_3fPoint(-10, 0, 0)};
  const auto n = vela::AverageCoplaneNormal(ON_3fPoint(), ccw);
  ASSERT_TRUE(n.has_value());
  EXPECT_NEAR((*n)[2], 1.0, 1e-12);
  const std::vector<ON_3fPoint> cw(ccw.rbegin(), ccw.rend());
  EXPECT_NEAR((*vela::AverageCoplaneNormal(ON_3fPoint(), cw))[2], -1.0, 1e-12);
  const std::vector<ON_3fPoint> line = {ON_3fPoint(10, 0, 0), ON_3fPoint(-10, 0.5f, 0), ON_3fPoint(5, 0, 0)};
  EXPECT_FALSE(vela::AverageCoplaneNormal(ON_3fPoint(), line).has_value());
}

// ---------------------------------------------------------------- merging

TEST(NodeMerge, ToleranceOfTheWorkedJunction) {
  CArray<double, double> radii, inner, outer;
  for (double r : {1.0, 2.0, 1.5, 1.0}) radii.Add(r);
  for (double v : {0.0, 0.5, 1.0}) inner.Add(v);
  for (double v : {0.0, 0.25, 1.0}) outer.Add(v);
  EXPECT_DOUBLE_EQ(vela::MergeTolerance(1.0, radii, inner, 2, outer, 2, 0.6, 0.4), 0.2);
  // With no outer layers the outer list is not read at all.
  CArray<double, double> none;
  EXPECT_DOUBLE_EQ(vela::MergeTolerance(1.0, radii, inner, 2, none, 0, 0.6, 0.4), 0.6);
  // A bend's tolerance: mean junction radius 1, all radii 1, shares 0.7 / 0.3.
  CArray<double, double> ones, bendOuter;
  for (int i = 0; i < 4; ++i) ones.Add(1.0);
  bendOuter.Add(0.0);
  bendOuter.Add(1.0);
  EXPECT_NEAR(0.1 * vela::MergeTolerance(1.0, ones, inner, 2, bendOuter, 1, 0.7, 0.3), 0.03, 1e-15);
}

TEST(NodeMerge, CandidatesWithinAClosedBoxMergeIntoTheFirstKept) {
  const double tol = 0.5;
  // Rows 1..6; 0 unused.
  double nodes[7][3] = {{0, 0, 0}, {0, 0, 0}, {5, 5, 5}, {0.5, 0, 0}, {0.5 + 1e-9, 0, 0}, {5, 5, 5}, {9, 9, 9}};
  const unsigned char candidates[7] = {0, 1, 0, 1, 1, 1, 1};
  // Node 3 lies exactly tol from node 1 and merges; node 4 lies just beyond
  // tol from node 1 but within tol of nothing kept, so it stays; node 5 sits
  // exactly on non-candidate node 2 and stays separate.
  int elements[3][8] = {{0}, {1, 2, 3, 4, 5, 6, 0, 0}, {6, 5, 4, 3, 0, 0, 0, 0}};
  const int kept = vela::MergeCandidates(nodes, 6, elements, 2, candidates, tol);
  EXPECT_EQ(kept, 5);
  const int first[8] = {1, 2, 1, 3, 4, 5, 0, 0};
  const int second[8] = {5, 4, 3, 1, 0, 0, 0, 0};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(elements[1][k], first[k]) << k;
    EXPECT_EQ(elements[2][k], second[k]) << k;
  }
  EXPECT_EQ(nodes[3][0], 0.5 + 1e-9);  // compacted in place, in order
  EXPECT_EQ(nodes[5][0], 9.0);
}
