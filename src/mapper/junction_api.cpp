// The value API (VelaJunction.h): the same drivers as the exported class,
// with the points kept in doubles unless the caller asks for the class's
// single precision.

#include <VelaJunction.h>

#include "mapper/hub_junction.h"
#include "mapper/junction_guards.h"
#include "mapper/junction_inputs.h"
#include "mapper/junction_plan.h"
#include "mapper/nway_junction.h"
#include "mapper/mesh_improve.h"
#include "mapper/mesh_overlap.h"
#include "mapper/mesh_soundness.h"
#include "mapper/refusal.h"
#include "mapper/runner_length.h"
#include "sweep/ring_angles.h"
#include "sweep/section_pattern.h"

#include <algorithm>
#include <optional>

namespace vela {

namespace {

JunctionSettings SettingsOf(const CrossSection& section) {
  JunctionSettings settings;
  settings.firstRing = section.firstRing;
  settings.inner = section.innerLayers;
  settings.outer = section.outerLayers;
  return settings;
}

JunctionCall CallOf(const JunctionInput& input, Precision precision, Construction construction) {
  JunctionCall call;
  call.center = Stored(input.center, precision);
  call.farPoints.reserve(input.farPoints.size());
  for (const Point3& p : input.farPoints) call.farPoints.push_back(Stored(p, precision));
  call.radii = input.radii;
  call.innerShare = input.section.innerShare;
  call.outerShare = input.section.outerShare;
  call.precision = precision;
  call.construction = construction;
  return call;
}

// The guards record on this thread as they go; a caller of the value API
// gets the reason in its result and finds the thread's record as it was.
class KeepRecord {
public:
  KeepRecord() : m_kept(LastJunctionRefusal()) {}
  ~KeepRecord() { RecordRefusal(m_kept); }
  KeepRecord(const KeepRecord&) = delete;
  KeepRecord& operator=(const KeepRecord&) = delete;

private:
  JunctionRefusal m_kept;
};

// Whether every corner of every element of mesh turns the right way, as the
// junction check judges it. The pass that moved the nodes kept the
// connectivity, so the corners are all that can have changed.
bool CornersSound(const JunctionMesh& mesh) {
  std::vector<std::array<double, 3>> nodes(mesh.nodes.size() + 1, std::array<double, 3>{0.0, 0.0, 0.0});
  std::copy(mesh.nodes.begin(), mesh.nodes.end(), nodes.begin() + 1);
  std::vector<std::array<int, 8>> elements(mesh.elements.size() + 1, std::array<int, 8>{});
  for (size_t e = 0; e < mesh.elements.size(); ++e)
    for (int c = 0; c < mesh.elements[e].CornerCount(); ++c)
      elements[e + 1][static_cast<size_t>(c)] = mesh.elements[e].corners[static_cast<size_t>(c)] + 1;
  const std::vector<unsigned char> candidates(nodes.size(), 0);
  const MeshSoundness soundness =
      CheckMesh(reinterpret_cast<const double(*)[3]>(nodes.data()), static_cast<int>(mesh.nodes.size()),
                reinterpret_cast<const int(*)[8]>(elements.data()), static_cast<int>(mesh.elements.size()),
                candidates.data());
  return soundness.Sound();
}

// A hub's runners lean furthest where they meet at narrow angles, which
// leaves more cells for the finishing pass than a planar junction does, and
// cells that take longer searches: a star of eight runners needs four times
// the planar junction's searches a cell to clear a scaled Jacobian of 0.2.
// The hub's mesh is tested for overlapping elements after the pass, which
// the planar construction's census-bound budget stands in for. Its
// branches' last cells lean along the cone faces they meet on, so that the
// faces there start near a solver's limits of skewness and
// non-orthogonality: its faces are judged as the solver judges them.
constexpr Smoothing kHubSmoothing{1000, 32, true};

// The finishing pass of the improved construction: poor cells smoothed and
// the wall brought onto the channel, the far-end sections kept where the
// runners join them and the centre's node where it is. Should the moved mesh fail the check, which the pass's
// guards are there to rule out, the mesh stays as swept and merged.
// Returns the nodes as they were swept and merged, and in `report` what the
// pass measured.
std::vector<Point3> Improve(const JunctionCall& call, JunctionMesh& mesh, const Smoothing& smoothing,
                            ImproveReport& report) {
  std::vector<char> fixed(mesh.nodes.size(), 0);
  for (const std::vector<int>& section : mesh.farSections)
    for (int node : section) fixed[static_cast<size_t>(node)] = 1;
  // So does the node at the junction's centre, where a host finds its own
  // point in the mesh.
  size_t nearest = 0;
  for (size_t k = 1; k < mesh.nodes.size(); ++k)
    if (Norm(Sub(mesh.nodes[k], call.center)) < Norm(Sub(mesh.nodes[nearest], call.center))) nearest = k;
  if (!mesh.nodes.empty() && Norm(Sub(mesh.nodes[nearest], call.center)) <= mesh.mergeTolerance) fixed[nearest] = 1;
  const std::vector<Point3> swept = mesh.nodes;
  report = ImproveMesh(mesh, ChannelOf(call.center, call.farPoints, call.radii), fixed, smoothing);
  if (report.moved && !CornersSound(mesh)) mesh.nodes = swept;
  return swept;
}

// A hub has no census-validated bounds to keep its branches apart, and its
// finishing pass works harder: its mesh is tested for elements that run into
// each other, and the mesh as swept is kept, or the junction refused, when
// they do.
bool KeptApart(JunctionMesh& mesh, const std::vector<Point3>& swept) {
  if (FindOverlap(mesh.nodes, mesh.elements, true).overlapping == 0) return true;
  if (mesh.nodes == swept) return false;
  mesh.nodes = swept;
  return FindOverlap(mesh.nodes, mesh.elements, true).overlapping == 0;
}

// Beyond this angle out of the junction plane the planar construction's
// branches, swept in the plane and tilted back, were seen to run into
// runners other than their neighbours; the hub takes such junctions.
constexpr double kCosPlanarElevation = 0.98480775;  // cos 10 degrees

// Whether the runners leave the plane the planar construction would sweep
// them in by more than it is good for, or span no such plane at all (a
// runner square to the others, as a sprue on a star of runners).
bool OutOfPlane(const JunctionCall& call) {
  const std::optional<Point3> normal = AverageCoplaneNormal(call.center, call.farPoints, call.precision);
  if (!normal) return true;
  const ProjectedRunners projected = ProjectRunners(call.center, *normal, call.farPoints, call.precision);
  return std::any_of(projected.cosElevation.begin(), projected.cosElevation.end(),
                     [](double c) { return !(c >= kCosPlanarElevation); });
}

// The improved N-way junction: the planar construction for runners around
// one plane, the hub for runners out of it. A planar junction that the
// planar construction cannot mesh soundly, or whose runners are not listed
// in order round it, goes to the hub too; should the hub refuse as well, the
// planar refusal is the one the caller knows the junction by.
JunctionOutcome MeshImprovedNWay(const JunctionSettings& settings, const JunctionCall& call) {
  if (call.farPoints.size() >= 3 && CheckRadiusCount(call.radii, 2 * static_cast<int>(call.farPoints.size())) &&
      CheckRunners(call.center, call.farPoints, call.radii, call.precision) && OutOfPlane(call))
    return MeshHub(settings, call);
  JunctionOutcome planar = MeshNWay(settings, call);
  const Refusal why = planar.refusal.reason;
  if (planar.build || (why != Refusal::UnsoundResult && why != Refusal::RunnerOrder)) return planar;
  JunctionOutcome hub = MeshHub(settings, call);
  if (hub.build) return hub;
  RecordRefusal(planar.refusal);
  return planar;
}

// How a finished mesh stands against those floors.
struct Standing {
  double worst = 1.0;  // the smallest corner scaled Jacobian
  double wall = 0.0;   // the furthest node outside the channel, over its radius

