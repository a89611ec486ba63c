// Two-way bends: the half-section corner and the whole bend end to end.

#include "junction_fixtures.h"
#include "mesh_checks.h"

#include "sweep/corner_sweep.h"
#include "sweep/section_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include <cmath>
#include <functional>
#include <limits>

namespace {

// Elements of one corner step by kind: {tetra, pyramid, prism, hexa}.
std::array<int, 4> StepKinds(int h, int c, int b) {
  const std::vector<vela::SectionFace> faces = vela::HalfSectionFaces(h, c, b);
  const std::vector<bool> onAxis = vela::OnAxisNodes(h, c, b);
  std::array<int, 4> kinds{};
  for (size_t f = 1; f < faces.size(); ++f) {
    const std::array<int, 8> row = vela::SweptElement(faces[f], onAxis, 0, 100);
    ++kinds[row[4] == 0 ? 0 : row[5] == 0 ? 1 : row[6] == 0 ? 2 : 3];
  }
  return kinds;
}

Junction Bend(double degrees, double r0 = 2.0, double r1 = 2.0) {
  const double t = degrees * 3.141592653589793 / 180.0;
  Junction j;
  j.name = "bend";
  j.bend = true;
  j.center = {5, 0, 0};
  j.farPoints = {{20, 0, 0}, {5 + 15 * std::cos(t), 15 * std::sin(t), 0}};
  j.radii = {r0, r0, r1, r1};
  j.outer = {0, 0.5, 1};
  return j;
}

}  // namespace

TEST(CornerSweep, HalfSectionCountsAndElementKinds) {
  const vela::HalfSectionCounts small = vela::CountHalfSection(4, 2, 1);
  EXPECT_EQ(small.innerDiscNodes, 15);
  EXPECT_EQ(small.nodes, 24);
  EXPECT_EQ(small.faces, 24);
  // The fan's end triangles and each strip end collapse to tetrahedra, their
  // neighbours to pyramids; the outer layer's end quadrilaterals to prisms.
  EXPECT_EQ(StepKinds(4, 2, 1), (std::array<int, 4>{4, 4, 10, 6}));

  const vela::HalfSectionCounts plain = vela::CountHalfSection(4, 4, 0);
  EXPECT_EQ(plain.nodes, 45);
  EXPECT_EQ(plain.faces, 64);
  EXPECT_EQ(StepKinds(4, 4, 0), (std::array<int, 4>{8, 8, 48, 0}));

  const std::vector<bool> onAxis = vela::OnAxisNodes(4, 2, 1);
  EXPECT_EQ(std::count(onAxis.begin(), onAxis.end(), true), 1 + 2 * (2 + 1));
}

namespace {

struct BendCase {
  double degrees;
  double r0, r1;
  // At the accepted extremes the corner's sections lie closer together than
  // the merge tolerance near the axis: only exact repeats count there.
  bool spaced = true;
};

class BendJunction : public testing::TestWithParam<BendCase> {};

}  // namespace

TEST_P(BendJunction, MeshIsSoundAndComplete) {
  const BendCase& c = GetParam();
  const Junction j = Bend(c.degrees, c.r0, c.r1);
  const Meshed m = MeshJunction(j);
  ASSERT_TRUE(m.ok);
  ExpectSoundMesh(m.mesh, c.spaced ? MergeTolOf(j) : 0.0);
  // Two legs of 5 layers of 8*4*4 + 32*2 faces, and 5 corner steps.
  const std::array<int, 4> step = StepKinds(4, 4, 2);
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Tetra), 5 * step[0]);
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Pyramid), 5 * step[1]);
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Prism), 2 * 5 * 128 + 5 * step[2]);
  EXPECT_EQ(m.mesh.CountOf(ElementKind::Hexa), 2 * 5 * 64 + 5 * step[3]);
  const int before = vela::host::MeshValue(FileOf(j), vela::host::kAsClass).mesh.nodesBeforeMerge;
  // The legs' junction sections share their outer halves with the corner's
  // end sections, and the corner's axis nodes repeat in every section.
  EXPECT_LT(m.mesh.GetNodeCount(), before - 2 * vela::CountHalfSection(4, 4, 2).nodes);
}

