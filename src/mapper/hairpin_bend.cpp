// A bend fanned round its crease. Where runners leave the junction at a
// sharp opening (a hairpin, under 45 degrees), they overlap for several
// radii before they part, and neither the mitre nor the corner has room:
// the mitre's section on the bisecting plane runs out to several radii, far
// past the ball at the centre, and the corner turns through a tight fold
// inside one radius. Up to a right angle this construction also lifts the
// cells the others leave under a solver's floor.
//
// The runners' inner walls cross in the bend's plane; the line through that
// point square to the plane is tangent to both runners, the crease where
// the channel turns back on itself. Each leg is swept straight from its far
// end to the plane square to it through a pivot line just outside the
// crease, then its sections turn about that line, fanning round the crease,
// until they lie on the plane through the pivot that bisects the runners,
// where the two legs meet in one shared section. Every turned section is
// the channel's own cut through its plane, found by casting rays to the
// channel's wall: the wall is on the channel by construction, and the
// section grows from the runner's circle to the long rounded cut that
// reaches back into the ball at the centre. Each step turns a whole
// section about the pivot, so that the cells are wedges of the fan, not the
// ever more leaning layers of a mitre.
//
// Choices: the sections' nodes keep the far-end section's pattern, mapped
// onto each cut as the disc onto an ellipse of the cut's length and width,
// then out to the wall along each ray; on request the inner rings of a long
// cut are drawn out towards the wall, where evenly spaced they would leave
// thin cells at its ends. Refused, so that the caller keeps what it has,
// where the runners' tapers keep their walls from crossing ahead of the
// centre, where the pivot would fall inside the channel, or where either
// leg's straight part would keep less than a tenth of the leg.

#include "mapper/junction_guards.h"
#include "mapper/junction_plan.h"
#include "mapper/mesh_improve.h"
#include "mapper/refusal.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vela {