  bool CellsMeet() const { return worst >= kSolverCorner; }
  bool WallMeets() const { return wall <= kSolverWall; }
  int FloorsMet() const { return static_cast<int>(CellsMeet()) + static_cast<int>(WallMeets()); }
  // More floors met wins; between meshes that each miss one, the one with
  // its wall on the channel, as a wall outside it is a channel the mould
  // does not have while a flat cell is only a harder cell for the solver;
  // then the better worst cell.
  bool Beats(const Standing& other) const {
    if (FloorsMet() != other.FloorsMet()) return FloorsMet() > other.FloorsMet();
    if (WallMeets() != other.WallMeets()) return WallMeets();
    return worst > other.worst;
  }
};

Standing StandingOf(const JunctionCall& call, const JunctionMesh& mesh) {
  const Channel channel = ChannelOf(call.center, call.farPoints, call.radii);
  Standing standing;
  for (const Element& e : mesh.elements) standing.worst = std::min(standing.worst, WorstCorner(mesh.nodes, e));
  for (const Point3& p : mesh.nodes) {
    double radius = 1.0;
    standing.wall = std::max(standing.wall, channel.Outside(p, &radius) / radius);
  }
  return standing;
}

// The mesh a caller gets of an outcome: exported, and with the improved
// construction finished (a hub's also kept apart, or refused). When the
// finishing pass found nothing to move, it has measured how the mesh
// stands, and `standing` is given that rather than measuring it again.
JunctionResult Finish(const JunctionCall& call, const JunctionOutcome& outcome,
                      std::optional<Standing>* standing = nullptr) {
  JunctionResult result;
  result.refusal = outcome.refusal;
  if (!outcome.build) return result;
  JunctionMesh& mesh = result.mesh;
  outcome.build->Export(mesh.nodes, mesh.elements);
  mesh.farSections = outcome.farSections;
  mesh.nodesBeforeMerge = outcome.nodesBeforeMerge;
  mesh.mergeTolerance = outcome.mergeTol;
  if (call.construction != Construction::Improved) return result;
  ImproveReport improved;
  const std::vector<Point3> swept = Improve(call, mesh, outcome.hub ? kHubSmoothing : Smoothing{}, improved);
  if (outcome.hub && !KeptApart(mesh, swept)) {
    result.mesh = JunctionMesh{};
    result.refusal = JunctionRefusal{};
    result.refusal.reason = Refusal::UnsoundResult;
    return result;
  }
  if (standing && !improved.moved) *standing = Standing{improved.worstBefore, improved.wallBefore};
  return result;
}

// A finished mesh and how it stands, measured once.
struct Finished {
  JunctionResult result;
  Standing standing;
};

Finished FinishAndMeasure(const JunctionCall& call, const JunctionOutcome& outcome) {
  std::optional<Standing> measured;
  Finished finished{Finish(call, outcome, &measured), {}};
  if (finished.result.ok()) finished.standing = measured ? *measured : StandingOf(call, finished.result.mesh);
  return finished;
}

// A hub whose folds were undone near the junction and that misses a
// solver's floors, or comes apart in the finishing pass, is swept again
// with every fold spread over its whole branch, and the better kept.
// Undone near the junction, the folds leave far fewer poor cells, but a
// section that crowds its nodes by angle on a steep face can go nearly flat
// a few radii out, where the spread fold kept it from doing so, and the
// finishing pass does not always recover from that.
Finished FinishHub(const JunctionSettings& settings, const JunctionCall& call, const JunctionOutcome& outcome) {
  Finished gathered = FinishAndMeasure(call, outcome);
  if (!outcome.foldsGathered || (gathered.result.ok() && gathered.standing.FloorsMet() == 2)) return gathered;
  Finished spread = FinishAndMeasure(call, MeshHub(settings, call, false));
  if (spread.result.ok() && (!gathered.result.ok() || spread.standing.Beats(gathered.standing))) return spread;
  return gathered;
}

}  // namespace

JunctionResult MeshJunction(const JunctionInput& input, const JunctionOptions& options) {
  const KeepRecord keep;
  const Precision precision = options.singlePrecisionPoints ? Precision::Single : Precision::Double;
  const JunctionSettings settings = SettingsOf(input.section);
  JunctionCall call =
      CallOf(input, precision, options.asConstructed ? Construction::AsConstructed : Construction::Improved);
  call.memoryLimit = options.memoryLimit;
  if (call.construction == Construction::AsConstructed)
    return Finish(call, input.farPoints.size() == 2 ? MeshBend(settings, call) : MeshNWay(settings, call));
  if (input.farPoints.size() == 2) {
    // Each construction is tried while the best so far misses a floor, and
    // the best kept. Near the opening where the mitre gives way to the
    // corner (60 degrees) either may make the better cells: the mitre's last
    // layers lean steeply there, but the corner folds tighter still. A sharp
    // bend, whose runners overlap for radii before they part, is fanned
    // round the crease where their walls cross: with the rings of its long
    // sections drawn out to the wall, then spaced evenly.
    Finished best = FinishAndMeasure(call, MeshBend(settings, call));
    if (!best.result.ok()) return std::move(best.result);
    const auto consider = [&](Finished candidate) {
      if (!candidate.result.ok()) return false;
      if (candidate.standing.Beats(best.standing)) best = std::move(candidate);
      return true;
    };
    if (best.standing.FloorsMet() < 2) consider(FinishAndMeasure(call, MeshOtherBend(settings, call)));
    for (const bool pullRings : {true, false})
      if (best.standing.FloorsMet() == 2 || !consider(FinishAndMeasure(call, MeshHairpin(settings, call, pullRings))))
        break;
    return std::move(best.result);
  }

  // The planar construction is the cheaper and, where it meets a solver's
  // floors, the one kept. Where it does not (many runners close together,
  // sections leaning out of the channel to give way to their neighbours),
  // it is swept again with every branch's lean gathered near the junction,
  // and the hub, whose walls lie on the channel by construction, is tried
  // too; the best is kept, and the cost of more junctions falls only on
  // those that need them. Gathered, a long branch between close neighbours
  // is no longer sheared all the way out, but its last layer turns from
  // square to leaning at once: over the census that bettered the poorer
  // junctions and cost the better ones a little, so it is a second try and
  // not the first.
  const JunctionOutcome first = MeshImprovedNWay(settings, call);
  const bool planar = first.build && !first.hub;
  if (first.hub) return std::move(FinishHub(settings, call, first).result);
  Finished best = FinishAndMeasure(call, first);
  if (!planar || !best.result.ok() || best.standing.FloorsMet() == 2) return std::move(best.result);
  Finished gathered = FinishAndMeasure(call, MeshNWay(settings, call, true));
  if (gathered.result.ok() && gathered.standing.Beats(best.standing)) best = std::move(gathered);
  if (best.standing.FloorsMet() == 2) return std::move(best.result);
  Finished hub = FinishHub(settings, call, MeshHub(settings, call));
  if (hub.result.ok() && hub.standing.Beats(best.standing)) return std::move(hub.result);
  return std::move(best.result);
}

std::vector<double> RunnerLengths(const Point3& center, const std::vector<Point3>& farPoints,
                                  const std::vector<double>& radii, int marginA, int marginB) {
  if (marginB == 0 || radii.size() < farPoints.size()) return {};
  // Row 0 is the centre, rows 1..n the far points, as ComputeRunnerLengths reads them.
  const size_t n = farPoints.size();
  std::vector<double> points(3 * (n + 1)), radius(n + 1, 0.0), length(n + 1, 0.0);
  std::copy(center.begin(), center.end(), points.begin());
  for (size_t i = 0; i < n; ++i) {
    std::copy(farPoints[i].begin(), farPoints[i].end(), points.begin() + static_cast<std::ptrdiff_t>(3 * (i + 1)));
    radius[i + 1] = radii[i];
  }
  ComputeRunnerLengths(static_cast<int>(n + 1), reinterpret_cast<const double(*)[3]>(points.data()),
                       radius.data(), marginA, length.data(), marginB);
  return std::vector<double>(length.begin() + 1, length.end());
}

JunctionRefusal CheckCrossSection(const CrossSection& section) {
  const KeepRecord keep;
  ClearRefusal();
  if (CheckShares(section.innerShare, section.outerShare)) {
    const double ratio = section.innerShare / (section.innerShare + section.outerShare);
    CheckSection(section.firstRing, section.innerLayers, section.outerLayers, ratio);
  }
  return LastJunctionRefusal();
}

SectionPattern MakeSectionPattern(const CrossSection& section) {
  if (CheckCrossSection(section).reason != Refusal::None) return {};
  const int f = section.firstRing;
  const int c = static_cast<int>(section.innerLayers.size()) - 1;
  const int b = std::max(static_cast<int>(section.outerLayers.size()) - 1, 0);
  const double rho = section.innerShare / (section.innerShare + section.outerShare);
  const RingAngles angles(f, c);
  SectionPattern pattern;
  // As the far-end section of a branch places them, at radius 1.
  pattern.places.push_back({0.0, 0.0});
  for (int i = 1; i <= c; ++i) {
    const double r = rho * section.innerLayers[static_cast<size_t>(i)];
    for (int j = 0; j < i * f; ++j) pattern.places.push_back({r * angles.Cos(i, j), r * angles.Sin(i, j)});
  }
  for (int k = 1; k <= b; ++k) {
    const double r = rho + (1.0 - rho) * section.outerLayers[static_cast<size_t>(k)];
    for (int j = 0; j < f * c; ++j) pattern.places.push_back({r * angles.Cos(c, j), r * angles.Sin(c, j)});
  }
  const std::vector<SectionFace> faces = SectionFaces(f, c, b);
  for (size_t row = 1; row < faces.size(); ++row) {
    const SectionFace& face = faces[row];
    const bool triangle = face[3] == face[2];
    pattern.faces.push_back({face[0] - 1, face[1] - 1, face[2] - 1, triangle ? -1 : face[3] - 1});
  }
  return pattern;
}

}  // namespace vela
