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
      {"in the plane", ON_3fPoint(1.0f, -5.0f, 3.0f), 1.0, +1},
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
    if (c.expectCos == 1.0) {  // a runner in the plane keeps its far point exactly
      EXPECT_EQ(p, c.far);
    }
  }
}

TEST(RunnerProjection, AZeroNormalGivesFiniteValues) {
  const double zero[3] = {0.0, 0.0, 0.0};
  const vela::ProjectedRunners r =
      vela::ProjectRunners(ON_3fPoint(0, 0, 0), zero, {ON_3fPoint(3, 4, 0), ON_3fPoint(0, 0, 7)});
  for (size_t i = 0; i < 2; ++i)
    for (double v : {double(r.farPoints[i].x), double(r.farPoints[i].y), double(r.farPoints[i].z), r.cosElevation[i],
                     r.sinElevation[i]})
      EXPECT_TRUE(std::isfinite(v)) << "runner " << i;
}
