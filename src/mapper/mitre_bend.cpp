// A bend mitred where it turns: two straight legs, each swept from its far
// end to the plane that bisects the bend, meeting there in one shared
// elliptical section. Every element is a prism or a hexahedron. A leg's
// sections lean a little more layer by layer, from square to its axis at the
// far end to half the turn at the mitre, as its nodes run straight along the
// axis: for the gentle and moderate turns this gives far better cells than
// the half-section corner, whose steps shrink with the turn. Towards 60
// degrees of lean the cells on the mitre keep little of the section's shape,
// as their in-section edges stretch and the edges across stay axial.

#include "mapper/junction_guards.h"
#include "mapper/junction_plan.h"
#include "mapper/refusal.h"

#include <algorithm>
#include <cmath>

namespace vela {

namespace {

// The inner wall of each leg keeps at least a tenth of its length to the
// mitre: its layers crowd into the turn, but never fold.
constexpr double kMitreInnerShare = 0.9;
// The last layer leans by half the turn; beyond 60 degrees of lean its
// hexahedra flatten, and the corner's half-section serves better.
constexpr double kMitreMinLean = 0.5;  // cos 60 degrees
// From this half turn (20 degrees) on, the outer wall's way round the ball
// is long enough for two layers of its own.
constexpr double kRoundsBallHalfTurn = 0.3490658503988659;

// The run of a wider leg's narrowing to the mitre section, per unit of
// radius it narrows by, where its layers are even: the wall leans by 14
// degrees there.
constexpr double kNarrowingRun = 4.0;

// A unit vector square to the unit vector axis.
Point3 SquareTo(const Point3& axis) {
  const Point3 trial = std::fabs(axis[0]) < 0.6 ? Point3{1, 0, 0} : Point3{0, 1, 0};
  return Unit(Cross(axis, trial));
}

// One leg as rows of sections 0..layers (row 0 unused): section 0 the circle
// at the far point, the last the mitre section, the ones between on the
// straight lines from each far-end node to where its leg, at its own
// junction radius, meets the mitre plane. The mitre section takes the
// narrower leg's radius: the wider leg narrows to it over its last layer
// alone, inside its own runner, where a section at the mean radius would
// stand outside the narrower runner by half the difference.
std::vector<Point3> SweepLeg(const BendPlan& plan, int leg, const Point3& bendNormal, const Point3& mitreNormal,
                             double mitreRadius) {
  const SectionSettings& s = plan.section;
  const Point3& e = leg == 0 ? plan.e0 : plan.e1;
  const Point3& far = plan.farPoints[static_cast<size_t>(leg)];
  const Point3& u = bendNormal;
  const Point3 v = Unit(Cross(bendNormal, e));
  const double farRadius = plan.radii[2 * static_cast<size_t>(leg)];
  const double ownRadius = std::max(mitreRadius, plan.radii[2 * static_cast<size_t>(leg) + 1]);
  const double along = Dot(e, mitreNormal);
  const int nodes = CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes;
  std::vector<Point3> rows(static_cast<size_t>((plan.layers + 1) * nodes) + 1, Point3{0, 0, 0});

  // Where the turn carries the outer wall round the ball, the last two
  // layers span that part alone, from where the outermost wall line reaches
  // the centre's plane: on the ball they follow it instead of cutting a long
  // chord across it. The layers before are spaced evenly; a gentle turn,
  // whose ball part is thin, keeps every layer even.
  const double length = Norm(Sub(far, plan.center));
  const double halfTurn = 0.5 * (kPi - std::acos(std::max(-1.0, std::min(1.0, Dot(plan.e0, plan.e1)))));
  const double reachesCentre = length / (length + mitreRadius * std::tan(halfTurn));
  const int n = plan.layers;
  std::vector<double> spacing(static_cast<size_t>(n) + 1);
  const bool roundsBall = halfTurn >= kRoundsBallHalfTurn && n >= 3;
  // A wider leg narrows to the mitre section over its last layer; on a
  // gentle turn, whose layers are even, that layer is kept to a slope of
  // kNarrowingRun lengths per unit of narrowing, so that the channel loses
  // little to it.
  const double narrowing = ownRadius - mitreRadius;
  const bool shortLast = !roundsBall && n >= 2 && narrowing > 0.0 && kNarrowingRun * narrowing < length / n;
  const double last = shortLast ? kNarrowingRun * narrowing / length : 0.0;
  for (int k = 0; k <= n; ++k)
    spacing[static_cast<size_t>(k)] = roundsBall ? (k <= n - 2 ? reachesCentre * k / (n - 2) : k == n - 1 ? 0.5 * (1.0 + reachesCentre) : 1.0)
                                      : shortLast && k < n ? (1.0 - last) * k / (n - 1)
                                                           : static_cast<double>(k) / n;
  // Where a section of the given radius, centred on the centre, lands on the
  // mitre plane along the leg's axis: both legs' circles of the mitre radius
  // land on the same ellipse, node for node (mirrored).
  const auto onMitre = [&](const Point3& offset, double radius) {
    const Point3 atCentre = Add(plan.center, Scale(offset, radius));
    return Sub(atCentre, Scale(e, Dot(Sub(atCentre, plan.center), mitreNormal) / along));
  };
  auto place = [&](int p, double fraction, double c, double sn) {
    const Point3 offset = Add(Scale(u, c * fraction), Scale(v, sn * fraction));
    const Point3 atFar = Add(far, Scale(offset, farRadius));
    const Point3 atMitre = onMitre(offset, mitreRadius);
    const Point3 ownEnd = onMitre(offset, ownRadius);
    for (int k = 0; k <= n; ++k) {
      Point3 node = k == n ? atMitre : Add(atFar, Scale(Sub(ownEnd, atFar), spacing[static_cast<size_t>(k)]));
      // On the outer side of the turn the mitre plane cuts the runner beyond
      // the centre, where the channel is the ball the runners are machined
      // to meet in: what lies beyond the centre and outside the ball comes
      // back onto it. A spoke of the mitre section moves as one, so that the
      // shared section keeps its shape.
      const double ball = fraction * (k == n ? mitreRadius : ownRadius);
      const Point3 fromCentre = Sub(node, plan.center);
      const double reach = Norm(fromCentre);
      if (Dot(fromCentre, e) < 0.0 && reach > ball) node = Add(plan.center, Scale(fromCentre, ball / reach));
      rows[static_cast<size_t>(k * nodes + p)] = node;
    }
  };
  ForEachSectionNode(s, place);
  return rows;
}

}  // namespace

namespace {

// Half the turn of the bend, radians: how far the last layers lean.
double HalfTurn(const BendPlan& plan) {
  const double cosOpening = std::max(-1.0, std::min(1.0, Dot(plan.e0, plan.e1)));
  return 0.5 * (kPi - std::acos(cosOpening));
}

}  // namespace

bool MitreLegsFit(const BendPlan& plan) {
  // The inner wall of each leg must keep a share of its length to the mitre
  // (kMitreInnerShare); its leaning layers reach this far along it.
  const double halfTurn = HalfTurn(plan);
  if (!(halfTurn < 0.5 * kPi)) return false;
  const double reach = plan.meanJunction * std::tan(halfTurn);
  for (int k = 0; k < 2; ++k)
    if (!(reach < kMitreInnerShare * Norm(Sub(plan.farPoints[static_cast<size_t>(k)], plan.center)))) return false;
  return true;
}

bool MitreFits(const BendPlan& plan) { return MitreLegsFit(plan) && std::cos(HalfTurn(plan)) >= kMitreMinLean; }

JunctionOutcome MeshMitreBend(const BendPlan& plan) {
  const SectionSettings& s = plan.section;
  const Point3 cross = Cross(plan.e0, plan.e1);
  // A straight pass has no bend plane: any plane through the runner serves.
  const Point3 bendNormal = Norm(cross) > 1e-9 ? Unit(cross) : SquareTo(plan.e0);
  const Point3 mitreNormal = Unit(Sub(plan.e0, plan.e1));

  // The plan's capacity holds the corner's sections too, and its merge
  // tolerance is the bend's own.
  auto build = std::make_unique<MeshBuild>(plan.capacity);
  const std::vector<SectionFace> faces = SectionFaces(s.firstRing, s.innerRings, s.outerLayers);
  const int nodes = CountSection(s.firstRing, s.innerRings, s.outerLayers).nodes;
  std::vector<int> firstNodes(2, 0);
  const double narrower = std::min(plan.radii[1], plan.radii[3]);
  for (int k = 0; k < 2; ++k)
    firstNodes[static_cast<size_t>(k)] = build->Append(SweepLeg(plan, k, bendNormal, mitreNormal, narrower),
                                                       nodes, plan.layers + 1, faces, {}, false);
  return Finish(plan, std::move(build), firstNodes);
}

}  // namespace vela
