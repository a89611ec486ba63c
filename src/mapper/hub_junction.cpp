#include "mapper/hub_junction.h"

#include "mapper/junction_guards.h"
#include "mapper/node_merge.h"
#include "mapper/refusal.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace vela {

namespace {

using RefusalUnit = JunctionRefusal::Unit;

// Two runners closer than this leave a cone face so narrow that its sectors
// turn into slivers.
constexpr double kMinPairAngleDeg = 20.0;
// A direction that three runners are equally close to, within this much of
// a cosine, is a corner of their cones; two such corners closer than this
// are one corner, met by every runner of both (the foot of a star, where
// all its runners' cones meet).
constexpr double kOnCorner = 1e-9;
constexpr double kSameCorner = 1e-9;
// A corner where this many cones meet, this far from every runner, gets a
// cap: a short stub of a branch towards the wall, whose cone takes the
// corner. Without it each cone would fold its section into a wedge of
// 360 degrees over the number of cones there, and a star of eight would
// leave wedges of 45 degrees at its foot.
constexpr int kCapRunners = 5;
constexpr double kCapAngle = 60.0 * 3.141592653589793 / 180.0;
// A cap's section reaches this share of the way to its cone's faces.
constexpr double kCapReach = 0.6;
// Corners of the cones closer than this (5 degrees) are one corner. Where
// the cones then cannot share the first ring's sectors (a face worth a
// twentieth of a sector that must still take a whole one, or a runner whose
// cone has more faces than its first ring has sectors), or the branches
// swept on them fail the check, the corners are drawn together from
// further apart, up to 20 degrees: a face that short would only have
// carried slivers.
constexpr double kSnaps[] = {0.9961946981, 0.9848077530, 0.9659258263, 0.9396926208};
// The last layers thin towards the junction: over this many, down to this
// share of an even step at the junction section.
constexpr int kThinnedLayers = 3;
constexpr double kLastLayerShare = 0.5;
// The junction section lies folded onto its cone's faces, as far towards
// the far end as the wall reaches along a face: the fold is undone within
// this many times that depth of the junction, the slower the nearer the
// far end (as the square of the way from there).
constexpr double kFoldReach = 3.0;
// A branch takes as many layers as steps of at most this many of its
// section's narrowest ring gaps (at its junction end) fit along it, and
// never fewer than any junction's branch. Near the cones' corners the faces
// the branches meet on are as narrow as that gap across, and the last
// layer's lean along them, against that width, is how skew they are.
constexpr double kStepPerGap = 7.0;
// Next to a branch whose fold is undone near the junction, a face's nodes
// lie this share of the way from even steps of angle to even steps along
// its wall, which is measured at this many points per sector.
constexpr double kAlongWall = 0.5;
constexpr int kWallSamples = 32;
// The merge joins nodes closer than a quarter of the smallest ring gap.
constexpr double kMergeTolShare = 0.25;

double Degrees(double radians) { return radians * 180.0 / kPi; }

JunctionOutcome Refusing(Refusal reason) {
  Refuse(reason);
  return RefusedOutcome();
}

JunctionOutcome Refusing(Refusal reason, int runner, int otherRunner, const Measured& measured) {
  Refuse(reason, runner, otherRunner, measured);
  return RefusedOutcome();
}

// A direction met by three or more runners' cones.
struct Corner {
  Point3 dir{};
  std::vector<int> runners;
};

// The face two runners' cones share, from corner `from` to corner `to` in
// the order the lower-numbered runner `a` goes round its axis.
struct Face {
  int a = -1, b = -1;
  int from = -1, to = -1;
  double target = 0.0;  // first-ring sectors its angle is worth, seen from both runners
  int units = 0;        // first-ring sectors it gets
  // Rays in the face: cos(u phi) x + sin(u phi) y for u from 0 (corner
  // `from`) to 1 (corner `to`).
  Point3 x{}, y{};
  double phi = 0.0;
  // A face of a cap keeps to the ball; any other follows the channel, drawn
  // at each end to the ball at its corners.
  bool capped = false;
  double fromGap = 0.0, toGap = 0.0;
  // The wall's length from corner `from` at even steps of u, as a share of
  // its whole length, and how far it reaches along each runner's axis.
  std::vector<double> wallLength;
  double depthA = 0.0, depthB = 0.0;
  // The share of the way from even steps of angle to even steps along the
  // wall at which its nodes lie.
  double alongWall = 0.0;
};

// One runner's share of its cone: the faces in its own order round its axis.
struct Sector {
  int face = -1;
  int from = -1;        // the corner it starts at
  double span = 0.0;    // its angle round the runner's axis
  double middle = 0.0;  // the angle half way through it
  int start = 0;        // the first-ring sector it starts at
};

struct Branch {
  bool cap = false;      // a stub towards the wall, not a runner
  double capRadius = 0.0;
  Point3 dir{};          // from the centre towards the far point
  Point3 w0{}, w1{};     // the section's axes: angle 0 and 90 degrees
  double length = 0.0;
  double turn = 0.0;     // the far-end section's angle 0, in the section's axes
  double foldReach = 0.0;  // how near the junction its section's fold is undone
  std::vector<Sector> sectors;
};

// The channel as machined: each runner a tapered cylinder from the centre to
// its far point, with a ball of its radius at the centre.
struct Channel {
  std::vector<Point3> dirs;
  std::vector<double> lengths, farRadii, endRadii;
};

// How far from the centre a ray leaves the channel. Every runner's cylinder
// and ball hold the centre and are convex, so the ray leaves each once and
// the channel at the furthest of them. The result depends on the ray alone,
// so two runners placing a node on the same ray place it alike.
double ChannelReach(const Channel& channel, const Point3& ray) {
  double reach = 0.0;
  for (size_t k = 0; k < channel.dirs.size(); ++k) {
    const double r = channel.endRadii[k];
    const double c = Dot(ray, channel.dirs[k]);
    double exit = r;
    if (c > 0.0) {
      // Square to the axis the radius grows with the taper, r(t) = r + slope t.
      const double sine = std::sqrt(std::max(0.0, 1.0 - c * c));
      const double slope = (channel.farRadii[k] - r) / channel.lengths[k];
      const double closing = sine - slope * c;
      // It ends at the far point.
      const double end = channel.lengths[k] / c;
      exit = std::max(r, closing > 0.0 ? std::min(r / closing, end) : end);
    }
    reach = std::max(reach, exit);
  }
  return reach;
}

// Whether p (relative to the centre) lies inside the channel: within a
// runner's tapered cylinder between the centre and its far point, or within
// the ball of its radius at either end.
bool InChannel(const Channel& channel, const Point3& p) {
  for (size_t k = 0; k < channel.dirs.size(); ++k) {
    const double length = channel.lengths[k];
    const double t = std::max(0.0, std::min(length, Dot(p, channel.dirs[k])));
    const double r = channel.endRadii[k] + (channel.farRadii[k] - channel.endRadii[k]) * t / length;
    if (Norm(Sub(p, Scale(channel.dirs[k], t))) <= r) return true;
    if (Norm(Sub(p, Scale(channel.dirs[k], length))) <= channel.farRadii[k]) return true;
  }
  return false;
}

// The furthest distance between `inside` and `beyond` from `from` along the
// unit `out` that still lies in the channel, taking the point at `inside`
// to lie in it; `beyond` itself when it does.
double WithinChannel(const Channel& channel, const Point3& from, const Point3& out, double inside, double beyond) {
  if (InChannel(channel, Add(from, Scale(out, beyond)))) return beyond;
  for (int k = 0; k < 24; ++k) {
    const double middle = 0.5 * (inside + beyond);
    (InChannel(channel, Add(from, Scale(out, middle))) ? inside : beyond) = middle;
  }
  return inside;
}

Point3 Turned(const Branch& b, double angle) {
  return Add(Scale(b.w0, std::cos(angle)), Scale(b.w1, std::sin(angle)));
}

// A branch along dir, its section's axes turning counter-clockwise about
// the direction towards the centre, as every branch's do, so that its
// elements face the same way.
Branch Framed(const Point3& dir, double length) {
  Branch b;
  b.dir = dir;
  b.length = length;
  const Point3 towards = Scale(dir, -1.0);
  const Point3 helper = std::fabs(towards[0]) < 0.6 ? Point3{1.0, 0.0, 0.0} : Point3{0.0, 1.0, 0.0};
  b.w0 = Unit(Sub(helper, Scale(towards, Dot(helper, towards))));
  b.w1 = Cross(towards, b.w0);
  return b;
}

double AngleBetween(const Point3& a, const Point3& b) { return std::acos(std::max(-1.0, std::min(1.0, Dot(a, b)))); }

double AngleIn(const Branch& b, const Point3& v) { return std::atan2(Dot(v, b.w1), Dot(v, b.w0)); }

// Corners closer than `snap` (a cosine) become one, met by the runners of
// all of them: the faces between them would be too short to take a sector
// of the first ring without slivers. Runners that lie almost in one plane
// give such clusters near the plane's normal.
std::vector<Corner> SnapCorners(std::vector<Corner> corners, double snap) {
  bool merged = true;
  while (merged) {
    merged = false;
    for (size_t p = 0; p < corners.size() && !merged; ++p)
      for (size_t q = p + 1; q < corners.size() && !merged; ++q) {
        if (!(Dot(corners[p].dir, corners[q].dir) > snap)) continue;
        Corner& keep = corners[p];
        const double wp = static_cast<double>(keep.runners.size()), wq = static_cast<double>(corners[q].runners.size());
        keep.dir = Unit(Add(Scale(keep.dir, wp), Scale(corners[q].dir, wq)));
        for (int k : corners[q].runners)
          if (std::find(keep.runners.begin(), keep.runners.end(), k) == keep.runners.end()) keep.runners.push_back(k);
        std::sort(keep.runners.begin(), keep.runners.end());
        corners.erase(corners.begin() + static_cast<std::ptrdiff_t>(q));
        merged = true;
      }
  }
  return corners;
}

std::vector<Corner> FindCorners(const std::vector<Point3>& dirs, double snap) {
  const int n = static_cast<int>(dirs.size());
  std::vector<Corner> corners;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      for (int l = j + 1; l < n; ++l) {
        const Point3 normal = Cross(Sub(dirs[size_t(j)], dirs[size_t(i)]), Sub(dirs[size_t(l)], dirs[size_t(i)]));
        if (!(Norm(normal) > 1e-12)) continue;
        for (double side : {1.0, -1.0}) {
          const Point3 e = Scale(Unit(normal), side);
          const double own = Dot(e, dirs[size_t(i)]);
          bool closest = true;
          for (int k = 0; k < n && closest; ++k) closest = Dot(e, dirs[size_t(k)]) <= own + kOnCorner;
          if (!closest) continue;
          const auto same = std::find_if(corners.begin(), corners.end(),
                                         [&](const Corner& c) { return Dot(c.dir, e) > 1.0 - kSameCorner; });
          if (same == corners.end()) corners.push_back({e, {}});
        }
      }
  for (Corner& c : corners) {
    double best = -2.0;
    for (const Point3& d : dirs) best = std::max(best, Dot(c.dir, d));
    for (int k = 0; k < n; ++k)
      if (Dot(c.dir, dirs[size_t(k)]) >= best - 1e-7) c.runners.push_back(k);
  }
  return SnapCorners(std::move(corners), snap);
}

// Each runner's corners in order round its axis, and the runner across each
// stretch between two: the one whose bisecting plane a point half way along
// the stretch reaches first, moving back along the axis.
bool FindSectors(const std::vector<Point3>& dirs, const std::vector<Corner>& corners,
                 std::vector<Branch>& branches, std::vector<std::vector<int>>& across) {
  const int n = static_cast<int>(dirs.size());
  across.assign(size_t(n), {});
  for (int i = 0; i < n; ++i) {
    Branch& b = branches[size_t(i)];
    std::vector<int> met;
    for (int c = 0; c < static_cast<int>(corners.size()); ++c) {
      const std::vector<int>& at = corners[size_t(c)].runners;
      if (std::find(at.begin(), at.end(), i) != at.end()) met.push_back(c);
    }
    if (met.size() < 2) return false;
    // The section's angle 0 points at the runner's first corner, which the
    // runners' order alone decides: a junction moved or turned as a whole
    // is meshed alike, node for node.
    const Point3 towards = Scale(b.dir, -1.0);
    const Point3& first = corners[size_t(met.front())].dir;
    const Point3 square = Sub(first, Scale(towards, Dot(first, towards)));
    if (!(Norm(square) > 1e-9)) return false;
    b.w0 = Unit(square);
    b.w1 = Cross(towards, b.w0);
    std::vector<std::pair<double, int>> round{{0.0, met.front()}};
    for (size_t k = 1; k < met.size(); ++k) {
      const double angle = AngleIn(b, corners[size_t(met[k])].dir);
      round.push_back({angle < 0.0 ? angle + 2.0 * kPi : angle, met[k]});
    }
    std::sort(round.begin(), round.end());
    for (size_t s = 0; s < round.size(); ++s) {
      const auto& [angle, corner] = round[s];
      double span = (s + 1 < round.size() ? round[s + 1].first : round[0].first + 2.0 * kPi) - angle;
      Sector sector;
      sector.from = corner;
      sector.span = span;
      sector.middle = angle + 0.5 * span;
      const Point3 ray = Turned(b, sector.middle);
      int best = -1;
      double reach = 0.0;
      for (int j = 0; j < n; ++j) {
        if (j == i) continue;
        const double v = Dot(ray, dirs[size_t(j)]) / (1.0 - Dot(dirs[size_t(i)], dirs[size_t(j)]));
        if (best < 0 || v > reach) best = j, reach = v;
      }
      across[size_t(i)].push_back(best);
      b.sectors.push_back(sector);
    }
  }
  return true;
}

// Pairs the two runners' views of every face: runner a's stretch from
// corner p to q across runner b is runner b's from q to p across a.
bool PairFaces(const std::vector<Branch>& branches, const std::vector<std::vector<int>>& across,
               std::vector<Branch>& paired, std::vector<Face>& faces, int firstRing) {
  const int n = static_cast<int>(branches.size());
  paired = branches;
  for (int a = 0; a < n; ++a) {
    const std::vector<Sector>& own = branches[size_t(a)].sectors;
    for (size_t s = 0; s < own.size(); ++s) {
      const int b = across[size_t(a)][s];
      const int from = own[s].from, to = own[(s + 1) % own.size()].from;
      const std::vector<Sector>& other = branches[size_t(b)].sectors;
      bool found = false;
      for (size_t t = 0; t < other.size() && !found; ++t) {
        if (across[size_t(b)][t] != a || other[t].from != to || other[(t + 1) % other.size()].from != from) continue;
        found = true;
        if (a > b) continue;  // the lower-numbered runner records the face
        Face face;
        face.a = a, face.b = b, face.from = from, face.to = to;
        // Quantised to a thousandth of a sector: faces that a symmetric
        // layout makes alike are then equal, and which of them takes the
        // odd sector does not hang on the rounding of where the junction
        // lies or how it is turned.
        face.target = std::round(1e3 * firstRing * (own[s].span + other[t].span) / (4.0 * kPi)) / 1e3;
        const int id = static_cast<int>(faces.size());
        faces.push_back(face);
        paired[size_t(a)].sectors[s].face = id;
        paired[size_t(b)].sectors[t].face = id;
      }
      if (!found) return false;
    }
  }
  return true;
}

// Shares the first ring's sectors among the faces: a whole number, at least
// one, for each face, the first ring's count round each runner, and as near
// each face's worth as that allows. Starting from the nearest whole numbers,
// a runner with too many or too few passes the difference along a path that
// takes one from a face and gives one to the next in turn, until it ends at
// a runner with the opposite difference (or back at itself, two at a time).
bool ShareSectors(int runners, int firstRing, std::vector<Face>& faces) {
  std::vector<int> excess(size_t(runners), -firstRing);
  std::vector<std::vector<int>> touching(static_cast<size_t>(runners));
  for (int f = 0; f < static_cast<int>(faces.size()); ++f) {
    Face& face = faces[size_t(f)];
    face.units = std::max(1, static_cast<int>(std::lround(face.target)));
    excess[size_t(face.a)] += face.units;
    excess[size_t(face.b)] += face.units;
    touching[size_t(face.a)].push_back(f);
    touching[size_t(face.b)].push_back(f);
  }
  const auto state = [](int runner, int change) { return 2 * runner + (change > 0 ? 1 : 0); };
  for (int round = 0; round < 4 * firstRing * runners; ++round) {
    int s = 0;
    while (s < runners && excess[size_t(s)] == 0) ++s;
    if (s == runners) return true;
    const int first = excess[size_t(s)] > 0 ? -1 : 1;
    // came[state]: the state before it and the face between them.
    std::vector<std::pair<int, int>> came(size_t(2 * runners), {-1, -1});
    std::vector<char> seen(size_t(2 * runners), 0);
    std::deque<int> queue{state(s, first)};
    seen[size_t(state(s, first))] = 1;
    int endFace = -1, endFrom = -1;
    while (!queue.empty() && endFace < 0) {
      const int at = queue.front();
      queue.pop_front();
      const int runner = at / 2, change = at % 2 ? 1 : -1;
      std::vector<int> options = touching[size_t(runner)];
      // Faces whose change brings them nearer their worth first.
      const auto cost = [&](int f) {
        const Face& face = faces[size_t(f)];
        return std::fabs(face.units + change - face.target) - std::fabs(face.units - face.target);
      };
      std::stable_sort(options.begin(), options.end(), [&](int p, int q) { return cost(p) < cost(q); });
      for (int f : options) {
        const Face& face = faces[size_t(f)];
        if (change < 0 && face.units <= 1) continue;
        const int other = face.a == runner ? face.b : face.a;
        const int e = excess[size_t(other)];
        const bool ends = other == s ? (change == first && std::abs(e) >= 2) : (change < 0 ? e > 0 : e < 0);
        if (ends) {
          endFace = f, endFrom = at;
          break;
        }
        const int next = state(other, -change);
        if (seen[size_t(next)]) continue;
        seen[size_t(next)] = 1;
        came[size_t(next)] = {at, f};
        queue.push_back(next);
      }
    }
    if (endFace < 0) return false;
    // Apply the changes from the end back to s.
    int f = endFace, at = endFrom;
    while (f >= 0) {
      const int change = at % 2 ? 1 : -1;
      Face& face = faces[size_t(f)];
      face.units += change;
      excess[size_t(face.a)] += change;
      excess[size_t(face.b)] += change;
      if (face.units < 1) return false;
      f = came[size_t(at)].second;
      at = came[size_t(at)].first;
    }
  }
  return false;
}

// The ray of a face at u.
Point3 FaceRay(const Face& face, double u) {
  return Add(Scale(face.x, std::cos(u * face.phi)), Scale(face.y, std::sin(u * face.phi)));
}

// The face's rays, from its lower-numbered runner's view alone,
// so that both runners place the same nodes on it.
bool ShapeFace(Face& face, const std::vector<Point3>& dirs, const std::vector<Corner>& corners) {
  const Point3& da = dirs[size_t(face.a)];
  const Point3& db = dirs[size_t(face.b)];
  const Point3 normal = Unit(Sub(da, db));
  const Point3 from = corners[size_t(face.from)].dir, to = corners[size_t(face.to)].dir;
  const Point3 x = Sub(from, Scale(normal, Dot(from, normal)));
  if (!(Norm(x) > 1e-9)) return false;
  face.x = Unit(x);
  // Runner a goes round its cone counter-clockwise about the direction
  // towards the centre; seen on the face, whose normal leans towards a, that
  // is counter-clockwise about b's side of it. This also tells the way
  // round between corners opposite each other, where both ways are half a
  // turn.
  face.y = Cross(face.x, normal);
  face.phi = std::atan2(Dot(to, face.y), Dot(to, face.x));
  if (face.phi <= 0.0) face.phi += 2.0 * kPi;
  return true;
}

// A wall node between a branch's ends (`wallNode`, at t of the way from the
// far end, its junction-end node `toEnd` relative to the centre), drawn in
// to stay inside its own runner, or the ball where that is wider. A junction
// section wider than both, where a neighbour's cylinder reaches further
// along a face, is grown towards over the last layers rather than in the
// last alone, as far as the channel reaches there.
Point3 OnChannel(const Point3& wallNode, const Point3& toEnd, double t, const Branch& b, double r0, double r1,
                 const Point3& center, double ball, const Channel& channel) {
  const Point3 offset = Sub(wallNode, center);
  const double along = Dot(offset, b.dir);
  const Point3 square = Sub(offset, Scale(b.dir, along));
  const double sideways = Norm(square);
  if (!(sideways > 0.0)) return wallNode;
  const double own = r1 + (r0 - r1) * std::max(0.0, std::min(1.0, along / b.length));
  const double inBall = std::fabs(along) < ball ? std::sqrt(ball * ball - along * along) : 0.0;
  const double kept = std::max(own, inBall);
  const double endSideways = Norm(Sub(toEnd, Scale(b.dir, Dot(toEnd, b.dir))));
  const double late = t * t * t * t;
  double wall = std::max(kept, late * endSideways + (1.0 - late) * r0);
  const Point3 onAxis = Scale(b.dir, along), out = Scale(square, 1.0 / sideways);
  if (wall > kept) wall = WithinChannel(channel, onAxis, out, kept, wall);
  if (sideways <= wall) return wallNode;
  return Add(Add(center, onAxis), Scale(out, wall));
}

// The wall along a face's ray at u.
double FaceWall(const Face& face, double u, const Point3& ray, const Channel& channel, double ball) {
  if (face.capped) return ball;
  return ChannelReach(channel, ray) + (1.0 - u) * face.fromGap + u * face.toGap;
}

// The face's wall measured from corner `from` to corner `to`.
void MeasureWall(const Channel& channel, double ball, const std::vector<Point3>& dirs, Face& face) {
  const int steps = kWallSamples * face.units;
  face.wallLength.assign(size_t(steps) + 1, 0.0);
  Point3 last{};
  for (int k = 0; k <= steps; ++k) {
    const double u = double(k) / steps;
    const Point3 ray = FaceRay(face, u);
    const Point3 wall = Scale(ray, FaceWall(face, u, ray, channel, ball));
    if (k > 0) face.wallLength[size_t(k)] = face.wallLength[size_t(k - 1)] + Norm(Sub(wall, last));
    face.depthA = std::max(face.depthA, Dot(wall, dirs[size_t(face.a)]));
    face.depthB = std::max(face.depthB, Dot(wall, dirs[size_t(face.b)]));
    last = wall;
  }
  for (double& length : face.wallLength) length /= face.wallLength.back();
}

// Where the node at u of the way along a face's nodes lies, as u of its
// angle. Where the runners meet a few tens of degrees apart, the wall runs
// far out along a face that leans close to the runner, and even steps of
// angle leave long gaps along the wall there: a node of one ring falls on
// the line between two of the next, and the cell between them is flat
// (see FoldKept for where that matters). Even steps along the wall have the
// opposite fault at the centre, where the first ring's cells would meet at
// angles as uneven as those steps. Half way between the two keeps both
// clear. The same u gives the same node from either runner's side: the
// wall is measured from the face alone.
double AlongFace(const Face& face, double u) {
  if (face.alongWall == 0.0) return u;
  const std::vector<double>& length = face.wallLength;
  const size_t steps = length.size() - 1;
  const size_t k = static_cast<size_t>(std::upper_bound(length.begin(), length.end(), u) - length.begin());
  double along = 1.0;
  if (k == 0) along = 0.0;
  else if (k <= steps) along = (double(k - 1) + (u - length[k - 1]) / (length[k] - length[k - 1])) / double(steps);
  return (1.0 - face.alongWall) * u + face.alongWall * along;
}

// Where runner i's junction section puts node j of a ring of `perSector`
// nodes per first-ring sector, at `share` of the wall: on a corner, or on
// the face its sector covers. Relative to the centre.
Point3 JunctionNode(int i, const Branch& b, int j, int perSector, double share, const std::vector<Face>& faces,
                    const std::vector<Corner>& corners, const Channel& channel, double ball) {
  size_t s = 0;
  while (s + 1 < b.sectors.size() && j >= b.sectors[s + 1].start * perSector) ++s;
  const Sector& sector = b.sectors[s];
  const Face& face = faces[size_t(sector.face)];
  const int l = j - sector.start * perSector, count = face.units * perSector;
  if (l == 0) {
    return Scale(corners[size_t(sector.from)].dir, share * ball);
  }
  const double u = AlongFace(face, face.a == i ? double(l) / count : double(count - l) / count);
  const Point3 ray = FaceRay(face, u);
  return Scale(ray, share * FaceWall(face, u, ray, channel, ball));
}


// Caps on the crowded corners far from every runner, their flat ends on
// the ball.
std::vector<Branch> CapsOf(const std::vector<Corner>& corners, double ball, const std::vector<Point3>& dirs) {
  std::vector<Branch> caps;
  for (const Corner& c : corners) {
    if (static_cast<int>(c.runners.size()) < kCapRunners) continue;
    double nearest = kPi;
    for (const Point3& d : dirs) nearest = std::min(nearest, AngleBetween(c.dir, d));
    if (nearest < kCapAngle) continue;
    const double capAngle = kCapReach * 0.5 * nearest;
    Branch cap = Framed(c.dir, ball * std::cos(capAngle));
    cap.cap = true;
    cap.capRadius = ball * std::sin(capAngle);
    caps.push_back(cap);
  }
  return caps;
}

// The cones of the runners and caps: their corners, each branch's sectors
// round its axis and the faces they pair into.
struct Cones {
  std::vector<Point3> dirs;  // the runners', then the caps'
  std::vector<Branch> branches;
  std::vector<Corner> corners;
  std::vector<Face> faces;
};

// The cones with the corners snapped at `snap`. A cap meets each runner of
// its corner on a face of its own, and each face takes at least one of the
// first ring's sectors; a cap whose cone borders more runners than that (a
// star of seven on a first ring of six) is left out, and those runners fold
// their sections into the corner as they would without one, in narrower
// wedges but meshed. False where the cones do not pair into faces.

bool FindCones(const std::vector<Point3>& runnerDirs, const std::vector<Branch>& runners, double ball,
               int firstRing, double snap, Cones& cones) {
  const std::vector<Corner> bare = FindCorners(runnerDirs, snap);
  std::vector<Branch> caps = CapsOf(bare, ball, runnerDirs);
  for (;;) {
    cones.dirs = runnerDirs;
    std::vector<Branch> branches = runners;
    for (const Branch& cap : caps) {
      cones.dirs.push_back(cap.dir);
      branches.push_back(cap);
    }
    cones.corners = caps.empty() ? bare : FindCorners(cones.dirs, snap);
    std::vector<std::vector<int>> across;
    cones.faces.clear();
    if (!FindSectors(cones.dirs, cones.corners, branches, across) ||
        !PairFaces(branches, across, cones.branches, cones.faces, firstRing))
      return false;
    const auto crowded = std::find_if(cones.branches.begin() + static_cast<std::ptrdiff_t>(runners.size()),
                                      cones.branches.end(), [&](const Branch& b) {
                                        return static_cast<int>(b.sectors.size()) > firstRing;
                                      });
    if (crowded == cones.branches.end()) return true;
    caps.erase(caps.begin() + (crowded - cones.branches.begin() - static_cast<std::ptrdiff_t>(runners.size())));
  }
}

// The cones at one snap, with the first ring's sectors shared among their
// faces and the faces shaped; false, with the reason recorded, where they
// cannot be.
bool ConesShared(const std::vector<Point3>& runnerDirs, const std::vector<Branch>& runners, double ball,
                 int runnerCount, int firstRing, double snap, Cones& cones) {
  if (!FindCones(runnerDirs, runners, ball, firstRing, snap, cones)) return Refuse(Refusal::UnsoundResult);
  for (size_t i = 0; i < cones.branches.size(); ++i) {
    const int met = static_cast<int>(cones.branches[i].sectors.size());
    const int runner = static_cast<int>(i) < runnerCount ? static_cast<int>(i) : -1;
    if (met > firstRing)
      return Refuse(Refusal::FirstRingTooSmall, runner, -1, {double(firstRing), double(met), RefusalUnit::Count});
  }
  if (!ShareSectors(static_cast<int>(cones.branches.size()), firstRing, cones.faces))
    return Refuse(Refusal::UnsoundResult);
  for (Face& face : cones.faces)
    if (!ShapeFace(face, cones.dirs, cones.corners)) return Refuse(Refusal::UnsoundResult);
  return true;
}

// A branch's first-ring sectors numbered in its own order, and its far-end
// section turned to meet them with as little twist as possible.
void AlignSectors(const std::vector<Face>& faces, const std::vector<Corner>& corners, int firstRing, Branch& b) {
  int start = 0;
  double sx = 0.0, sy = 0.0;
  for (Sector& s : b.sectors) {
    s.start = start;
    const double lag = AngleIn(b, corners[size_t(s.from)].dir) - 2.0 * kPi * start / firstRing;
    sx += std::cos(lag), sy += std::sin(lag);
    start += faces[size_t(s.face)].units;
  }
  b.turn = std::atan2(sy, sx);
}

// Ring by ring: the share of the radius, and the nodes per first-ring
// sector (0 for the centre node).
std::vector<std::pair<double, int>> RingsOf(const SectionSettings& section) {
  std::vector<std::pair<double, int>> rings{{0.0, 0}};
  const double rho = section.ioRatio;
  for (int k = 1; k <= section.innerRings; ++k) rings.push_back({rho * section.inner[size_t(k)], k});
  for (int q = 1; q <= section.outerLayers; ++q)
    rings.push_back({rho + (1.0 - rho) * section.outer[size_t(q)], section.innerRings});
  return rings;
}

// The share of the way from the far end at which layer k of `layers` lies:
// even steps, but for the last few, which thin towards the junction. Two
// branches' last cells across a cone face both lean along it, towards their
// far ends, by half their thickness; where the face is narrow, near its
// corners, a full step leaves each cell's centre far off the face's own and
// a finite-volume solver finds the face badly skewed. A cubic takes the step
// down smoothly from the even one, so that no layer jumps in thickness.
double TowardsJunction(int k, int layers) {
  const double even = double(k) / layers;
  const double graded = std::min(double(kThinnedLayers), double(layers)) / layers;
  const double s = 1.0 - even;
  if (!(s < graded)) return even;
  const double x = 1.0 - s / graded;
  return 1.0 - (s + (kLastLayerShare - 1.0) * s * x * x);
}

// Whether branch b undoes its fold near the junction rather than over its
// whole length.
bool Gathers(const Branch& b) { return b.foldReach > 0.0 && b.foldReach < b.length; }

// The share of its junction section's fold that a section keeps at t of
// the way from the far end of branch b, the fold undone within its
// `foldReach` of the junction. Spread over the whole branch, as the
// straight node lines between the two sections spread it, a long branch
// keeps most of the fold for many radii: each of its sections is a cone
// about the centre node, and where the cone is steep the cells round the
// axis are wedges leaning on their own centre line. Undone as the square
// of the way within three times the fold's depth, no node advances at under
// a third of the pace of the axis, so no cell folds back. A branch shorter
// than its `foldReach` keeps the even spread. Undone so near the junction,
// the sections no longer lean on the fold's depth to keep their cells from
// going flat where a face's nodes crowd by angle; the faces of such a
// branch spread their nodes along the wall too (AlongFace).
double FoldKept(double t, const Branch& b) {
  if (!Gathers(b)) return t;
  const double x = std::max(0.0, 1.0 - (1.0 - t) * b.length / b.foldReach);
  return x * x;
}

// What every branch's sweep shares.
struct HubSweep {
  Point3 center{};
  double ball = 0.0;
  int firstRing = 0, sectionNodes = 0;
  std::vector<std::pair<double, int>> rings;
  const std::vector<Face>& faces;
  const std::vector<Corner>& corners;
  const Channel& channel;
};

// Branch i's sections, from the far-end section round `far` to the
// junction section, into rows (1-based, section by section).
void SweepRows(const HubSweep& hub, int i, const Branch& b, int layers, const Point3& far, double r0, double r1,
               std::vector<Point3>& rows) {
  int row = 1;
  for (const auto& [share, perSector] : hub.rings) {
    const int count = perSector == 0 ? 1 : perSector * hub.firstRing;
    for (int j = 0; j < count; ++j, ++row) {
      const double angle = perSector == 0 ? 0.0 : 2.0 * kPi * j / count;
      const Point3 start = Add(far, Scale(Turned(b, angle + b.turn), share * r0));
      const Point3 end =
          perSector == 0 ? hub.center
                         : Add(hub.center, JunctionNode(i, b, j, perSector, share, hub.faces, hub.corners, hub.channel,
                                                        hub.ball));
      for (int k = 0; k <= layers; ++k) {
        Point3& node = rows[size_t(k * hub.sectionNodes + row)];
        if (k == 0) {
          node = start;
        } else if (k == layers) {
          node = end;
        } else {
          const double t = TowardsJunction(k, layers);
          // The nodes of one direction are the wall node of that direction
          // scaled about the axis: the wall node is placed, and the others
          // follow it, so that no ring can pass the one outside it.
          const Point3 axisPoint = Add(Scale(far, 1.0 - t), Scale(hub.center, t));
          const double fold = FoldKept(t, b) - t;
          node = Add(Add(Scale(start, 1.0 - t), Scale(end, t)), Scale(b.dir, fold * Dot(Sub(end, hub.center), b.dir)));
          if (share > 0.0) {
            const Point3 wallNode = Add(axisPoint, Scale(Sub(node, axisPoint), 1.0 / share));
            const Point3 placed = OnChannel(wallNode, Scale(Sub(end, hub.center), 1.0 / share), t, b, r0, r1,
                                            hub.center, hub.ball, hub.channel);
            node = Add(axisPoint, Scale(Sub(placed, axisPoint), share));
          }
        }
      }
    }
  }
}

// The hub's branches swept, merged and checked with the cones' corners
// snapped at `snap`, for the runners' directions and branches as framed.
// With `gatherFolds`, `gathered` is set where a branch undoes its fold near
// the junction, whether the sweep is refused or not.
JunctionOutcome SweepHub(JunctionPlan plan, const JunctionCall& call, std::vector<Point3> dirs,
                         std::vector<Branch> branches, double ball, double snap, bool gatherFolds, bool& gathered) {
  const SectionSettings& section = plan.section;
  const int f = section.firstRing;
  const int n = static_cast<int>(call.farPoints.size());
  Cones cones;
  if (!ConesShared(dirs, branches, ball, n, f, snap, cones)) return RefusedOutcome();
  dirs = std::move(cones.dirs);
  branches = std::move(cones.branches);
  const std::vector<Corner>& corners = cones.corners;
  std::vector<Face>& faces = cones.faces;
  const int all = static_cast<int>(branches.size());
  Channel channel;
  channel.dirs.assign(dirs.begin(), dirs.begin() + n);
  for (int i = 0; i < n; ++i) {
    channel.lengths.push_back(branches[size_t(i)].length);
    channel.farRadii.push_back(plan.radii[size_t(2 * i)]);
    channel.endRadii.push_back(plan.radii[size_t(2 * i + 1)]);
  }
  // The corners' walls lie on the ball the runners meet in. The channel
  // reaches further along a corner where a wide runner's cylinder passes it,
  // but the narrower runners there would then have to grow to it in their
  // last layer, and cells that turn that sharply fail a finite-volume
  // solver's face decomposition. Next to a cap the whole face keeps to the
  // ball: the cap's flat end must lie beyond its junction section.
  for (Face& face : faces) {
    face.capped = face.a >= n || face.b >= n;
    face.fromGap = ball - ChannelReach(channel, FaceRay(face, 0.0));
    face.toGap = ball - ChannelReach(channel, FaceRay(face, 1.0));
  }
  bool gathers = false;
  if (gatherFolds) {
    // How far each junction section folds towards its far end: the furthest
    // its cone's wall reaches along its axis.
    for (Face& face : faces) {
      MeasureWall(channel, ball, dirs, face);
      Branch &a = branches[size_t(face.a)], &b = branches[size_t(face.b)];
      a.foldReach = std::max(a.foldReach, kFoldReach * face.depthA);
      b.foldReach = std::max(b.foldReach, kFoldReach * face.depthB);
    }
    for (Face& face : faces)
      if (Gathers(branches[size_t(face.a)]) || Gathers(branches[size_t(face.b)])) face.alongWall = kAlongWall;
    gathers = std::any_of(branches.begin(), branches.end(), Gathers);
    gathered = gathered || gathers;
  }
  for (Branch& b : branches) AlignSectors(faces, corners, f, b);

  const SectionCounts counts = CountSection(f, section.innerRings, section.outerLayers);
  const SectionSize size = SizeSection(f, section.innerRings, section.outerLayers);
  const std::vector<std::pair<double, int>> rings = RingsOf(section);
  double gap = 1.0;
  for (size_t k = 1; k < rings.size(); ++k) gap = std::min(gap, rings[k].first - rings[k - 1].first);
  std::vector<int> layersOf(size_t(all), plan.layers);
  double nodeCapacity = 0.0, elementCapacity = 0.0;
  for (int i = 0; i < all; ++i) {
    const Branch& b = branches[size_t(i)];
    const double radius = b.cap ? b.capRadius : plan.radii[size_t(2 * i + 1)];
    const double steps = std::ceil(b.length / (kStepPerGap * gap * radius));
    if (steps > plan.layers) layersOf[size_t(i)] = steps < 1e6 ? static_cast<int>(steps) : 1000000;
    nodeCapacity += size.nodes * (layersOf[size_t(i)] + 2.0);
    elementCapacity += size.faces * (layersOf[size_t(i)] + 1.0);
  }
  if (!CheckCounts(nodeCapacity, elementCapacity, call.memoryLimit)) return RefusedOutcome();
  plan.capacity = {static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity)};
  plan.mergeTol = kMergeTolShare * MergeTolerance(ball, plan.radii, section.inner, section.innerRings, section.outer,
                                                  section.outerLayers, call.innerShare, call.outerShare);