INSTANTIATE_TEST_SUITE_P(Angles, BendJunction,
                         testing::Values(BendCase{30, 2, 2}, BendCase{90, 2, 2}, BendCase{120, 2, 2},
                                         BendCase{150, 2, 2}, BendCase{90, 2, 1.5}, BendCase{60, 1.2, 2},
                                         BendCase{25, 2, 2}, BendCase{100, 2, 1.6}, BendCase{21, 2, 2, false},
                                         BendCase{171, 2, 2, false}),
                         [](const testing::TestParamInfo<BendCase>& param) {
                           return std::to_string(int(param.param.degrees)) + "deg_" + std::to_string(param.index);
                         });

TEST(BendJunction, RefusedInputNamesItsReasonAndWritesNothing) {
  using R = vela::Refusal;
  const std::tuple<const char*, std::function<void(Junction&)>, R> rows[] = {
      {"shares add up to 0.998", [](Junction& j) { j.outerShare = 0.198; }, R::Shares},
      {"odd first ring", [](Junction& j) { j.firstRing = 7; }, R::OddFirstRing},
      {"first ring of zero nodes", [](Junction& j) { j.firstRing = 0; }, R::FirstRingTooSmall},
      {"inner share zero", [](Junction& j) { j.innerShare = 0.0; j.outerShare = 1.0; }, R::ShareRatio},
      {"boundary layers with no share of the radius", [](Junction& j) { j.innerShare = 1.0; j.outerShare = 0.0; },
       R::ShareRatio},
      {"no inner ring", [](Junction& j) { j.inner = {0}; }, R::NoInnerRing},
      {"inner positions out of order", [](Junction& j) { j.inner = {0, 0.75, 0.5, 1}; }, R::LayerOrder},
      {"three radii", [](Junction& j) { j.radii.pop_back(); }, R::RadiusList},
      {"radius zero", [](Junction& j) { j.radii[1] = 0.0; }, R::RadiusNotPositive},
      {"radius not finite", [](Junction& j) { j.radii[2] = std::nan(""); }, R::NonFinite},
      {"extra radius not finite", [](Junction& j) { j.radii.push_back(std::nan("")); }, R::NonFinite},
      {"far point at the centre", [](Junction& j) { j.farPoints[1] = j.center; }, R::FarPointDegenerate},
      {"straight through", [](Junction& j) { j.farPoints[1] = {-10, 0, 0}; }, R::BendOpening},
      {"nearly straight", [](Junction& j) { j = Bend(173); }, R::BendOpening},
      {"nearly parallel", [](Junction& j) { j = Bend(19); }, R::BendOpening},
      {"on top of each other", [](Junction& j) { j.farPoints[1] = {12, 0, 0}; }, R::BendOpening},
      {"coordinate not finite", [](Junction& j) { j.center[1] = std::numeric_limits<double>::infinity(); },
       R::NonFinite},
      {"more nodes than an int numbers", [](Junction& j) { j.firstRing = 100000; j.inner.assign(1001, 0.0);
         for (size_t i = 0; i < j.inner.size(); ++i) j.inner[i] = double(i) / 1000.0; }, R::TooLarge},
      {"three runners", [](Junction& j) { j.farPoints.push_back({5, -15, 0}); j.radii.insert(j.radii.end(), {2, 2}); },
       R::TooFewRunners},
  };
  for (const auto& [why, change, reason] : rows) {
    SCOPED_TRACE(why);
    Junction j = Bend(90);
    change(j);
    CVelaRunnerMapping mapper;
    const Meshed m = MeshJunction(j, &mapper);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(vela::RefusalName(vela::LastJunctionRefusal().reason), std::string(vela::RefusalName(reason)));
    EXPECT_EQ(m.mesh.CallCount(), 0);
    EXPECT_EQ(mapper.GetNPoint(), 0);  // a refused call stores nothing
  }
  // Missing lists or mesh.
  const JunctionArrays a = ArraysOf(Bend(90));
  CVelaRunnerMapping mapper;
  mapper.SetIOBoundaryLayer(&a.inner, &a.outer);
  MemoryMesh mesh;
  EXPECT_FALSE(mapper.TwoConnectRunner(ON_3fPoint(), nullptr, &a.radii, 0.8, 0.2, &mesh));
  EXPECT_FALSE(mapper.TwoConnectRunner(ON_3fPoint(), &a.far, nullptr, 0.8, 0.2, &mesh));
  EXPECT_FALSE(mapper.TwoConnectRunner(ON_3fPoint(), &a.far, &a.radii, 0.8, 0.2, nullptr));
  EXPECT_EQ(vela::LastJunctionRefusal().reason, vela::Refusal::NullPointer);
  EXPECT_EQ(mesh.CallCount(), 0);
}
