#include "sweep/forward_angle.h"

#include <cmath>

namespace vela {

namespace {

// Minus the sine of 1 degree: a cosine below it is an angle beyond 91 degrees.
constexpr double kBeyond91Deg = -0.017452406;
// A neighbour whose sine is below this lies on the axis line and has no side.
constexpr double kOnAxisSine = 0.01;
// A tilt-tangent denominator below this means no lean on that side.
constexpr double kZeroDenominator = 1e-6;
// A half-angle cosine below this: the neighbour is within about 0.11 degrees
// of straight opposite, where the bisecting plane is the section plane itself.
constexpr double kZeroHalfAngleCos = 0.001;

// f = unit(e x w), e = cross / length: the in-section direction pointing away
// from the side of the neighbour that spans `cross` with w.
Point3 AwayFromSide(const Point3& cross, double length, const Point3& w) {
  const Point3 e = {cross[0] / length, cross[1] / length, cross[2] / length};
  return Unit(Cross(e, w));
}

}  // namespace

ForwardAngles CalConnectedForwardAngle(const Point3 points[4]) {
  const Point3 u = Unit(Sub(points[1], points[0]));
  const Point3 w = {-u[0], -u[1], -u[2]};
  const Point3 a = Unit(Sub(points[2], points[1]));
  const Point3 b = Unit(Sub(points[3], points[1]));

  ForwardAngles out;
  out.cosNext = Dot(a, w);
  const Point3 crossA = Cross(a, w);
  out.sinNext = Norm(crossA);
  out.cosPrev = Dot(b, w);
  const Point3 crossB = Cross(b, w);
  out.sinPrev = Norm(crossB);

  // A neighbour beyond 91 degrees that lies on the other neighbour's side of
  // the axis gets a negative sine. The test runs against the other neighbour
  // only when that one has a side (off the axis line) and, when it is beyond
  // 91 degrees too, when the two are within 91 degrees of each other.
  if (out.cosNext < kBeyond91Deg) {
    const bool test = out.cosPrev >= kBeyond91Deg
                          ? std::fabs(out.sinPrev) > kOnAxisSine
                          : Dot(a, b) >= kBeyond91Deg && std::fabs(out.sinPrev) > kOnAxisSine;
    if (test && Dot(AwayFromSide(crossB, out.sinPrev, w), a) < kBeyond91Deg)
      out.sinNext = -out.sinNext;
  }
  if (out.cosPrev < kBeyond91Deg) {
    const bool test = out.cosNext >= kBeyond91Deg
                          ? std::fabs(out.sinNext) > kOnAxisSine
                          : Dot(a, b) >= kBeyond91Deg && std::fabs(out.sinNext) > kOnAxisSine;
    if (test && Dot(AwayFromSide(crossA, std::fabs(out.sinNext), w), b) < kBeyond91Deg)
      out.sinPrev = -out.sinPrev;
  }
  return out;
}

std::vector<double> CalExcessiveForwardAngle(const Point3& toNeighbour, double branchLength,
                                             double radius0, double radius1,
                                             double neighbourRadius0, double neighbourRadius1,
                                             double cosAngle, double sinAngle, int layers) {
  std::vector<double> A;
  CalExcessiveForwardAngle(toNeighbour, branchLength, radius0, radius1, neighbourRadius0, neighbourRadius1,
                           cosAngle, sinAngle, layers, A);
  return A;
}

void CalExcessiveForwardAngle(const Point3& toNeighbour, double branchLength, double radius0, double radius1,
                              double neighbourRadius0, double neighbourRadius1, double cosAngle,
                              double sinAngle, int layers, std::vector<double>& A) {
  const double dx = toNeighbour[0], dy = toNeighbour[1], dz = toNeighbour[2];
  const double D = std::sqrt(dx * dx + dy * dy + dz * dz);
  const double L = branchLength, R0 = radius0, R1 = radius1;
  const double Q0 = neighbourRadius0, Q1 = neighbourRadius1;
  const double C = cosAngle, S = sinAngle;
  const int n = layers;

  A.assign(static_cast<size_t>(n), 0.0);
  const double M = Q1 * D * L + R1 * L * D * C - R1 * L * Q1 * S + R1 * L * Q0 * S;
  if (std::fabs(M) < kZeroDenominator) return;

  double& last = A[static_cast<size_t>(n - 1)];
  if (C < 0.0 && S < 0.5) {
    // Beyond 150 degrees, or a negated sine: the junction section lies in the
    // plane bisecting the branch axis and the neighbour direction.
    const double h = -std::sqrt((1.0 + C) / 2.0);
    const double g = std::sqrt((1.0 - C) / 2.0);
    last = std::fabs(h) < kZeroHalfAngleCos ? 0.0 : -g / h;
  } else {
    // Where the branch surface line on the neighbour's side meets the
    // neighbour's surface line, tapers included.
    last = -(Q1 * D * R1 - Q1 * D * R0 - R1 * L * D * S - R1 * L * Q1 * C + R1 * L * Q0 * C) / M;
  }
  if (last == 0.0) return;

  const double t = L - R1 / last;
  for (int i = 0; i <= n - 2; ++i) A[static_cast<size_t>(i)] = R1 / ((L - t) * (i + 1) / n);
}

std::vector<double> GetExcessiveHorizontalRadiusSize(double startRadius, double ownEndRadius,
                                                     double neighbourEndRadius, int layers) {
  std::vector<double> H;
  GetExcessiveHorizontalRadiusSize(startRadius, ownEndRadius, neighbourEndRadius, layers, H);
  return H;
}

void GetExcessiveHorizontalRadiusSize(double startRadius, double ownEndRadius, double neighbourEndRadius,
                                      int layers, std::vector<double>& H) {
  H.resize(static_cast<size_t>(layers) + 1);
  for (int k = 0; k <= layers; ++k) {
    const double t = static_cast<double>(k) / layers;
    H[static_cast<size_t>(k)] =
        startRadius + ((ownEndRadius + neighbourEndRadius) / 2.0 - startRadius) * t;
  }
}

std::vector<double> GetExcessiveVerticalRadiusSize(double radius0, double junctionRadius,
                                                   int layers, double (*circularProfile)(double),
                                                   double (*linearProfile)(double)) {
  std::vector<double> V;
  GetExcessiveVerticalRadiusSize(radius0, junctionRadius, layers, circularProfile, linearProfile, V);
  return V;
}

void GetExcessiveVerticalRadiusSize(double radius0, double junctionRadius, int layers,
                                    double (*circularProfile)(double), double (*linearProfile)(double),
                                    std::vector<double>& V) {
  V.resize(static_cast<size_t>(layers) + 1);
  const double d = junctionRadius - radius0;
  for (int k = 0; k <= layers; ++k) {
    const double t = static_cast<double>(k) / layers;
    V[static_cast<size_t>(k)] = radius0 + d * (d < 0.0 ? circularProfile(t) : linearProfile(t));
  }
}

}  // namespace vela