  const HubSweep hub{call.center, ball, f, counts.nodes, rings, faces, corners, channel};

  auto build = std::make_unique<MeshBuild>(plan.capacity);
  const std::vector<SectionFace> sectionFaces = SectionFaces(f, section.innerRings, section.outerLayers);
  std::vector<int> firstNodes(size_t(n), 0);
  std::vector<Point3> rows;
  for (int i = 0; i < all; ++i) {
    const Branch& b = branches[size_t(i)];
    const double r0 = b.cap ? b.capRadius : plan.radii[size_t(2 * i)];
    const double r1 = b.cap ? b.capRadius : plan.radii[size_t(2 * i + 1)];
    // The far-end section lies inside the runner's own cone, or its branch
    // would cut into a neighbour's: its far point must lie beyond the
    // neighbour's reach, r cot(half the angle between them).
    for (int j = 0; j < all && !b.cap; ++j) {
      if (j == i) continue;
      const double c = Dot(b.dir, dirs[size_t(j)]);
      const double reach = r0 * std::sqrt(std::max(0.0, 1.0 - c * c)) / (1.0 - c);
      if (!(b.length > reach))
        return Refusing(Refusal::NeighboursTooClose, i, j, {b.length, reach, RefusalUnit::Length});
    }
    // A cap ends in a flat section whose rim lies on the ball.
    const Point3 far = b.cap ? Add(call.center, Scale(b.dir, b.length)) : plan.farPoints[size_t(i)];
    const int layers = layersOf[size_t(i)];
    rows.assign(size_t((layers + 1) * counts.nodes + 1), Point3{0, 0, 0});
    SweepRows(hub, i, b, layers, far, r0, r1, rows);
    const int first = build->Append(rows, counts.nodes, layers + 1, sectionFaces, {}, false);
    if (!b.cap) firstNodes[size_t(i)] = first;
  }
  JunctionOutcome outcome = Finish(plan, std::move(build), firstNodes);
  outcome.foldsGathered = gathers;
  return outcome;
}

}  // namespace

