#include "junction_fixtures.h"

#include "vec3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using vela::kPi;

// Lengths through the boundary-type overload for runners at the given angles
// (degrees, in the xy-plane, at distance 10).
std::vector<double> Lengths(const std::vector<double>& degrees, const std::vector<double>& radius,
                            int a, int b) {
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii, out;
  for (size_t i = 0; i < degrees.size(); ++i) {
    const double t = degrees[i] * kPi / 180.0;
    far.Add(ON_3fPoint(static_cast<float>(10 * std::cos(t)), static_cast<float>(10 * std::sin(t)), 0.0f));
    radii.Add(radius[i]);
  }
  out.SetSize(far.GetSize());
  for (int i = 0; i < out.GetSize(); ++i) out.SetAt(i, -1.0);
  CVelaRunnerMapping mapper;
  mapper.RunnerLength(ON_3fPoint(0, 0, 0), &far, &radii, a, &out, b);
  std::vector<double> lengths;
  for (int i = 0; i < out.GetSize(); ++i) lengths.push_back(out.GetAt(i));
  return lengths;
}

}  // namespace

TEST(RunnerLength, WorkedJunctions) {
  for (double l : Lengths({0, 120, 240}, {1, 1, 1}, 1, 1)) EXPECT_NEAR(l, 2.0, 1e-12);
  // T-junction, margin 5: every runner sized by the largest radius, 2.
  for (double l : Lengths({0, 90, 180}, {1, 2, 1}, 5, 1)) EXPECT_NEAR(l, 2.4, 1e-12);
  // Two runners 60 degrees apart: cot 30 + 1.
  for (double l : Lengths({0, 60}, {1, 1}, 1, 1)) EXPECT_NEAR(l, std::sqrt(3.0) + 1.0, 1e-6);
  // An acute neighbour on one side only: the larger of the two estimates.
  const std::vector<double> mixed = Lengths({0, 30, 180}, {1, 1, 1}, 1, 1);
  EXPECT_NEAR(mixed[0], 1.0 / std::tan(kPi / 12) + 1.0, 1e-5);
  EXPECT_NEAR(mixed[2], 2.0, 1e-12);
}

TEST(RunnerLength, MarginAndDegenerateCases) {
  // a / b truncates to 0: the margin dominates and the lengths are infinite.
  for (double l : Lengths({0, 120, 240}, {1, 1, 1}, 1, 2)) EXPECT_EQ(l, std::numeric_limits<double>::infinity());
  // A single runner is its own neighbour.
  EXPECT_EQ(Lengths({0}, {1}, 1, 1)[0], std::numeric_limits<double>::infinity());
  // A zero divisor leaves the output untouched.
  for (double l : Lengths({0, 120, 240}, {1, 1, 1}, 5, 0)) EXPECT_EQ(l, -1.0);
  // INT_MIN / -1 overflows an int; the quotient 2^31 gives a margin of almost nothing.
  for (double l : Lengths({0, 120, 240}, {1, 1, 1}, std::numeric_limits<int>::min(), -1))
    EXPECT_NEAR(l, 1.0, 1e-9);
}

TEST(RunnerLength, PlainArraysLeaveEntryZeroAlone) {
  const double points[4][3] = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {-10, 0, 0}};
  const double radius[4] = {99.0, 1.0, 1.0, 1.0};  // entry 0 is not a runner
  double out[4] = {-7.0, 0.0, 0.0, 0.0};
  CVelaRunnerMapping mapper;
  mapper.RunnerLength(4, points, radius, 1, out, 1);
  EXPECT_EQ(out[0], -7.0);
  for (int i = 1; i < 4; ++i) EXPECT_NEAR(out[i], 2.0, 1e-12);
}

TEST(RunnerLength, ShortListsThrowAndAnEmptyJunctionWritesNothing) {
  CVelaRunnerMapping mapper;
  const CArray<ON_3fPoint, ON_3fPoint> two = ArraysOf(Planar("L", {0, 90})).far, none;
  CArray<double, double> one = List({1}), pair = List({1, 1});
  EXPECT_THROW(mapper.RunnerLength(ON_3fPoint(), &two, &one, 1, &pair, 1), std::invalid_argument);  // radii
  EXPECT_THROW(mapper.RunnerLength(ON_3fPoint(), &two, &pair, 1, &one, 1), std::invalid_argument);  // output
  CArray<double, double> untouched = List({3});
  mapper.RunnerLength(ON_3fPoint(), &none, &pair, 1, &untouched, 1);
  EXPECT_EQ(untouched.GetAt(0), 3.0);
  // Missing lists are read as nothing to do, in both overloads.
  mapper.RunnerLength(ON_3fPoint(), &two, nullptr, 1, &untouched, 1);
  mapper.RunnerLength(ON_3fPoint(), nullptr, &pair, 1, &untouched, 1);
  mapper.RunnerLength(ON_3fPoint(), &two, &pair, 1, nullptr, 1);
  mapper.RunnerLength(3, nullptr, nullptr, 1, nullptr, 1);
  EXPECT_EQ(untouched.GetAt(0), 3.0);
}
