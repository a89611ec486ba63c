// Settings of the mapper and the storing of a junction's runners.

#include <VelaRunnerMapping.h>

#include "mapper/junction_inputs.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(MapperSettings, SettersAcceptAndRejectAtTheirBoundaries) {
  CVelaRunnerMapping mapper;
  EXPECT_TRUE(mapper.SetFirstCircleNodeCount(0));
  EXPECT_FALSE(mapper.SetFirstCircleNodeCount(-1));
  EXPECT_TRUE(mapper.SetIORadiusRatio(1.0));
  EXPECT_FALSE(mapper.SetIORadiusRatio(0.0));
  EXPECT_FALSE(mapper.SetIORadiusRatio(1.0000001));
  EXPECT_FALSE(mapper.SetIORadiusRatio(std::nan("")));
  EXPECT_TRUE(mapper.SetIORadiusRatio(1e-9));

  CArray<double, double> inner, outer;
  EXPECT_FALSE(mapper.SetIOBoundaryLayer(nullptr, &outer));
  EXPECT_FALSE(mapper.SetIOBoundaryLayer(&inner, nullptr));
  EXPECT_TRUE(mapper.SetIOBoundaryLayer(&inner, &outer));  // C = -1, refused later by the calls
}

// The layer lists decide the cross-section; a junction meshed after them shows
// the counts they imply: 5 inner and 3 outer positions give 145 nodes per
// section (81 + 2 layers of 32).
TEST(MapperSettings, LayerListsSetTheSectionPattern) {
  CVelaRunnerMapping mapper;
  CArray<double, double> inner, outer, radii;
  for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) inner.Add(v);
  for (double v : {0.0, 0.5, 1.0}) outer.Add(v);
  ASSERT_TRUE(mapper.SetIOBoundaryLayer(&inner, &outer));
  CArray<ON_3fPoint, ON_3fPoint> far;
  const double pi = 3.141592653589793;
  for (int i = 0; i < 3; ++i) {
    far.Add(ON_3fPoint(static_cast<float>(10 * std::cos(2 * pi * i / 3)),
                       static_cast<float>(10 * std::sin(2 * pi * i / 3)), 0.0f));
    radii.Add(1.0);
    radii.Add(1.0);
  }
  ON_3fPoint farNodes[3];
  ASSERT_TRUE(mapper.NConnectRunner(ON_3fPoint(0, 0, 0), &far, &radii, 0.8, 0.2, farNodes));
  // The far node is the angle-0 node of the second outer layer: on the wall.
  EXPECT_NEAR(farNodes[0].z, 1.0f, 1e-6);
  EXPECT_EQ(mapper.GetNPoint(), 3);
}

namespace {

struct Projection {
  const char* name;
  ON_3fPoint far;
  double expectCos;
  int sinSign;  // +1 or -1
};

}  // namespace

TEST(RunnerProjection, KeepsTheDistanceAndSignsTheSineByTheSide) {
  const ON_3fPoint center(1.0f, 2.0f, 3.0f);
  const double normal[3] = {0.0, 0.0, 2.0};  // unitized by the projection
  const Projection cases[] = {
      {"in the plane", ON_3fPoint(11.0f, 2.0f, 3.0f), 1.0, +1},
      {"above (towards +normal)", ON_3fPoint(9.0f, 2.0f, 9.0f), 0.8, -1},
      {"below", ON_3fPoint(1.0f, 10.0f, -3.0f), 0.8, +1},
  };
  for (const Projection& c : cases) {
    SCOPED_TRACE(c.name);
    const vela::ProjectedRunners r = vela::ProjectRunners(center, normal, {c.far});
    ASSERT_EQ(r.farPoints.size(), 1u);
    const ON_3fPoint& p = r.farPoints[0];
    EXPECT_FLOAT_EQ(p.z, center.z);  // in the plane through the centre
    EXPECT_NEAR((p - center).Length(), (c.far - center).Length(), 1e-5);
    EXPECT_NEAR(r.cosElevation[0], c.expectCos, 1e-7);
    EXPECT_NEAR(std::fabs(r.sinElevation[0]), std::sqrt(1.0 - c.expectCos * c.expectCos), 1e-7);
    EXPECT_EQ(r.sinElevation[0] >= 0.0 ? 1 : -1, c.sinSign);
  }
  // A runner in the plane keeps its far point exactly, with sine +0.
  const vela::ProjectedRunners flat = vela::ProjectRunners(center, normal, {ON_3fPoint(1.0f, -5.0f, 3.0f)});
  EXPECT_EQ(flat.farPoints[0], ON_3fPoint(1.0f, -5.0f, 3.0f));
  EXPECT_EQ(flat.sinElevation[0], 0.0);
}

TEST(RunnerProjection, AZeroNormalGivesFiniteValues) {
  const double zero[3] = {0.0, 0.0, 0.0};
  const vela::ProjectedRunners r =
      vela::ProjectRunners(ON_3fPoint(0, 0, 0), zero, {ON_3fPoint(3, 4, 0), ON_3fPoint(0, 0, 7)});
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(std::isfinite(r.farPoints[i].x) && std::isfinite(r.farPoints[i].y) &&
                std::isfinite(r.farPoints[i].z));
    EXPECT_TRUE(std::isfinite(r.cosElevation[i]));
    EXPECT_TRUE(std::isfinite(r.sinElevation[i]));
  }
}