JunctionOutcome MeshHub(const JunctionSettings& settings, const JunctionCall& call, bool gatherFolds) {
  ClearRefusal();
  if (!CheckShares(call.innerShare, call.outerShare)) return RefusedOutcome();
  const int n = static_cast<int>(call.farPoints.size());
  if (n < 3) return Refusing(Refusal::TooFewRunners);
  JunctionPlan plan;
  plan.precision = call.precision;
  plan.center = call.center;
  if (!PlanSection(settings, call.innerShare / (call.innerShare + call.outerShare), plan)) return RefusedOutcome();
  if (!CheckRadiusCount(call.radii, 2 * n)) return RefusedOutcome();
  plan.farPoints = call.farPoints;
  plan.radii = call.radii;
  if (!CheckRunners(call.center, plan.farPoints, plan.radii, call.precision)) return RefusedOutcome();

  std::vector<Branch> branches;
  std::vector<Point3> dirs;
  double ball = 0.0;
  for (int i = 0; i < n; ++i) {
    const Point3 along = Difference(plan.farPoints[size_t(i)], call.center, call.precision);
    const double length = Norm(along);
    dirs.push_back(Scale(along, 1.0 / length));
    branches.push_back(Framed(dirs.back(), length));
    ball = std::max(ball, plan.radii[size_t(2 * i + 1)]);
  }
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      const double angle = Degrees(AngleBetween(dirs[size_t(i)], dirs[size_t(j)]));
      if (angle < kMinPairAngleDeg)
        return Refusing(Refusal::NeighboursTooClose, i, j, {angle, kMinPairAngleDeg, RefusalUnit::Degrees});
    }

  // The narrowest snap of the cones' corners that meshes soundly, with the
  // folds gathered where asked, else spread; should none, the junction is
  // refused for the reason the first try gave.
  JunctionRefusal narrowest;
  for (const bool gather : {gatherFolds, false}) {
    bool gathered = false;
    for (const double snap : kSnaps) {
      ClearRefusal();
      JunctionOutcome outcome = SweepHub(plan, call, dirs, branches, ball, snap, gather, gathered);
      if (outcome.build) {
        outcome.hub = true;
        return outcome;
      }
      if (narrowest.reason == Refusal::None) narrowest = LastJunctionRefusal();
    }
    if (!gathered) break;
  }
  RecordRefusal(narrowest);
  return RefusedOutcome();
}

}  // namespace vela
