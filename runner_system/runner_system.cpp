// MeshRunnerSystem: plan the network, mesh its junctions and bends, sweep
// the runners between them, and find the boundary with its patches.

#include "system_detail.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

namespace vela::system {
namespace {

using namespace detail;

// What the runner sweeps work with: every section known so far, by runner
// end for the junctions and bends, by point for open ends and points the
// runner passes straight through.
class RunnerSweeps {
public:
  RunnerSweeps(const RunnerNetwork& network, const NetworkPlan& plan, SystemMesh& mesh)
      : m_network(network), m_plan(plan), m_mesh(mesh), m_atPoint(plan.points.size()),
        m_atEnd(network.runners.size()) {}

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

  std::optional<SystemRefusal> SweepAll() {
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < m_network.runners.size(); ++i) pending.push_back(i);
    while (!pending.empty()) {
      std::vector<std::size_t> left;
      for (std::size_t runner : pending) {
        if (!Known(runner, 0) && !Known(runner, 1)) {
          left.push_back(runner);
          continue;
        }
        if (auto refusal = Sweep(runner)) return refusal;
        if (m_progress) m_progress(++m_swept);
      }
      if (left.size() == pending.size()) Seed(left.front());  // no section to start from anywhere: a plain one
      pending = std::move(left);
    }
    return std::nullopt;
  }

