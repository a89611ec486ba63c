// The cross-section pattern, the rotation, the forward-angle tables and the
// sweep of one branch.

#include "sweep/branch_sweep.h"
#include "sweep/forward_angle.h"
#include "sweep/point_rotation.h"
#include "sweep/profiles.h"
#include "sweep/section_pattern.h"

#include "vec3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <tuple>

namespace {

using vela::kPi;
using vela::Point3;
using vela::SectionFace;

Point3 AtDeg(double deg, double r = 20.0) {
  return {r * std::cos(deg * kPi / 180.0), r * std::sin(deg * kPi / 180.0), 0.0};
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "entry " << i;
}

}  // namespace

// ---------------------------------------------------------------- section pattern

// Every edge inside a section is shared by two faces of opposite turn and
// every edge on its rim by one: the faces tile the disc without gap or overlap.
TEST(SectionPattern, FacesTileTheSectionConsistently) {
  for (int c = 1; c <= 4; ++c) {
    const int f = 6, b = 2;
    const std::vector<SectionFace> faces = vela::SectionFaces(f, c, b);
    EXPECT_EQ(static_cast<int>(faces.size()) - 1, vela::CountSection(f, c, b).faces);
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

namespace {

struct Turn {
  const char* what;
  double sin, cos;
  Point3 axis, pivot, in;
  Point3 out, axisAfter;  // expected
  double tol;             // 0 for the identity, which copies exactly
};

}  // namespace

// Each turn is made twice, the second time in place (out aliasing in) with
// the axis as the first call left it; both must give the same point.
TEST(PointRotation, TurnsOfTheTableWithSeparateAndAliasedOutput) {
  const double u = 1.0 / std::sqrt(3.0);
  // The identity shortcut leaves the axis as passed; any other turn normalises
  // it. A quarter turn goes counter-clockwise seen from the axis tip; a full
  // turn, or any turn of a point on the axis line, leaves the point in place.
  const Turn turns[] = {
      {"identity", 0.0, 1.0, {0, 0, 5}, {1, 2, 3}, {4, 5, 6}, {4, 5, 6}, {0, 0, 5}, 0.0},
      {"half turn", 0.0, -1.0, {0, 0, 5}, {1, 1, 0}, {3, 1, 7}, {-1, 1, 7}, {0, 0, 1}, 1e-15},
      {"quarter turn", 1.0, 0.0, {0, 0, 1}, {0, 0, 0}, {1, 0, 2}, {0, 1, 2}, {0, 0, 1}, 1e-15},
      {"full turn", std::sin(2 * kPi), std::cos(2 * kPi), {1, 1, 1}, {0.5, -2, 1}, {3, -1, 0.25}, {3, -1, 0.25},
       {u, u, u}, 1e-14},
      {"on the axis", std::sin(1.0), std::cos(1.0), {1, 1, 1}, {0.5, -2, 1}, {1.5, -1, 2}, {1.5, -1, 2}, {u, u, u}, 1e-14},
  };
  for (const Turn& t : turns) {
    SCOPED_TRACE(t.what);
    Point3 axis = t.axis, out{}, inPlace = t.in;
    RotatePointAboutAxis(t.sin, t.cos, axis.data(), t.pivot.data(), t.in.data(), out.data());
    RotatePointAboutAxis(t.sin, t.cos, axis.data(), t.pivot.data(), inPlace.data(), inPlace.data());
    for (size_t a = 0; a < 3; ++a) {
      EXPECT_NEAR(out[a], t.out[a], t.tol) << "axis " << a;
      EXPECT_NEAR(inPlace[a], t.out[a], t.tol) << "axis " << a;
      EXPECT_NEAR(axis[a], t.axisAfter[a], 1e-15) << "axis " << a;
    }
  }
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
    ExpectNear({a.sinNext, a.cosNext, a.sinPrev, a.cosPrev}, {c.sinNext, c.cosNext, c.sinPrev, c.cosPrev}, 1e-12);
  }
}

// ---------------------------------------------------------------- one swept branch

namespace {

const size_t kSection = 81;                 // nodes of a section of 8 / 4 / 0
const size_t kRing4 = 1 + 8 + 16 + 24 + 1;  // first node of ring 4 within a section

// Branch 0 of a symmetric Y-junction in the xy-plane, radius 2, centre at the
// origin, its far end raised by lift radians, swept in 5 layers.
std::vector<Point3> YBranch(double junctionRadius, double lift = 0.0) {
  vela::BranchInput in;
  in.points[0] = AtDeg(0);
  in.points[1] = {0, 0, 0};
  in.points[2] = AtDeg(120);
  in.points[3] = AtDeg(240);
  for (double& r : in.radii) r = 2.0;
  in.junctionRadius = junctionRadius;
  in.normal = {0, 0, 1};
  in.cosTilt = std::cos(lift);
  in.sinTilt = -std::sin(lift);
  vela::SectionSettings section;
  section.inner = {0, 0.25, 0.5, 0.75, 1};
  return vela::SweepBranch(in, section, 5, vela::CircularProfile, vela::LinearProfile);
}

double Distance(const Point3& a, const Point3& b) { return vela::Norm(vela::Sub(a, b)); }

}  // namespace

TEST(BranchSweep, FarSectionIsTheCircleAroundTheFarPoint) {
  const std::vector<Point3> b = YBranch(2.0, 0.3);
  ASSERT_EQ(b.size(), 6 * kSection + 1);
  // The tilted far point: the far point turned about the lateral axis through the centre.
  const Point3 far = b[1];
  EXPECT_NEAR(Distance(far, {0, 0, 0}), 20.0, 1e-12);
  EXPECT_NEAR(far[2], 20.0 * std::sin(0.3), 1e-12);
  for (size_t k = kRing4; k < kRing4 + 32; ++k) EXPECT_NEAR(Distance(b[k], far), 2.0 * 0.8, 1e-12);
}

TEST(BranchSweep, JunctionSectionIsNeitherTiltedNorBulged) {
  const std::vector<Point3> tilted = YBranch(3.0, 0.3), flat = YBranch(3.0);
  const size_t start = 5 * kSection + 1;
  for (size_t k = start; k < start + kSection; ++k) EXPECT_EQ(tilted[k], flat[k]) << "node " << k;
  // The node at angle 0 of the last ring reaches exactly the junction size
  // across the plane: no bulge on top.
  EXPECT_NEAR(flat[5 * kSection + kRing4][2], 3.0 * 0.8, 1e-12);
}

TEST(BranchSweep, UntiltedBranchAtJunctionSizeKeepsItsCentreLineAndLeansSymmetrically) {
  const std::vector<Point3> b = YBranch(2.0);
  for (size_t k = 0; k <= 5; ++k) {
    const Point3& centre = b[k * kSection + 1];
    EXPECT_NEAR(centre[0], 20.0 - 4.0 * static_cast<double>(k), 1e-12);
    EXPECT_EQ(centre[1], 0.0);
    EXPECT_EQ(centre[2], 0.0);
    // J = R0: the nodes across the plane keep the branch radius, no bulge.
    EXPECT_NEAR(b[k * kSection + kRing4][2], 1.6, 1e-12);
  }
  // Nodes at +phi and -phi of the junction section mirror each other across
  // the branch axis, and the outermost ones lean back along it.
  const size_t ring4 = 5 * kSection + kRing4;
  for (size_t j = 1; j < 16; ++j) {
    EXPECT_NEAR(b[ring4 + j][0], b[ring4 + 32 - j][0], 1e-12);
    EXPECT_NEAR(b[ring4 + j][1], -b[ring4 + 32 - j][1], 1e-12);
  }
  const Point3& side = b[ring4 + 8];  // phi = 90 degrees, towards the next branch
  EXPECT_GT(side[0], 0.5);
  // The junction section lies on the bisector of the branch and its neighbour.
  EXPECT_NEAR(std::atan2(side[1], side[0]) * 180 / kPi, 60.0, 1e-9);
}

namespace {

// Branch 0 of a star whose neighbours lie 20 degrees to either side, radius 1
// and 40 long, swept in 10 layers as constructed or on the channel with the
// lean gathered.
std::vector<Point3> NarrowStarBranch(bool onChannel) {
  vela::BranchInput in;
  in.points[0] = AtDeg(0, 40.0);
  in.points[1] = {0, 0, 0};
  in.points[2] = AtDeg(20, 40.0);
  in.points[3] = AtDeg(-20, 40.0);
  for (double& r : in.radii) r = 1.0;
  in.junctionRadius = 1.0;
  in.normal = {0, 0, 1};
  in.onChannel = onChannel;
  in.gatherLean = onChannel;
  in.ballRadius = 1.0;
  vela::SectionSettings section;
  section.inner = {0, 0.25, 0.5, 0.75, 1};
  return vela::SweepBranch(in, section, 10, vela::CircularProfile, vela::LinearProfile);
}

// How far node `node` of section k lies back from its section's centre,
// along the branch (x runs from the far point at 40 to the centre at 0).
double PulledBack(const std::vector<Point3>& b, size_t k, size_t node) {
  return b[k * kSection + node][0] - b[k * kSection + 1][0];
}

}  // namespace

// As constructed, every section of a branch leans by its share of the way
// along it, so that a long branch between close neighbours has its cells
// sheared all the way out. Gathered, the lean runs back only near the
// junction: the sections stand square to the axis beyond twice the stretch
// where the wall meets the neighbour's, the junction section leans as it
// did, and no section runs back past the one before it.
TEST(BranchSweep, AGatheredLeanStaysNearTheJunction) {
  const std::vector<Point3> constructed = NarrowStarBranch(false), gathered = NarrowStarBranch(true);
  const size_t towardsNext = kRing4 + 8;  // phi = 90 degrees on the wall
  const double full = PulledBack(constructed, 10, towardsNext);
  ASSERT_GT(full, 1.0);
  EXPECT_NEAR(PulledBack(gathered, 10, towardsNext), full, 1e-9);
  for (size_t k = 1; k < 10; ++k)
    EXPECT_NEAR(PulledBack(constructed, k, towardsNext), full * static_cast<double>(k) / 10.0, 1e-9) << k;
  // The wall meets the neighbour's about 5.8 from the centre: the sections
  // from 12 out stand square, and the one 8 out still leans.
  for (size_t k = 1; k <= 7; ++k)
    for (size_t node = 1; node <= kSection; ++node)
      EXPECT_NEAR(PulledBack(gathered, k, node), 0.0, 1e-9) << "section " << k << " node " << node;
  EXPECT_GT(PulledBack(gathered, 8, towardsNext), 0.1 * full);
  for (size_t node = 1; node <= kSection; ++node)
    for (size_t k = 1; k <= 10; ++k)
      EXPECT_LT(gathered[k * kSection + node][0], gathered[(k - 1) * kSection + node][0])
          << "section " << k << " node " << node;
}
