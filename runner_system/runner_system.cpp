// MeshRunnerSystem: plan the network, mesh its junctions and bends, sweep
// the runners between them, and find the boundary with its patches.

#include "system_detail.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace vela::system {
namespace {

using namespace detail;

// A runner's sweep as planned: the sections it runs between, how their
// nodes join, and where its nodes, elements and boundary faces go in the
// system's arrays.
struct SweepJob {
  std::size_t runner = 0;
  const Section* from = nullptr;
  const Section* to = nullptr;
  SectionJoin join;
  int layers = 1;
  int region = 0;
  std::size_t firstNode = 0;
  std::size_t firstElement = 0;
  std::size_t firstFace = 0;
  enum class Outcome { Swept, Inverted, Mismatch } outcome = Outcome::Swept;
};

// Where everything goes: the cursors of the nodes, elements and boundary
// faces handed out so far.
struct Layout {
  std::size_t nodes = 0;
  std::size_t elements = 0;
  std::size_t faces = 0;
};

SystemRefusal TooLarge(const std::string& what) {
  SystemRefusal refusal;
  refusal.reason = "too-large";
  refusal.message = "the system has more " + what + " than an int numbers";
  return refusal;
}

// The runner sweeps, planned in the order in which each finds a section to
// start from: every section known so far, by runner end for the junctions
// and bends, by point for open ends and points the runner passes straight
// through. The plan fixes every number the sweeps give, so that they can
// then run in any order, on any thread, and give the mesh a sweep one after
// the other would.
class SweepPlan {
public:
  SweepPlan(const RunnerNetwork& network, const NetworkPlan& plan, SystemMesh& mesh)
      : m_network(network), m_plan(plan), m_mesh(mesh), m_atPoint(plan.points.size()),
        m_atEnd(network.runners.size()), m_rimEdges(RimEdgeCount(plan.reference.faces)) {}

  // The far-end sections of a meshed junction or bend, renumbered by offset.
  void AddRegionSections(const RegionPiece& piece, int offset) {
    const PlannedPoint& point = m_plan.points[static_cast<std::size_t>(piece.point)];
    for (std::size_t e = 0; e < point.ends.size(); ++e) {
      Section section = piece.farSections[e];
      for (int& node : section.nodes) node += offset;
      const RunnerEnd& end = point.ends[e];
      m_atEnd[static_cast<std::size_t>(end.runner)][end.atFrom ? 0 : 1] = std::move(section);
    }
  }

  // Plans every sweep, numbering from where layout stands. A refusal ends
  // the plan where it was found; the sweeps planned before it are kept, as
  // one of them may turn out inverted, which a sweep in turn would have
  // found first.
  std::optional<SystemRefusal> PlanAll(Layout& layout) {
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < m_network.runners.size(); ++i) pending.push_back(i);
    while (!pending.empty()) {
      std::vector<std::size_t> left;
      for (std::size_t runner : pending) {
        if (!Known(runner, 0) && !Known(runner, 1)) {
          left.push_back(runner);
          continue;
        }
        if (auto refusal = PlanSweep(runner, layout)) return refusal;
      }
      if (left.size() == pending.size()) {  // no section to start from anywhere: a plain one
        if (auto refusal = Seed(left.front(), layout)) return refusal;
      }
      pending = std::move(left);
    }
    return std::nullopt;
  }

  // The nodes of every open end's section, in point order, with the patch names.
  void Ends(std::vector<std::vector<int>>& nodes, std::vector<std::string>& names) const {
    for (std::size_t p = 0; p < m_plan.points.size(); ++p) {
      const PlannedPoint& point = m_plan.points[p];
      if (point.kind != PointKind::End) continue;
      std::string name = "end-" + point.name;
      for (const auto& [at, patch] : m_network.endNames)
        if (at == point.name) name = patch;
      names.push_back(name);
      nodes.push_back(m_atPoint[p]->nodes);
    }
  }