namespace {

// Openings under this are fanned round the crease; wider ones gain nothing
// by it over the mitre and the corner.
constexpr double kFanMaxOpeningDeg = 90.0;
// Steps of the fan round the crease: each turns the sections by a quarter
// of 60 to 80 degrees.
constexpr int kFanSteps = 4;
// How far outside the crease the pivot lies, per unit of the narrower
// junction radius: the sections' nodes next to it then keep apart as they
// turn, where on the crease itself they would meet in one node.
constexpr double kPivotGap = 0.1;
// and at least so far that its nodes keep this many merge tolerances apart.
constexpr double kPivotClearance = 1.5;
// What the fan's nodes must keep from themselves in the next section, in
// merge tolerances, as swept: the finishing pass may bring them closer.
constexpr double kFanApart = 3.0;
// The straight part of each leg keeps at least this share of the leg.
constexpr double kStraightShare = 0.1;
// Along the straight part each layer is at most this many times the one
// nearer the fan, which it starts from at about the fan's step: a solver
// weighs a face between cells of very different lengths poorly.
constexpr double kStraightGrowth = 2.0;
// The most layers a straight part takes.
constexpr int kMostStraightLayers = 16;

// Where along from + t * direction the channel's wall is first crossed:
// leaving it (from inside) or entering it (from outside), t from 0 to at
// most reach, in steps of step and then halving the step that crosses.
// Leaving, reach when the ray does not leave before; entering, -1 when it
// does not enter.
double CrossingAlong(const Channel& channel, const Point3& from, const Point3& direction, double step,
                     double reach, bool leaving) {
  const auto crossed = [&](double t) {
    const double outside = channel.Outside(Add(from, Scale(direction, t)));
    return leaving ? outside > 0.0 : outside < 0.0;
  };
  double before = 0.0, after = -1.0;
  for (double t = step; t < reach + step; t += step) {
    const double at = std::min(t, reach);
    if (crossed(at)) {
      after = at;
      break;
    }
    before = at;
  }
  if (after < 0.0) return leaving ? reach : -1.0;
  for (int k = 0; k < 60 && after - before > 1e-12 * reach; ++k) {
    const double mid = 0.5 * (before + after);
    (crossed(mid) ? after : before) = mid;
  }
  return 0.5 * (before + after);
}

double ExitAlong(const Channel& channel, const Point3& from, const Point3& direction, double step, double reach) {
  return CrossingAlong(channel, from, direction, step, reach, true);
}

double EntryAlong(const Channel& channel, const Point3& from, const Point3& direction, double step, double reach) {
  return CrossingAlong(channel, from, direction, step, reach, false);
}

// What a hairpin is built from, found once for both legs.
struct Hairpin {
  Point3 normal{};    // of the bend's plane
  Point3 bisector{};  // unit, between the runners
  Point3 pivot{};     // a point of the pivot line, which runs along normal
  double fan = 0.0;   // the turn of each leg's sections about the pivot, radians
  double step = 0.0;  // the rays' step
  double reach = 0.0; // the rays' longest way
};

// Where the inner walls of the two runners cross in the bend's plane, the
// runners tapering as machined: the crease. Nothing when the tapers keep
// the walls from crossing ahead of the centre.
std::optional<Point3> Crease(const BendPlan& plan, const Point3& w0) {
  const double c = Dot(plan.e0, plan.e1);
  const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
  const double len0 = Norm(Sub(plan.farPoints[0], plan.center));
  const double len1 = Norm(Sub(plan.farPoints[1], plan.center));
  const double a0 = plan.radii[1], a1 = plan.radii[3];
  const double k0 = (plan.radii[0] - a0) / len0, k1 = (plan.radii[2] - a1) / len1;
  // In the plane: runner 0 along x, runner 1 at (c, s); each inner wall at
  // its own radius towards the other runner.
  const double denominator = s - k1 * c - k0 * c - k0 * k1 * s;
  if (!(denominator > 1e-9)) return std::nullopt;
  const double s1 = (a0 + a1 * c + k0 * a1 * s) / denominator;
  const double s0 = s1 * c + (a1 + k1 * s1) * s;
  if (!(s0 > 0.0 && s1 > 0.0)) return std::nullopt;
  return Add(plan.center, Add(Scale(plan.e0, s0), Scale(w0, a0 + k0 * s0)));
}

std::optional<Hairpin> HairpinOf(const BendPlan& plan, const Channel& channel, double gapScale) {
  const double opening = std::acos(std::max(-1.0, std::min(1.0, Dot(plan.e0, plan.e1))));
  if (!(opening * 180.0 / kPi < kFanMaxOpeningDeg)) return std::nullopt;
  Hairpin h;
  h.normal = Unit(Cross(plan.e0, plan.e1));
  h.bisector = Unit(Add(plan.e0, plan.e1));
  const Point3 w0 = Unit(Cross(h.normal, plan.e0));
  const std::optional<Point3> crease = Crease(plan, w0);
  if (!crease) return std::nullopt;
  const double narrower = std::min(plan.radii[1], plan.radii[3]);
  h.fan = std::atan2(Dot(h.bisector, plan.e0), Dot(h.bisector, w0));
  // Next to the pivot the first turn moves a node by the gap's share across
  // the runner (the sine of half the opening) times the step's angle: that
  // must keep consecutive sections' nodes further apart than the merge
  // joins.
  const double apart = kPivotClearance * plan.mergeTol / (std::sin(0.5 * opening) * (h.fan / kFanSteps));
  h.pivot = Add(*crease, Scale(h.bisector, gapScale * std::max(kPivotGap * narrower, apart)));
  if (!(channel.Outside(h.pivot) > 0.0)) return std::nullopt;
  h.step = 0.05 * narrower;
  const double widest = *std::max_element(plan.radii.begin(), plan.radii.begin() + 4);
  h.reach = Norm(Sub(h.pivot, plan.center)) + 4.0 * widest;
  // Each leg's straight part keeps its share of the leg.
  for (int k = 0; k < 2; ++k) {
    const Point3& e = k == 0 ? plan.e0 : plan.e1;
    const double length = Norm(Sub(plan.farPoints[static_cast<size_t>(k)], plan.center));
    if (!(Dot(Sub(h.pivot, plan.center), e) < (1.0 - kStraightShare) * length)) return std::nullopt;
  }
  return h;
}

// The distances from the straight part's end section back to each section
// before it (0 for itself, length for the far end): layers growing by one
// ratio from about the fan's step, so that no layer is many times its
// neighbour's length; even where even layers are no longer than that step.
std::vector<double> StraightSpacing(double length, double firstStep, int layers) {
  double ratio = 1.0;
  if (firstStep * layers < length) {
    double low = 1.0, high = 64.0;
    for (int k = 0; k < 100; ++k) {
      const double mid = 0.5 * (low + high);
      double sum = 0.0, size = firstStep;
      for (int i = 0; i < layers; ++i, size *= mid) sum += size;
      (sum < length ? low : high) = mid;
    }
    ratio = 0.5 * (low + high);
  }
  std::vector<double> from(static_cast<size_t>(layers) + 1, 0.0);
  double sum = 0.0, size = 1.0;
  for (int i = 1; i <= layers; ++i, size *= ratio) from[static_cast<size_t>(i)] = (sum += size);
  for (double& d : from) d *= length / sum;
  return from;
}

// The length of the fan's step at the straight part's end section.
double FanStep(const BendPlan& plan, const Hairpin& h, int leg) {
  const size_t k = static_cast<size_t>(leg);
  const Point3& e = leg == 0 ? plan.e0 : plan.e1;
  const double length = Norm(Sub(plan.farPoints[k], plan.center));
  const double endAlong = Dot(Sub(h.pivot, plan.center), e);
  const double endRadius = plan.radii[2 * k + 1] + (plan.radii[2 * k] - plan.radii[2 * k + 1]) * (endAlong / length);
  return endRadius * h.fan / kFanSteps;
}

// The straight part's layers: as few as reach its length from the fan's
// step growing by at most kStraightGrowth a layer.
int StraightLayers(const BendPlan& plan, const Hairpin& h, int leg) {
  const Point3& e = leg == 0 ? plan.e0 : plan.e1;
  const double straight = Norm(Sub(plan.farPoints[static_cast<size_t>(leg)], plan.center)) - Dot(Sub(h.pivot, plan.center), e);
  double reached = 0.0, size = FanStep(plan, h, leg);
  int layers = 0;
  while (reached < straight && layers < kMostStraightLayers) {
    reached += size;
    size *= kStraightGrowth;
    ++layers;
  }
  return std::max(layers, 1);
}

// One leg's sections, row k * nodes + p (row 0 unused): the far end first,
// the straight part's sections, then the fan's, the last on the bisecting
// plane. Empty where a turned plane's cut is not closed within the rays'
// reach.
std::vector<Point3> SweepHairpinLeg(const BendPlan& plan, const Hairpin& h, const Channel& channel, int leg,
                                    int straightLayers, bool pullRings) {
  const SectionSettings& s = plan.section;
  const size_t k = static_cast<size_t>(leg);
  const Point3& e = leg == 0 ? plan.e0 : plan.e1;
  const Point3& far = plan.farPoints[k];
  const Point3& u = h.normal;
  const Point3 v = Unit(Cross(h.normal, e));
  // The way from the runner's axis towards the crease, and which way round
  // the section's own axes take it.
  const Point3 w = Unit(Sub(Sub(h.pivot, plan.center), Scale(e, Dot(Sub(h.pivot, plan.center), e))));
  const double turn = Dot(v, w) > 0.0 ? 1.0 : -1.0;
  const double length = Norm(Sub(far, plan.center));
  const double farRadius = plan.radii[2 * k], junctionRadius = plan.radii[2 * k + 1];
  const double endAlong = Dot(Sub(h.pivot, plan.center), e);
  const double endRadius = junctionRadius + (farRadius - junctionRadius) * (endAlong / length);
  const Point3 endCentre = Add(plan.center, Scale(e, endAlong));

  const int nodes = CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes;
  const int sections = straightLayers + kFanSteps + 1;
  std::vector<Point3> rows(static_cast<size_t>(sections * nodes) + 1, Point3{0, 0, 0});
  const std::vector<double> spacing = StraightSpacing(length - endAlong, FanStep(plan, h, leg), straightLayers);

  // The fan's sections: the plane through the pivot turned by each step, the
  // channel's cut through it on the runner's side, its extent along the
  // bend's normal and across; the last plane is the bisecting one, the same
  // for both legs.
  struct FanSection {
    Point3 centre, across;
    double halfWidth, halfLength;
  };
  std::vector<FanSection> fan(kFanSteps + 1);
  for (int j = 1; j <= kFanSteps; ++j) {
    const double phi = h.fan * j / kFanSteps;
    const Point3 toward = j == kFanSteps ? h.bisector : Unit(Add(Scale(w, std::cos(phi)), Scale(e, std::sin(phi))));
    const Point3 inward = Scale(toward, -1.0);
    // The cut runs from where the ray from the pivot enters the channel to
    // where it leaves; the second search starts a little past the first,
    // where the channel surely holds the ray.
    const double enters = EntryAlong(channel, h.pivot, inward, h.step, h.reach);
    if (enters < 0.0) return {};
    const double nudge = 1e-3 * h.step;
    const double through = ExitAlong(channel, Add(h.pivot, Scale(inward, enters + nudge)), inward, h.step, h.reach);
    if (!(through < h.reach)) return {};
    FanSection& f = fan[static_cast<size_t>(j)];
    f.halfLength = 0.5 * (through + nudge);
    f.centre = Add(h.pivot, Scale(inward, enters + f.halfLength));
    f.halfWidth = ExitAlong(channel, f.centre, u, h.step, h.reach);
    f.across = Scale(toward, turn);
  }

  auto place = [&](int p, double fraction, double c, double sn) {
    const Point3 offset = Add(Scale(u, c * fraction), Scale(v, sn * fraction));
    const Point3 atFar = Add(far, Scale(offset, farRadius));
    const Point3 atEnd = Add(endCentre, Scale(offset, endRadius));
    const double straight = length - endAlong;
    for (int i = 0; i <= straightLayers; ++i) {
      const double done = 1.0 - spacing[static_cast<size_t>(straightLayers - i)] / straight;
      rows[static_cast<size_t>(i * nodes + p)] = i == straightLayers ? atEnd : Add(atFar, Scale(Sub(atEnd, atFar), done));
    }
    for (int j = 1; j <= kFanSteps; ++j) {
      const FanSection& f = fan[static_cast<size_t>(j)];
      Point3 node = f.centre;
      if (fraction > 0.0) {
        const Point3 direction = Unit(Add(Scale(u, c * f.halfWidth), Scale(f.across, sn * f.halfLength)));
        const double reach = ExitAlong(channel, f.centre, direction, h.step, h.reach);
        // The node's gap to the wall: (1 - fraction) of the ray's reach, or,
        // with the rings drawn out, a share of it falling from the whole
        // reach at the centre to the cut's half width next to the wall.
        const double shortest = std::min(f.halfWidth, f.halfLength);
        const double kappa = pullRings ? std::min(1.0, shortest / reach) : 1.0;
        const double gap = reach * (1.0 - fraction) * (1.0 - fraction * (1.0 - kappa));
        node = Add(f.centre, Scale(direction, reach - gap));
      }
      rows[static_cast<size_t>((straightLayers + j) * nodes + p)] = node;
    }
  };
  ForEachSectionNode(s, place);
  return rows;
}

// Whether each node of the fan keeps further than distance from itself in
// the next section; rows as SweepHairpinLeg gives them.
bool FanKeepsApart(const std::vector<Point3>& rows, int nodes, int straightLayers, double distance) {
  for (int i = straightLayers; i < straightLayers + kFanSteps; ++i)
    for (int p = 1; p <= nodes; ++p)
      if (!(Norm(Sub(rows[static_cast<size_t>(i * nodes + p)], rows[static_cast<size_t>((i + 1) * nodes + p)])) >
            distance))
        return false;
  return true;
}

// A bend this construction does not take, refused under its opening: the
// caller keeps the mesh it has.
JunctionOutcome RefusedAsNoFan(const BendPlan& plan) {
  ClearRefusal();
  Refuse(Refusal::BendOpening, -1, -1,
         {std::acos(std::max(-1.0, std::min(1.0, Dot(plan.e0, plan.e1)))) * 180.0 / kPi, kFanMaxOpeningDeg,
          JunctionRefusal::Unit::Degrees});
  return RefusedOutcome();
}

}  // namespace

