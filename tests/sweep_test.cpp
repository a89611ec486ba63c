// The cross-section pattern, the rotation, the forward-angle tables and the
// sweep of one branch.

#include "sweep/branch_sweep.h"
#include "sweep/forward_angle.h"
#include "sweep/point_rotation.h"
#include "sweep/profiles.h"
#include "sweep/section_pattern.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double kPi = 3.141592653589793;
using vela::Point3;
using vela::SectionFace;

Point3 AtDeg(double deg, double r = 20.0) {
  return {r * std::cos(deg * kPi / 180.0), r * std::sin(deg * kPi / 180.0), 0.0};
}

}  // namespace

// ---------------------------------------------------------------- section pattern

TEST(SectionPattern, CountsOfTheDefaultAndBoundaryLayerSections) {
  const vela::SectionCounts plain = vela::CountSection(8, 4, 0);
  EXPECT_EQ(plain.nodes, 81);
  EXPECT_EQ(plain.innerDiscNodes, 81);
  EXPECT_EQ(plain.faces, 128);
  const vela::SectionCounts layered = vela::CountSection(8, 4, 2);
  EXPECT_EQ(layered.nodes, 145);
  EXPECT_EQ(layered.faces, 192);
}

TEST(SectionPattern, FaceRowsOfOneRingTwoRingsAndAnOuterLayer) {
  const std::vector<SectionFace> one = vela::SectionFaces(8, 1, 0);
  ASSERT_EQ(one.size(), 9u);
  EXPECT_EQ(one[1], (SectionFace{1, 2, 3, 3}));
  EXPECT_EQ(one[7], (SectionFace{1, 8, 9, 9}));
  EXPECT_EQ(one[8], (SectionFace{1, 9, 2, 2}));

  const std::vector<SectionFace> two = vela::SectionFaces(8, 2, 1);
  ASSERT_EQ(two.size(), 8u + 24u + 16u + 1u);
  EXPECT_EQ(two[9], (SectionFace{2, 10, 11, 11}));
  EXPECT_EQ(two[10], (SectionFace{2, 11, 3, 3}));
  EXPECT_EQ(two[11], (SectionFace{3, 11, 12, 12}));
  EXPECT_EQ(two[32], (SectionFace{2, 25, 10, 10}));  // the strip closes on both rings' first nodes
  EXPECT_EQ(two[33], (SectionFace{10, 26, 27, 11}));
  EXPECT_EQ(two[48], (SectionFace{25, 41, 26, 10}));
}

// Every edge inside a section is shared by two faces of opposite turn and
// every edge on its rim by one: the faces tile the disc without gap or overlap.
TEST(SectionPattern, FacesTileTheSectionConsistently) {
  for (int c = 1; c <= 4; ++c) {
    const int f = 6, b = 2;
    const std::vector<SectionFace> faces = vela::SectionFaces(f, c, b);
    std::map<std::pair<int, int>, int> directed;
    for (size_t i = 1; i < faces.size(); ++i) {
      const SectionFace& face = faces[i];
      const int corners = face[2] == face[3] ? 3 : 4;
      for (int k = 0; k < corners; ++k) ++directed[{face[static_cast<size_t>(k)], face[static_cast<size_t>((k + 1) % corners)]}];
    }
    int rim = 0;
    for (const auto& [edge, count] : directed) {
      EXPECT_EQ(count, 1) << "edge used twice in one turn";
      if (directed.count({edge.second, edge.first}) == 0) ++rim;
    }
    EXPECT_EQ(rim, c * f) << "rim edges with c = " << c;
  }
}

// ---------------------------------------------------------------- rotation

TEST(PointRotation, IdentityShortcutLeavesTheAxisAsPassed) {
  double axis[3] = {0.0, 0.0, 5.0};
  const double pivot[3] = {1.0, 2.0, 3.0};
  const double in[3] = {4.0, 5.0, 6.0};
  double out[3];
  RotatePointAboutAxis(0.0, 1.0, axis, pivot, in, out);
  EXPECT_EQ(axis[2], 5.0);
  EXPECT_EQ(out[0], 4.0);
  EXPECT_EQ(out[2], 6.0);
}