  // Room for what the sweeps will add, so that half a million elements are
  // not copied again and again as the arrays grow: every runner's layers of
  // one section's faces, a layer more for rounding.
  void Reserve() {
    const Section& section = m_plan.reference;
    std::size_t layers = 0;
    for (std::size_t runner = 0; runner < m_network.runners.size(); ++runner) {
      const double gap = End(runner, 0).length - Reach(runner, 0) - Reach(runner, 1);
      layers += static_cast<std::size_t>(std::max(0.0, gap / m_network.axialSize)) + 2;
    }
    m_mesh.elements.reserve(m_mesh.elements.size() + layers * section.faces.size());
    m_mesh.nodes.reserve(m_mesh.nodes.size() + layers * section.nodes.size());
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
  // How far the region at an end reaches along the runner: 0 at an open end
  // or a point passed straight through.
  double Reach(std::size_t runner, int slot) const {
    const PointKind kind = PointOf(runner, slot).kind;
    return kind == PointKind::Junction || kind == PointKind::Bend ? End(runner, slot).extent : 0.0;
  }

  // Where a point the runner passes straight through mitres its section: the
  // plane halfway between the runner arriving and the other leaving.
  std::optional<Vec3> Mitre(std::size_t runner, int slot) const {
    const PlannedPoint& point = PointOf(runner, slot);
    if (point.kind != PointKind::Straight) return std::nullopt;
    const RunnerEnd& here = End(runner, slot);
    const RunnerEnd& other = point.ends[0].runner == static_cast<int>(runner) ? point.ends[1] : point.ends[0];
    return Unit(Sub(other.direction, here.direction));
  }

  // A section placed where none is known yet, from `like`.
  Section Place(const Section& like, std::size_t runner, int slot, const Vec3& axis) {
    const std::optional<Vec3> mitre = Mitre(runner, slot);
    return PlaceSection(like, PointOf(runner, slot).at, axis, End(runner, slot).radiusHere,
                        mitre ? &*mitre : nullptr, m_mesh);
  }

  void Seed(std::size_t runner) { Slot(runner, 0) = Place(m_plan.reference, runner, 0, End(runner, 0).direction); }

  std::optional<SystemRefusal> Sweep(std::size_t runner) {
    const int start = Known(runner, 0) ? 0 : 1;
    const int finish = 1 - start;
    const Section from = *Slot(runner, start);
    SectionJoin join;
    if (Known(runner, finish)) {
      join = JoinSections(from, *Slot(runner, finish), m_plan.rings);
      if (join.to.empty())
        return SystemRefusal{"section-mismatch", "runner " + Name(runner) + ": the sections at its ends do not match",
                             {}, Name(runner), Refusal::None};
    } else {
      const Vec3 axis = Unit(Sub(PointOf(runner, finish).at, from.origin));
      Slot(runner, finish) = Place(from, runner, finish, axis);
      for (std::size_t k = 0; k < from.nodes.size(); ++k) join.to.push_back(static_cast<int>(k));
    }
    const Section& to = *Slot(runner, finish);
    const double gap = Norm(Sub(to.origin, from.origin));
    const int layers = LayerCount(gap, m_network.axialSize);
    const std::size_t firstElement = m_mesh.elements.size();
    m_mesh.regions.push_back({RegionKind::Runner, "runner " + Name(runner)});
    SweepRunner(from, to, join, layers, static_cast<int>(m_mesh.regions.size()) - 1, m_mesh,
                m_regionFaces);
    if (!AllPositive(m_mesh, firstElement))
      return SystemRefusal{"runner-inverted", "runner " + Name(runner) + ": its sweep turns an element inside out",
                           {}, Name(runner), Refusal::None};
    return std::nullopt;
  }

  std::string Name(std::size_t runner) const {
    return m_network.runners[runner].from + "-" + m_network.runners[runner].to;
  }

public:
  // The boundary faces of every region, numbered in the whole mesh.
  std::vector<std::vector<int>> m_regionFaces;
  // Told how many runners are swept so far; may be empty.
  std::function<void(int)> m_progress;

private:
  const RunnerNetwork& m_network;
  const NetworkPlan& m_plan;
  SystemMesh& m_mesh;
  int m_swept = 0;
  std::vector<std::optional<Section>> m_atPoint;
  std::vector<std::array<std::optional<Section>, 2>> m_atEnd;
};

SystemOutcome Refused(SystemRefusal refusal) {
  SystemOutcome outcome;
  outcome.refusal = std::move(refusal);
  return outcome;
}

// The junctions and bends go first, in point order, each as its own region.
void AddRegions(const NetworkPlan& plan, const std::vector<RegionPiece>& pieces, SystemMesh& mesh,
                RunnerSweeps& sweeps, SystemCounts& counts) {
  for (const RegionPiece& piece : pieces) {
    const PlannedPoint& point = plan.points[static_cast<std::size_t>(piece.point)];
    const bool junction = point.kind == PointKind::Junction;
    (junction ? counts.junctions : counts.bends) += 1;
    mesh.regions.push_back({junction ? RegionKind::Junction : RegionKind::Bend,
                            (junction ? "junction at " : "bend at ") + point.name});
    const int region = static_cast<int>(mesh.regions.size()) - 1;
    const int offset = static_cast<int>(mesh.nodes.size());
    mesh.nodes.insert(mesh.nodes.end(), piece.mesh.nodes.begin(), piece.mesh.nodes.end());
    for (SystemElement element : piece.mesh.elements) {
      for (int k = 0; k < element.corners; ++k) element.nodes[static_cast<std::size_t>(k)] += offset;
      element.region = region;
      mesh.elements.push_back(element);
    }
    sweeps.AddRegionSections(piece, offset);
    for (std::vector<int> face : piece.boundary) {
      for (int& node : face) node += offset;
      sweeps.m_regionFaces.push_back(std::move(face));
    }
  }
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

  SystemOutcome outcome;
  SystemMesh& mesh = outcome.mesh;
  RunnerSweeps sweeps(network, plan, mesh);
  AddRegions(plan, pieces, mesh, sweeps, outcome.counts);
  if (options.progress) {
    const int regions = outcome.counts.junctions + outcome.counts.bends;
    sweeps.m_progress = [&options, regions, runners](int swept) {
      options.progress(regions + swept, regions + runners);
    };
  }
  pieces.clear();
  sweeps.Reserve();
  if (auto refusal = sweeps.SweepAll()) return Refused(*refusal);
  outcome.counts.runners = static_cast<int>(network.runners.size());

  std::vector<std::vector<int>> endNodes;
  mesh.patches.push_back("wall");
  sweeps.Ends(endNodes, mesh.patches);
  mesh.faces = FindBoundary(sweeps.m_regionFaces, endNodes);
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