JunctionOutcome MeshHairpinBend(const BendPlan& plan, double memoryLimit, bool pullRings) {
  const Channel channel = ChannelOf(plan.center, plan.farPoints, plan.radii);
  const SectionSettings& s = plan.section;
  const SectionSize size = SizeSection(s.firstRing, s.innerRings, s.outerLayers);
  const std::vector<SectionFace> faces = SectionFaces(s.firstRing, s.innerRings, s.outerLayers);
  const int nodes = CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes;
  // The pivot's gap is an estimate of what keeps the nodes next to it apart;
  // where a section's cut brings them closer, the pivot moves out further.
  for (const double gapScale : {1.0, 2.0, 4.0}) {
    const std::optional<Hairpin> h = HairpinOf(plan, channel, gapScale);
    if (!h) break;
    const int straight[2] = {StraightLayers(plan, *h, 0), StraightLayers(plan, *h, 1)};
    std::vector<Point3> rows[2];
    bool apart = true;
    for (int k = 0; k < 2 && apart; ++k) {
      rows[k] = SweepHairpinLeg(plan, *h, channel, k, straight[k], pullRings);
      apart = !rows[k].empty() && FanKeepsApart(rows[k], nodes, straight[k], kFanApart * plan.mergeTol);
    }
    if (!apart) continue;
    const int sections[2] = {straight[0] + kFanSteps + 1, straight[1] + kFanSteps + 1};
    const double nodeCapacity = double(sections[0] + sections[1]) * size.nodes;
    const double elementCapacity = double(sections[0] + sections[1] - 2) * size.faces;
    if (!CheckCounts(nodeCapacity, elementCapacity, memoryLimit)) return RefusedOutcome();
    auto build =
        std::make_unique<MeshBuild>(MeshCapacity{static_cast<int>(nodeCapacity), static_cast<int>(elementCapacity)});
    std::vector<int> firstNodes(2, 0);
    for (int k = 0; k < 2; ++k)
      firstNodes[static_cast<size_t>(k)] = build->Append(rows[k], nodes, sections[k], faces, {}, false);
    return Finish(plan, std::move(build), firstNodes);
  }
  return RefusedAsNoFan(plan);
}

}  // namespace vela