TEST(PointRotation, HalfTurnMirrorsThroughTheAxisAndNormalisesIt) {
  double axis[3] = {0.0, 0.0, 5.0};
  const double pivot[3] = {1.0, 1.0, 0.0};
  const double in[3] = {3.0, 1.0, 7.0};
  double out[3];
  RotatePointAboutAxis(0.0, -1.0, axis, pivot, in, out);
  EXPECT_EQ(axis[2], 1.0);
  EXPECT_NEAR(out[0], -1.0, 1e-15);
  EXPECT_NEAR(out[1], 1.0, 1e-15);
  EXPECT_EQ(out[2], 7.0);
}

TEST(PointRotation, QuarterTurnAliasingAndFullTurn) {
  double axis[3] = {0.0, 0.0, 1.0};
  const double origin[3] = {0.0, 0.0, 0.0};
  double p[3] = {1.0, 0.0, 2.0};
  RotatePointAboutAxis(1.0, 0.0, axis, origin, p, p);  // out aliases in
  EXPECT_NEAR(p[0], 0.0, 1e-15);
  EXPECT_NEAR(p[1], 1.0, 1e-15);  // counter-clockwise seen from the axis tip
  EXPECT_EQ(p[2], 2.0);

  double tilted[3] = {1.0, 1.0, 1.0};
  const double pivot[3] = {0.5, -2.0, 1.0};
  const double in[3] = {3.0, -1.0, 0.25};
  double out[3];
  RotatePointAboutAxis(std::sin(2 * kPi), std::cos(2 * kPi), tilted, pivot, in, out);
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(out[a], in[a], 1e-14);
  // A point on the axis line stays where it is.
  const double onAxis[3] = {0.5 + 2 * tilted[0], -2.0 + 2 * tilted[1], 1.0 + 2 * tilted[2]};
  RotatePointAboutAxis(std::sin(1.0), std::cos(1.0), tilted, pivot, onAxis, out);
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(out[a], onAxis[a], 1e-14);
}

// ---------------------------------------------------------------- forward angles

namespace {

struct AngleCase {
  double next, prev;  // neighbour directions in degrees; the branch lies along +x
  double sinNext, cosNext, sinPrev, cosPrev;
};

}  // namespace

TEST(ForwardAngle, SignedPairsForNeighboursOnEitherSide) {
  const double s20 = std::sin(20 * kPi / 180), c20 = std::cos(20 * kPi / 180);
  const double s80 = std::sin(80 * kPi / 180), c80 = std::cos(80 * kPi / 180);
  const AngleCase cases[] = {
      {120, 240, std::sqrt(3.0) / 2, -0.5, std::sqrt(3.0) / 2, -0.5},
      {90, 270, 1, 0, 1, 0},
      {30, 200, 0.5, std::sqrt(3.0) / 2, s20, -c20},
      {100, 150, -s80, -c80, -0.5, -std::sqrt(3.0) / 2},  // both beyond 91 on one side
      {200, 160, s20, -c20, s20, -c20},
      {180, 90, 0, -1, 1, 0},
  };
  for (const AngleCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "next " << c.next << ", previous " << c.prev);
    const Point3 points[4] = {AtDeg(0), {0, 0, 0}, AtDeg(c.next), AtDeg(c.prev)};
    const vela::ForwardAngles a = vela::CalConnectedForwardAngle(points);
    EXPECT_NEAR(a.sinNext, c.sinNext, 1e-12);
    EXPECT_NEAR(a.cosNext, c.cosNext, 1e-12);
    EXPECT_NEAR(a.sinPrev, c.sinPrev, 1e-12);
    EXPECT_NEAR(a.cosPrev, c.cosPrev, 1e-12);
  }
}