  // Numbers the sections, where regions meet, at each of their nodes.
  void MarkSections(std::vector<int>& sectionOf) const {
    int next = 0;
    auto mark = [&](const std::optional<Section>& section) {
      if (!section) return;
      for (const int node : section->nodes) sectionOf[static_cast<std::size_t>(node)] = next;
      ++next;
    };
    for (const auto& section : m_atPoint) mark(section);
    for (const auto& ends : m_atEnd)
      for (const auto& section : ends) mark(section);
  }

  // The places of the sections this plan placed, into the system's nodes.
  void WritePlaced() const {
    for (const Section* section : m_placed)
      for (std::size_t k = 0; k < section->nodes.size(); ++k)
        m_mesh.nodes[static_cast<std::size_t>(section->nodes[k])] = section->places[k];
  }

  // Sweeps one planned runner into the system's arrays.
  void Sweep(SweepJob& job, std::vector<BoundaryFace>& faces) const {
    if (RimEdgeCount(job.from->faces) != m_rimEdges) {
      job.outcome = SweepJob::Outcome::Mismatch;
      return;
    }
    const bool positive =
        SweepRunnerInto(*job.from, *job.to, job.join, job.layers, job.region, static_cast<int>(job.firstNode),
                        m_mesh.nodes.data() + job.firstNode, m_mesh.elements.data() + job.firstElement,
                        faces.data() + job.firstFace);
    job.outcome = positive ? SweepJob::Outcome::Swept : SweepJob::Outcome::Inverted;
  }

  SystemRefusal Mismatch(std::size_t runner) const {
    return SystemRefusal{"section-mismatch", "runner " + Name(runner) + ": the sections at its ends do not match",
                         {}, Name(runner), Refusal::None};
  }
  SystemRefusal Inverted(std::size_t runner) const {
    return SystemRefusal{"runner-inverted", "runner " + Name(runner) + ": its sweep turns an element inside out",
                         {}, Name(runner), Refusal::None};
  }

  std::vector<SweepJob> m_jobs;

private:
  const RunnerEnd& End(std::size_t runner, int slot) const {
    const auto [p, e] = m_plan.runnerEnds[runner][static_cast<std::size_t>(slot)];
    return m_plan.points[static_cast<std::size_t>(p)].ends[static_cast<std::size_t>(e)];
  }
  const PlannedPoint& PointOf(std::size_t runner, int slot) const {
    return m_plan.points[static_cast<std::size_t>(m_plan.runnerEnds[runner][static_cast<std::size_t>(slot)].first)];
  }
  std::optional<Section>& Slot(std::size_t runner, int slot) {
    const PlannedPoint& point = PointOf(runner, slot);
    if (point.kind == PointKind::Junction || point.kind == PointKind::Bend)
      return m_atEnd[runner][static_cast<std::size_t>(slot)];
    return m_atPoint[static_cast<std::size_t>(m_plan.runnerEnds[runner][static_cast<std::size_t>(slot)].first)];
  }
  bool Known(std::size_t runner, int slot) { return Slot(runner, slot).has_value(); }

  // Where a point the runner passes straight through mitres its section: the
  // plane halfway between the runner arriving and the other leaving.
  std::optional<Vec3> Mitre(std::size_t runner, int slot) const {
    const PlannedPoint& point = PointOf(runner, slot);
    if (point.kind != PointKind::Straight) return std::nullopt;
    const RunnerEnd& here = End(runner, slot);
    const RunnerEnd& other = point.ends[0].runner == static_cast<int>(runner) ? point.ends[1] : point.ends[0];
    return Unit(Sub(other.direction, here.direction));
  }

