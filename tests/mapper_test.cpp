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

namespace {

using vela::Point3;

struct Projection {
  const char* name;
  Point3 far;
  double expectCos;
  int sinSign;  // +1 or -1
};

}  // namespace

TEST(RunnerProjection, KeepsTheDistanceAndSignsTheSineByTheSide) {
  const Point3 center{1.0, 2.0, 3.0};
  const Point3 normal{0.0, 0.0, 2.0};  // unitized by the projection
  const Projection cases[] = {
      {"in the plane", {1.0, -5.0, 3.0}, 1.0, +1},
      {"above (towards +normal)", {9.0, 2.0, 9.0}, 0.8, -1},
      {"below", {1.0, 10.0, -3.0}, 0.8, +1},
  };
  for (const Projection& c : cases) {
    SCOPED_TRACE(c.name);
    const vela::ProjectedRunners r = vela::ProjectRunners(center, normal, {c.far}, vela::Precision::Single);
    ASSERT_EQ(r.farPoints.size(), 1u);
    const Point3& p = r.farPoints[0];
    EXPECT_EQ(p[2], center[2]);  // in the plane through the centre
    EXPECT_NEAR(vela::Norm(vela::Sub(p, center)), vela::Norm(vela::Sub(c.far, center)), 1e-5);
    EXPECT_NEAR(r.cosElevation[0], c.expectCos, 1e-7);
    EXPECT_NEAR(std::fabs(r.sinElevation[0]), std::sqrt(1.0 - c.expectCos * c.expectCos), 1e-7);
    EXPECT_EQ(r.sinElevation[0] >= 0.0 ? 1 : -1, c.sinSign);
    if (c.expectCos == 1.0) {  // a runner in the plane keeps its far point exactly
      EXPECT_EQ(p, c.far);
    }
  }
}

TEST(RunnerProjection, AZeroNormalGivesFiniteValues) {
  const vela::ProjectedRunners r =
      vela::ProjectRunners({0, 0, 0}, {0, 0, 0}, {{3, 4, 0}, {0, 0, 7}}, vela::Precision::Double);
  for (size_t i = 0; i < 2; ++i)
    for (double v : {r.farPoints[i][0], r.farPoints[i][1], r.farPoints[i][2], r.cosElevation[i], r.sinElevation[i]})
      EXPECT_TRUE(std::isfinite(v)) << "runner " << i;
}