namespace {

std::vector<double> Tangents(double deg, double r0, double r1, double q0, double q1, double sinOverride = 2.0) {
  const Point3 end = AtDeg(deg);
  const double c = std::cos(deg * kPi / 180), s = sinOverride <= 1.0 ? sinOverride : std::sin(deg * kPi / 180);
  return vela::CalExcessiveForwardAngle(ON_3fPoint(0, 0, 0),
                                        ON_3fPoint(static_cast<float>(end[0]), static_cast<float>(end[1]), 0.0f),
                                        20.0, r0, r1, q0, q1, c, s, 5);
}

}  // namespace

TEST(ForwardAngle, TiltTangents) {
  const std::vector<double> square = Tangents(90, 2, 2, 2, 2);
  const double expected[5] = {5, 2.5, 5.0 / 3, 1.25, 1};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(square[static_cast<size_t>(i)], expected[i], 1e-6);

  const std::vector<double> at120 = Tangents(120, 2, 2, 2, 2);
  EXPECT_NEAR(at120[4], std::sqrt(3.0), 1e-6);
  EXPECT_NEAR(at120[0], 5 * std::sqrt(3.0), 1e-5);
  for (double a : Tangents(120, 2, 2, 1, 1)) EXPECT_EQ(a, 0.0);  // vanishing denominator

  EXPECT_NEAR(Tangents(160, 2, 2, 2, 2)[4], std::tan(80 * kPi / 180), 1e-6);
  EXPECT_NEAR(Tangents(100, 2, 2, 2, 2, -std::sin(80 * kPi / 180))[4], std::tan(50 * kPi / 180), 1e-6);
  for (double a : Tangents(180, 2, 2, 1, 3)) EXPECT_EQ(a, 0.0);  // straight opposite
  EXPECT_NEAR(Tangents(90, 3, 2, 3, 2)[4], 1.0, 1e-6);            // tapered
}

TEST(ForwardAngle, RadiusSizeTables) {
  const std::vector<double> h = vela::GetExcessiveHorizontalRadiusSize(2, 2, 1, 5);
  const double hExpected[6] = {2, 1.9, 1.8, 1.7, 1.6, 1.5};
  for (int k = 0; k <= 5; ++k) EXPECT_NEAR(h[static_cast<size_t>(k)], hExpected[k], 1e-15);

  const std::vector<double> narrowing =
      vela::GetExcessiveVerticalRadiusSize(2, 1, 4, vela::CircularProfile, vela::LinearProfile);
  const double vExpected[5] = {2, 2, 2, 1 + std::sqrt(0.75), 1};
  for (int k = 0; k <= 4; ++k) EXPECT_NEAR(narrowing[static_cast<size_t>(k)], vExpected[k], 1e-15);
  const std::vector<double> widening =
      vela::GetExcessiveVerticalRadiusSize(1, 2, 4, vela::CircularProfile, vela::LinearProfile);
  EXPECT_DOUBLE_EQ(widening[1], 1.25);
}

// ---------------------------------------------------------------- one swept branch

namespace {

vela::SectionSettings DefaultSection() {
  vela::SectionSettings s;
  s.inner = {0, 0.25, 0.5, 0.75, 1};
  return s;
}

// Branch 0 of a symmetric Y-junction in the xy-plane, radius 2, centre at the origin.
vela::BranchInput YBranch(double junctionRadius = 2.0) {
  vela::BranchInput in;
  in.points[0] = AtDeg(0);
  in.points[1] = {0, 0, 0};
  in.points[2] = AtDeg(120);
  in.points[3] = AtDeg(240);
  for (double& r : in.radii) r = 2.0;
  in.junctionRadius = junctionRadius;
  in.normal = {0, 0, 1};
  return in;
}

double Distance(const Point3& a, const Point3& b) { return vela::Norm(vela::Sub(a, b)); }

}  // namespace