  // A section placed where none is known yet, from `like`, its nodes next in
  // the system's numbering.
  std::optional<SystemRefusal> Place(const Section& like, std::size_t runner, int slot, const Vec3& axis,
                                     Layout& layout) {
    if (layout.nodes + like.places.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
      return TooLarge("nodes");
    const std::optional<Vec3> mitre = Mitre(runner, slot);
    int next = static_cast<int>(layout.nodes);
    std::optional<Section>& placed = Slot(runner, slot);
    placed = PlaceSection(like, PointOf(runner, slot).at, axis, End(runner, slot).radiusHere,
                          mitre ? &*mitre : nullptr, next);
    layout.nodes = static_cast<std::size_t>(next);
    m_placed.push_back(&*placed);
    return std::nullopt;
  }

  std::optional<SystemRefusal> Seed(std::size_t runner, Layout& layout) {
    return Place(m_plan.reference, runner, 0, End(runner, 0).direction, layout);
  }

  std::optional<SystemRefusal> PlanSweep(std::size_t runner, Layout& layout) {
    const int start = Known(runner, 0) ? 0 : 1;
    const int finish = 1 - start;
    SweepJob job;
    job.runner = runner;
    job.from = &*Slot(runner, start);
    if (Known(runner, finish)) {
      job.join = JoinSections(*job.from, *Slot(runner, finish), m_plan.rings);
      if (job.join.to.empty()) return Mismatch(runner);
    } else {
      const Vec3 axis = Unit(Sub(PointOf(runner, finish).at, job.from->origin));
      if (auto refusal = Place(*job.from, runner, finish, axis, layout)) return refusal;
      for (std::size_t k = 0; k < job.from->nodes.size(); ++k) job.join.to.push_back(static_cast<int>(k));
    }
    job.to = &*Slot(runner, finish);
    job.layers = LayerCount(Norm(Sub(job.to->origin, job.from->origin)), m_network.axialSize);
    m_mesh.regions.push_back({RegionKind::Runner, "runner " + Name(runner)});
    job.region = static_cast<int>(m_mesh.regions.size()) - 1;
    const SweepSize size = SizeOfSweep(*job.from, m_rimEdges, job.layers);
    job.firstNode = layout.nodes;
    job.firstElement = layout.elements;
    job.firstFace = layout.faces;
    layout.nodes += size.nodes;
    layout.elements += size.elements;
    layout.faces += size.faces;
    constexpr auto kMost = static_cast<std::size_t>(std::numeric_limits<int>::max());
    if (layout.nodes > kMost) return TooLarge("nodes");
    if (layout.elements > kMost) return TooLarge("elements");
    m_jobs.push_back(std::move(job));
    return std::nullopt;
  }

  std::string Name(std::size_t runner) const {
    return m_network.runners[runner].from + "-" + m_network.runners[runner].to;
  }

  const RunnerNetwork& m_network;
  const NetworkPlan& m_plan;
  SystemMesh& m_mesh;
  // Sized once and never resized: the jobs point into them.
  std::vector<std::optional<Section>> m_atPoint;
  std::vector<std::array<std::optional<Section>, 2>> m_atEnd;
  std::vector<const Section*> m_placed;
  std::size_t m_rimEdges = 0;
};

SystemOutcome Refused(SystemRefusal refusal) {
  SystemOutcome outcome;
  outcome.refusal = std::move(refusal);
  return outcome;
}

// Where each junction and bend goes: they come first, in point order, each
// as its own region.
struct PieceAt {
  std::size_t firstNode = 0;
  std::size_t firstElement = 0;
  std::size_t firstFace = 0;
  int region = 0;
};

std::optional<SystemRefusal> PlaceRegions(const NetworkPlan& plan, const std::vector<RegionPiece>& pieces,
                                          SystemMesh& mesh, SweepPlan& sweeps, SystemCounts& counts,
                                          std::vector<PieceAt>& at, Layout& layout) {
  for (const RegionPiece& piece : pieces) {
    const PlannedPoint& point = plan.points[static_cast<std::size_t>(piece.point)];
    const bool junction = point.kind == PointKind::Junction;
    (junction ? counts.junctions : counts.bends) += 1;
    mesh.regions.push_back({junction ? RegionKind::Junction : RegionKind::Bend,
                            (junction ? "junction at " : "bend at ") + point.name});
    at.push_back({layout.nodes, layout.elements, layout.faces, static_cast<int>(mesh.regions.size()) - 1});
    sweeps.AddRegionSections(piece, static_cast<int>(layout.nodes));
    layout.nodes += piece.nodes.size();
    layout.elements += piece.elements.size();
    layout.faces += piece.boundary.size();
    constexpr auto kMost = static_cast<std::size_t>(std::numeric_limits<int>::max());
    if (layout.nodes > kMost) return TooLarge("nodes");
    if (layout.elements > kMost) return TooLarge("elements");
  }
  return std::nullopt;
}

// A junction or bend copied into the system's arrays where PlaceRegions put it.
void WritePiece(const RegionPiece& piece, const PieceAt& at, SystemMesh& mesh, std::vector<BoundaryFace>& faces) {
  const int offset = static_cast<int>(at.firstNode);
  std::copy(piece.nodes.begin(), piece.nodes.end(), mesh.nodes.begin() + static_cast<std::ptrdiff_t>(at.firstNode));
  SystemElement* element = mesh.elements.data() + at.firstElement;
  for (const Element& given : piece.elements) {
    SystemElement row;
    row.corners = given.CornerCount();
    row.nodes = given.corners;
    for (int k = 0; k < row.corners; ++k) row.nodes[static_cast<std::size_t>(k)] += offset;
    row.region = at.region;
    *element++ = row;
  }
  BoundaryFace* face = faces.data() + at.firstFace;
  for (BoundaryFace row : piece.boundary) {
    for (int k = 0; k < row.corners; ++k) row.nodes[static_cast<std::size_t>(k)] += offset;
    *face++ = row;
  }
}

// Sizes v to count elements with the pages of its storage faulted in by the
// threads first, a share each: on a fresh array of hundreds of megabytes the
// page faults cost far more than writing the elements, and sizing the
// vector on this thread alone would take them one after another. Only the
// storage is touched before the vector is sized; the elements are then
// made over pages already there.
template <class T>
void SizeOnThreads(std::vector<T>& v, std::size_t count, int threads) {
  if (count <= v.size()) {
    v.resize(count);
    return;
  }
  v.reserve(count);
  // The storage past the elements there are, in shares of 4 MiB, a byte a page.
  unsigned char* const bytes = reinterpret_cast<unsigned char*>(v.data() + v.size());
  const std::size_t size = (count - v.size()) * sizeof(T);
  constexpr std::size_t kPage = 4096, kShare = std::size_t{1} << 22;
  RunTasks(threads, (size + kShare - 1) / kShare, [&](std::size_t task) {
    const std::size_t end = std::min(size, (task + 1) * kShare);
    for (std::size_t at = task * kShare; at < end; at += kPage) bytes[at] = 0;
  });
  v.resize(count);
}

}  // namespace

