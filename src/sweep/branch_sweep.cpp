#include "sweep/branch_sweep.h"

#include "sweep/forward_angle.h"
#include "sweep/point_rotation.h"

#include <algorithm>
#include <cmath>

namespace vela {

namespace {

// Tilt tangents below this mean no lean: the section stays square to the axis.
constexpr double kNoLean = 0.001;
// Nodes this close to the plane-normal axis of a section (|y|) are the ones
// the bulge pushes across the junction plane.
constexpr double kOnNormalAxis = 1e-6;
// Share of the difference between junction size and branch radius by which
// the nodes on the normal axis bulge at mid-branch.
constexpr double kBulgeShare = 0.1111111111111111;
// A section shrinks across the plane to at most this share of its height:
// where the wall is wider than the channel even in the plane, shrinking the
// height cannot bring it back, and a flattened section would fold its cells.
constexpr double kLeastHeightShare = 0.85;

// Gathered, a side's lean runs back over at most this many times the
// stretch between the junction and where its wall meets the neighbour's.
constexpr double kLeanReach = 2.0;

// One side of a branch: the half of every section that faces one neighbour.
struct Side {
  std::vector<double> lean;     // tilt tangents, lean[k-1] for section k
  std::vector<double> lateral;  // lateral sizes, lateral[k] for section k
  Point3 towards{};             // in-section unit vector towards the neighbour
  bool wide = false;            // neighbour more than 150 degrees away, or a negated sine
  double endRadius = 0.0;       // lateral radius of the junction section, when it leans
};

// Gathers a side's lean towards the junction. As constructed, every section
// leans by its share of the way along the branch, so that on a long branch
// between close neighbours the sections lean steeply far from the junction
// and the cells between them are sheared all the way out. Here a section
// leans only within the reach of the junction and stands square to the axis
// beyond it; the junction section is unchanged. Over twice the stretch, a
// wall node runs back by at most half of what its section moves forward, so
// that no section passes the one before it.
void GatherLean(std::vector<double>& lean, double length, double r1) {
  const size_t n = lean.size();
  if (n == 0 || lean[n - 1] == 0.0) return;
  const double last = lean[n - 1];
  const double reach = std::min(length, kLeanReach * std::fabs(r1 / last));
  for (size_t k = 1; k < n; ++k) {
    const double s = length * static_cast<double>(n - k) / static_cast<double>(n);
    // Not quite square beyond the reach: a section still counted as leaning
    // keeps the leaning sections' sizes in the plane.
    lean[k - 1] = last / std::max(1.0 - s / reach, 1e-12);
  }
}

Point3 TowardsNeighbour(const Point3& d, const Point3& centre, const Point3& neighbourEnd) {
  const Point3 g = Unit(Sub(neighbourEnd, centre));
  const Point3 q = Unit(Cross(d, g));
  return Unit(Cross(q, d));
}

}  // namespace

void CreateNodeSideMeshData(Point3* nodes, const Point3& u, const Point3& v, const AxisRotation& tilt,
                            double radius, const Point3& p, const SectionSettings& section,
                            const RingAngles& angles, int& nodeIndex) {
  const int f = section.firstRing, c = section.innerRings, b = section.outerLayers;
  const double rho = section.ioRatio;

  auto place = [&](double r, int ring, int j) {
    const double cr = r * angles.Cos(ring, j);
    const double sr = r * angles.Sin(ring, j);
    Point3& node = nodes[++nodeIndex];
    for (size_t a = 0; a < 3; ++a) node[a] = (p[a] + cr * u[a]) + sr * v[a];
    tilt.Apply(node.data(), node.data());
  };

  nodes[nodeIndex] = p;
  tilt.Apply(nodes[nodeIndex].data(), nodes[nodeIndex].data());
  for (int i = 1; i <= c; ++i) {
    const double r = (radius * rho) * section.inner[static_cast<size_t>(i)];
    for (int j = 0; j < i * f; ++j) place(r, i, j);
  }
  for (int k = 1; k <= b; ++k) {
    const double r = radius * rho + (radius - radius * rho) * section.outer[static_cast<size_t>(k)];
    for (int j = 0; j < f * c; ++j) place(r, c, j);
  }
}

namespace {

// What every section of one branch reads: its frame, its centre line, its
// sizes across the junction plane, and each side's leans and lateral sizes.
struct BranchShape {
  Point3 d{};  // unit, from the far point towards the centre
  Point3 v{};  // unit, across the branch in the junction plane: the tilt axis
  double length = 0.0;
  std::vector<Point3> centreLine;  // centre of section k, before the tilt
  std::vector<double> across;      // size across the plane of section k
  Side next, prev;
};

// Fills shape, whose tables keep their room from one branch to the next.
void ShapeBranch(const BranchInput& in, int n, double (*circularProfile)(double),
                 double (*linearProfile)(double), BranchShape& shape) {
  const Point3& p0 = in.points[0];
  const Point3& p1 = in.points[1];
  const double r0 = in.radii[0], r1 = in.radii[1];
  const Point3 axis = Sub(p1, p0);
  shape.length = Norm(axis);
  shape.d = Unit(axis);
  shape.v = Unit(Cross(shape.d, in.normal));
  GetExcessiveVerticalRadiusSize(r0, in.junctionRadius, n, circularProfile, linearProfile, shape.across);
  if (in.onChannel) {
    // Section k lies at s from the centre; there the channel reaches across
    // the plane as far as the runner's own radius or the centre's ball.
    for (int k = 1; k <= n; ++k) {
      const double s = shape.length * (n - k) / n;
      const double own = r1 + (r0 - r1) * s / shape.length;
      const double ball = std::sqrt(std::max(0.0, in.ballRadius * in.ballRadius - s * s));
      double& across = shape.across[static_cast<size_t>(k)];
      across = std::min(across, std::max(own, ball));
    }
  }
  shape.centreLine.resize(static_cast<size_t>(n) + 1);
  for (int k = 0; k <= n; ++k)
    for (size_t a = 0; a < 3; ++a) shape.centreLine[static_cast<size_t>(k)][a] = p0[a] + ((p1[a] - p0[a]) * k) / n;

  Side& next = shape.next;
  Side& prev = shape.prev;
  GetExcessiveHorizontalRadiusSize(r0, r1, in.radii[3], n, next.lateral);
  GetExcessiveHorizontalRadiusSize(r0, r1, in.radii[5], n, prev.lateral);
  const ForwardAngles fa = CalConnectedForwardAngle(in.points);
  CalExcessiveForwardAngle(Difference(in.points[2], p1, in.precision), shape.length, r0, r1, in.radii[2],
                           in.radii[3], fa.cosNext, fa.sinNext, n, next.lean);
  CalExcessiveForwardAngle(Difference(in.points[3], p1, in.precision), shape.length, r0, r1, in.radii[4],
                           in.radii[5], fa.cosPrev, fa.sinPrev, n, prev.lean);
  if (in.onChannel && in.gatherLean) {
    GatherLean(next.lean, shape.length, r1);
    GatherLean(prev.lean, shape.length, r1);
  }
  next.towards = TowardsNeighbour(shape.d, p1, in.points[2]);
  prev.towards = TowardsNeighbour(shape.d, p1, in.points[3]);
  next.wide = fa.cosNext < 0.0 && fa.sinNext < 0.5;
  prev.wide = fa.cosPrev < 0.0 && fa.sinPrev < 0.5;
  const double slope = (r1 - r0) / shape.length;
  // Not finite on a side whose tangents are all zero; that side never reads it.
  next.endRadius = r1 / (1.0 + slope / next.lean[static_cast<size_t>(n - 1)]);
  prev.endRadius = r1 / (1.0 + slope / prev.lean[static_cast<size_t>(n - 1)]);
}

// Places section k (1..n) of the branch, from nodes[slot + 1] on: each
// side's half of every ring narrowed or widened to its lateral size, or
// leaning back from the neighbour; the nodes on the plane normal bulged
// across the plane; every section but the junction section tilted.
void PlaceSection(const BranchInput& in, const BranchShape& shape, const AxisRotation& tilt,
                  const SectionSettings& section, const RingAngles& angles, int k, int n,
                  Point3* nodes, int& slot) {
  const int f = section.firstRing, c = section.innerRings, b = section.outerLayers;
  const double rho = section.ioRatio;
  const double r0 = in.radii[0];
  const Point3& u = in.normal;
  const Point3& d = shape.d;
  const Point3& v = shape.v;
  const double t = static_cast<double>(k) / n;
  const Point3& centre = shape.centreLine[static_cast<size_t>(k)];
  const bool junctionSection = k == n;
  const double bulge = in.onChannel ? 0.0 : kBulgeShare * (in.junctionRadius - r0) * std::sin(kPi * t);
  const double vk = shape.across[static_cast<size_t>(k)], v0 = shape.across[0];

  Point3& centreNode = nodes[++slot];
  centreNode = centre;
  if (!junctionSection) tilt.Apply(centreNode.data(), centreNode.data());

  // The outermost ring's semi-axes: the wall's.
  const bool layered = b >= 1;
  const double wallShare = layered ? section.outer[static_cast<size_t>(b)] : section.inner[static_cast<size_t>(c)];
  auto wallSize = [&](double radius) {
    return layered ? radius * rho + (radius - radius * rho) * wallShare : (radius * rho) * wallShare;
  };
  const double gWall = (wallSize(r0) * vk) / v0;
  auto hWall = [&](const Side& side, double lean) {
    if (std::fabs(lean) < kNoLean || side.wide)
      return (wallSize(r0) * side.lateral[static_cast<size_t>(k)]) / side.lateral[0];
    return wallSize(r0 + (side.endRadius - r0) * t);
  };
  // On the channel, every node's height across the plane shrinks by the
  // share that brings the wall at its angle back inside: the wall node there
  // lies, leaned, further from the centre than the section, where the
  // runner and the ball may reach less far across the plane than the
  // section's size.
  auto heightShare = [&](const Side& side, double lean, double cosPhi, double sinPhi) {
    const double xw = gWall * cosPhi, yw = hWall(side, lean) * sinPhi;
    if (junctionSection || std::fabs(xw) <= 0.0) return 1.0;
    Point3 ow;
    for (size_t a = 0; a < 3; ++a) ow[a] = xw * u[a] + yw * v[a];
    const double lambda = std::fabs(lean) >= kNoLean ? Dot(ow, side.towards) / lean : 0.0;
    // Where the wall node lies in the junction plane, from the centre.
    Point3 q;
    for (size_t a = 0; a < 3; ++a) q[a] = (centre[a] + yw * v[a] - lambda * d[a]) - in.points[1][a];
    const double fromCentre = Dot(q, q);
    double reach = in.ballRadius * in.ballRadius - fromCentre;
    // The runner's own channel, and either neighbour's, reach across the
    // plane by what their radius there leaves over the distance in it.
    for (int runner = 0; runner < 3; ++runner) {
      const Point3& far = in.points[runner == 0 ? 0 : runner + 1];
      const double rFar = in.radii[2 * runner], rCentre = in.radii[2 * runner + 1];
      const Point3 out = Sub(far, in.points[1]);
      const double length = Norm(out);
      const double along = Dot(q, out) / length;
      if (along < 0.0 || along > length) continue;
      const double radius = rCentre + (rFar - rCentre) * (along / length);
      reach = std::max(reach, radius * radius - (fromCentre - along * along));
    }
    const double allowed = std::sqrt(std::max(0.0, reach));
    return std::fabs(xw) > allowed ? std::max(kLeastHeightShare, allowed / std::fabs(xw)) : 1.0;
  };

  // h is the semi-axis along v (in the plane), g along u (across it). Each
  // side's h depends on the ring alone: every ring works it out once for
  // either side (hOf below), and each node takes the one of the side it
  // faces.
  const double leanNext = shape.next.lean[static_cast<size_t>(k - 1)];
  const double leanPrev = shape.prev.lean[static_cast<size_t>(k - 1)];
  auto place = [&](int ring, int j, double g, double hNext, double hPrev) {
    const double cosPhi = angles.Cos(ring, j), sinPhi = angles.Sin(ring, j);
    const bool towardsNext = sinPhi >= 0.0;
    const Side& side = towardsNext ? shape.next : shape.prev;
    const double lean = towardsNext ? leanNext : leanPrev;
    const double h = towardsNext ? hNext : hPrev;
    const double x = in.onChannel ? g * cosPhi * heightShare(side, lean, cosPhi, sinPhi) : g * cosPhi;
    const double y = h * sinPhi;
    Point3 o;
    for (size_t a = 0; a < 3; ++a) o[a] = x * u[a] + y * v[a];
    const double lambda = std::fabs(lean) >= kNoLean ? Dot(o, side.towards) / lean : 0.0;
    if (std::fabs(y) < kOnNormalAxis && !junctionSection) {
      const double beta = x > 0.0 ? bulge : -bulge;
      for (size_t a = 0; a < 3; ++a) o[a] = o[a] + beta * u[a];
    }
    Point3& node = nodes[++slot];
    for (size_t a = 0; a < 3; ++a) node[a] = (centre[a] + o[a]) - lambda * d[a];
    if (!junctionSection) tilt.Apply(node.data(), node.data());
  };
  auto squareTo = [](const Side& side, double lean) { return std::fabs(lean) < kNoLean || side.wide; };

  for (int i = 1; i <= c; ++i) {
    const double a = section.inner[static_cast<size_t>(i)];
    const double g = ((r0 * rho) * a * vk) / v0;
    auto hOf = [&](const Side& side, double lean) {
      if (squareTo(side, lean)) return (r0 * rho) * a * (side.lateral[static_cast<size_t>(k)] / side.lateral[0]);
      const double r = r0 + (side.endRadius - r0) * t;
      return (r * rho) * a;
    };
    const double hNext = hOf(shape.next, leanNext), hPrev = hOf(shape.prev, leanPrev);
    for (int j = 0; j < i * f; ++j) place(i, j, g, hNext, hPrev);
  }
  for (int q = 1; q <= b; ++q) {
    const double bq = section.outer[static_cast<size_t>(q)];
    const double g = ((r0 * rho + r0 * (1.0 - rho) * bq) * vk) / v0;
    auto hOf = [&](const Side& side, double lean) {
      if (squareTo(side, lean))
        return ((r0 * rho + r0 * (1.0 - rho) * bq) * side.lateral[static_cast<size_t>(k)]) / side.lateral[0];
      const double r = r0 + (side.endRadius - r0) * t;
      return r * rho + (r - r * rho) * bq;
    };
    const double hNext = hOf(shape.next, leanNext), hPrev = hOf(shape.prev, leanPrev);
    for (int j = 0; j < f * c; ++j) place(c, j, g, hNext, hPrev);
  }
}

}  // namespace

std::vector<Point3> SweepBranch(const BranchInput& in, const SectionSettings& section, int layers,
                        double (*circularProfile)(double), double (*linearProfile)(double)) {
  std::vector<Point3> nodes;
  SweepBranch(in, section, layers, circularProfile, linearProfile, RingAngles(section.firstRing, section.innerRings),
              nodes);
  return nodes;
}

void SweepBranch(const BranchInput& in, const SectionSettings& section, int layers,
                 double (*circularProfile)(double), double (*linearProfile)(double), const RingAngles& angles,
                 std::vector<Point3>& nodes) {
  const int n = layers;
  // The tables of the last branch on this thread, refilled: a junction
  // sweeps its branches one after another.
  thread_local BranchShape shape;
  ShapeBranch(in, n, circularProfile, linearProfile, shape);
  const SectionCounts counts = CountSection(section.firstRing, section.innerRings, section.outerLayers);
  // Every row but row 0 is written below; row 0 stays zero, as a fresh
  // table has it.
  nodes.resize(static_cast<size_t>((n + 1) * counts.nodes) + 1);
  nodes[0] = Point3{0.0, 0.0, 0.0};
  // Every node but the junction section's turns about v through the centre
  // by the branch's elevation.
  const AxisRotation tilt(in.sinTilt, in.cosTilt, shape.v.data(), in.points[1].data());
  int slot = 1;
  CreateNodeSideMeshData(nodes.data(), in.normal, shape.v, tilt, in.radii[0], in.points[0], section,
                         angles, slot);
  for (int k = 1; k <= n; ++k) PlaceSection(in, shape, tilt, section, angles, k, n, nodes.data(), slot);
}

}  // namespace vela