TEST(BranchSweep, FarSectionIsTheCircleAroundTheFarPoint) {
  vela::BranchInput in = YBranch();
  in.cosTilt = std::cos(0.3);
  in.sinTilt = -std::sin(0.3);
  const vela::SweptBranch b = vela::SweepBranch(in, DefaultSection(), 5, vela::CircularProfile, vela::LinearProfile);
  ASSERT_EQ(b.nodes.size(), 6u * 81u + 1u);
  // The tilted far point: the far point turned about the lateral axis through the centre.
  const Point3 far = b.nodes[1];
  EXPECT_NEAR(Distance(far, {0, 0, 0}), 20.0, 1e-12);
  EXPECT_NEAR(far[2], 20.0 * std::sin(0.3), 1e-12);
  const int ring4 = 1 + 8 + 16 + 24 + 1;  // first node of ring 4
  for (int k = ring4; k < ring4 + 32; ++k) EXPECT_NEAR(Distance(b.nodes[static_cast<size_t>(k)], far), 2.0 * 0.8, 1e-12);
  EXPECT_NEAR(b.farNode.x, b.nodes[static_cast<size_t>(ring4)][0], 1e-5);
  EXPECT_NEAR(b.farNode.z, b.nodes[static_cast<size_t>(ring4)][2], 1e-5);
}

TEST(BranchSweep, JunctionSectionIsNeitherTiltedNorBulged) {
  vela::BranchInput in = YBranch(3.0);
  in.cosTilt = std::cos(0.3);
  in.sinTilt = -std::sin(0.3);
  const vela::SweptBranch tilted = vela::SweepBranch(in, DefaultSection(), 5, vela::CircularProfile, vela::LinearProfile);
  in.cosTilt = 1.0;
  in.sinTilt = 0.0;
  const vela::SweptBranch flat = vela::SweepBranch(in, DefaultSection(), 5, vela::CircularProfile, vela::LinearProfile);
  const size_t start = 5 * 81 + 1;
  for (size_t k = start; k < start + 81; ++k)
    for (int a = 0; a < 3; ++a) EXPECT_EQ(tilted.nodes[k][static_cast<size_t>(a)], flat.nodes[k][static_cast<size_t>(a)]);
  // The node at angle 0 of the last ring reaches exactly the junction size
  // across the plane: no bulge on top.
  EXPECT_NEAR(flat.nodes[start + 1 + 8 + 16 + 24][2], 3.0 * 0.8, 1e-12);
}

TEST(BranchSweep, UntiltedBranchAtJunctionSizeKeepsItsCentreLine) {
  const vela::SweptBranch b = vela::SweepBranch(YBranch(2.0), DefaultSection(), 5, vela::CircularProfile, vela::LinearProfile);
  for (int k = 0; k <= 5; ++k) {
    const Point3& centre = b.nodes[static_cast<size_t>(k * 81 + 1)];
    EXPECT_NEAR(centre[0], 20.0 - 4.0 * k, 1e-12);
    EXPECT_EQ(centre[1], 0.0);
    EXPECT_EQ(centre[2], 0.0);
  }
  // J = R0: the nodes across the plane keep the branch radius, no bulge.
  for (int k = 0; k <= 5; ++k) EXPECT_NEAR(b.nodes[static_cast<size_t>(k * 81 + 1 + 8 + 16 + 24 + 1)][2], 1.6, 1e-12);
}

TEST(BranchSweep, SectionsLeanTowardsTheNeighboursSymmetrically) {
  const vela::SweptBranch b = vela::SweepBranch(YBranch(), DefaultSection(), 5, vela::CircularProfile, vela::LinearProfile);
  // Nodes at +phi and -phi of the junction section mirror each other across
  // the branch axis, and the outermost ones lean back along it.
  const size_t ring4 = 5 * 81 + 1 + 8 + 16 + 24 + 1;
  for (int j = 1; j < 16; ++j) {
    const Point3& up = b.nodes[ring4 + static_cast<size_t>(j)];
    const Point3& down = b.nodes[ring4 + static_cast<size_t>(32 - j)];
    EXPECT_NEAR(up[0], down[0], 1e-12);
    EXPECT_NEAR(up[1], -down[1], 1e-12);
  }
  const Point3& side = b.nodes[ring4 + 8];  // phi = 90 degrees, towards the next branch
  EXPECT_GT(side[0], 0.5);
  // The junction section lies on the bisector of the branch and its neighbour.
  EXPECT_NEAR(std::atan2(side[1], side[0]) * 180 / kPi, 60.0, 1e-9);
}