// Round figures put many gaps half way (a 21 mm gap at 2 mm), where the last
// bit of the arithmetic, which changes as the network is moved or turned,
// would decide; so a gap within a billionth of a layer of half way counts as
// half way, and half way rounds down.
int detail::LayerCount(double gap, double axialSize) {
  const double ratio = gap / axialSize;
  const double whole = std::floor(ratio);
  const double layers = ratio - whole > 0.5 + 1e-9 ? whole + 1 : whole;
  return static_cast<int>(std::max(1.0, std::min(layers, 1e9)));
}

SystemOutcome MeshRunnerSystem(const RunnerNetwork& network, const BuildOptions& options) {
  NetworkPlan plan;
  if (auto refusal = PlanNetwork(network, plan)) return Refused(*refusal);
  if (auto refusal = CheckSystemSize(network, plan, options.memoryLimit)) return Refused(*refusal);
  if (auto refusal = ReferenceSection(network.section, plan.reference, plan.rings)) return Refused(*refusal);
  // Progress counts the runners after the junctions and bends.
  const int runners = static_cast<int>(network.runners.size());
  BuildOptions regionOptions = options;
  if (options.progress)
    regionOptions.progress = [&](int done, int total) { options.progress(done, total + runners); };
  std::vector<RegionPiece> pieces;
  if (auto refusal = MeshRegions(plan, network.section, regionOptions, pieces)) return Refused(*refusal);

  // Every number first, on this thread: the regions in point order, then the
  // runners in the order the sweeps find their sections.
  SystemOutcome outcome;
  SystemMesh& mesh = outcome.mesh;
  SweepPlan sweeps(network, plan, mesh);
  std::vector<PieceAt> pieceAt;
  Layout layout;
  if (auto refusal = PlaceRegions(plan, pieces, mesh, sweeps, outcome.counts, pieceAt, layout))
    return Refused(*refusal);
  const std::optional<SystemRefusal> planRefusal = sweeps.PlanAll(layout);
  if (planRefusal && planRefusal->reason == "too-large") return Refused(*planRefusal);

  // Then the arrays at their final size, and every region written straight
  // into its place by whichever thread takes it.
  SizeOnThreads(mesh.nodes, layout.nodes, options.threads);
  SizeOnThreads(mesh.elements, layout.elements, options.threads);
  std::vector<BoundaryFace> regionFaces;
  SizeOnThreads(regionFaces, layout.faces, options.threads);
  sweeps.WritePlaced();
  const int regions = outcome.counts.junctions + outcome.counts.bends;
  std::vector<SweepJob>& jobs = sweeps.m_jobs;
  std::atomic<int> swept{0};
  RunTasks(
      options.threads, pieces.size() + jobs.size(),
      [&](std::size_t task) {
        if (task < pieces.size()) {
          WritePiece(pieces[task], pieceAt[task], mesh, regionFaces);
          return;
        }
        sweeps.Sweep(jobs[task - pieces.size()], regionFaces);
        ++swept;
      },
      [&](std::size_t task) {
        if (options.progress && task >= pieces.size()) options.progress(regions + swept.load(), regions + runners);
      });
  pieces.clear();
  // The refusal a sweep in turn would have met first.
  for (const SweepJob& job : jobs) {
    if (job.outcome == SweepJob::Outcome::Inverted) return Refused(sweeps.Inverted(job.runner));
    if (job.outcome == SweepJob::Outcome::Mismatch) return Refused(sweeps.Mismatch(job.runner));
  }
  if (planRefusal) return Refused(*planRefusal);
  if (options.progress) options.progress(regions + runners, regions + runners);
  outcome.counts.runners = runners;

  std::vector<std::vector<int>> endNodes;
  mesh.patches.push_back("wall");
  sweeps.Ends(endNodes, mesh.patches);
  std::vector<int> sectionOf(mesh.nodes.size(), -1);
  sweeps.MarkSections(sectionOf);
  mesh.faces = FindBoundary(regionFaces, endNodes, mesh.nodes.size(), &sectionOf);
  outcome.ok = true;
  return outcome;
}

void WriteSolidMesh(const SystemMesh& mesh, CVela_SolidMesh& out) {
  out.SetMeshSize(static_cast<int>(mesh.elements.size()), static_cast<int>(mesh.nodes.size()));
  for (std::size_t i = 0; i < mesh.nodes.size(); ++i)
    out.SetNodeCoord(static_cast<int>(i), mesh.nodes[i][0], mesh.nodes[i][1], mesh.nodes[i][2]);
  for (std::size_t i = 0; i < mesh.elements.size(); ++i) {
    const auto& n = mesh.elements[i].nodes;
    const int e = static_cast<int>(i);
    switch (mesh.elements[i].corners) {
      case 4: out.SetTetraElement(e, n[0], n[1], n[2], n[3]); break;
      case 5: out.SetPyramidElement(e, n[0], n[1], n[2], n[3], n[4]); break;
      case 6: out.SetPrismElement(e, n[0], n[1], n[2], n[3], n[4], n[5]); break;
      default: out.SetHexaElement(e, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]); break;
    }
  }
}

}  // namespace vela::system
