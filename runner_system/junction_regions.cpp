// The junctions and bends of a network, meshed by the library on a few
// threads, and the far-end sections through which the runners join them.

#include "system_detail.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace vela::system::detail {
namespace {

// The network's name of the runner at end e of a point: "from-to".
std::string RunnerName(const NetworkPlan& plan, const PlannedPoint& point, int e) {
  if (e < 0 || e >= static_cast<int>(point.ends.size())) return {};
  const RunnerEnd& end = point.ends[static_cast<std::size_t>(e)];
  const std::string& other = plan.points[static_cast<std::size_t>(end.otherPoint)].name;
  return end.atFrom ? point.name + "-" + other : other + "-" + point.name;
}

// The name of the point at the other end of the runner at end e.
std::string OtherEnd(const NetworkPlan& plan, const PlannedPoint& point, int e) {
  if (e < 0 || e >= static_cast<int>(point.ends.size())) return {};
  return plan.points[static_cast<std::size_t>(point.ends[static_cast<std::size_t>(e)].otherPoint)].name;
}

// What the host can change to get past a refusal of the library, where a
// change of the network's points or radii is known to help; "" otherwise.
// A far point of the library's call lies on the runner towards the point at
// its other end, so moving that point moves the runner.
std::string FixFor(const NetworkPlan& plan, const PlannedPoint& point, const JunctionRefusal& why) {
  const std::string one = OtherEnd(plan, point, why.runner), other = OtherEnd(plan, point, why.otherRunner);
  switch (why.reason) {
    case Refusal::Elevation:
      if (one.empty()) return {};
      return "move " + one + " towards the plane of the other runners at " + point.name;
    case Refusal::NeighboursTooClose:
      if (one.empty() || other.empty()) return {};
      return "move " + one + " or " + other + " further round " + point.name;
    case Refusal::RadiusRatio:
      if (one.empty() || other.empty()) return {};
      return "narrow the runner towards " + one + " or widen the one towards " + other + " at " + point.name;
    case Refusal::BendOpening:
      return "move " + point.name + " off the line of its runners, or on it";
    case Refusal::RunnerOrder:
    case Refusal::NoPlane:
      return "spread the runners at " + point.name + " round it";
    default: return {};
  }
}

// The library's words number the runners as the call had them, in order
// around the point; the host knows them by name, so the line names them so,
// and says what to change where something is known to help.
SystemRefusal JunctionRefused(const NetworkPlan& plan, const PlannedPoint& point, const char* what,
                              const JunctionRefusal& why) {
  std::vector<std::string> names;
  for (std::size_t e = 0; e < point.ends.size(); ++e) names.push_back(RunnerName(plan, point, static_cast<int>(e)));
  std::string message =
      std::string(what) + " at " + point.name + ": " + RefusalName(why.reason) + ": " + RefusalMessage(why, names);
  const std::string fix = FixFor(plan, point, why);
  if (!fix.empty()) message += ": " + fix;
  SystemRefusal refusal;
  refusal.reason = "junction";
  refusal.message = message;
  refusal.point = point.name;
  refusal.runner = RunnerName(plan, point, why.runner);
  refusal.junctionReason = why.reason;
  refusal.value = why.value;
  refusal.limit = why.limit;
  refusal.unit = why.unit;
  return refusal;
}

// The section of a region's far end: its nodes as the library numbers them,
// and those of the region's boundary faces that use no other node, which
// face away from the region, along the runner.
std::optional<Section> FarSection(const std::vector<Vec3>& places, const std::vector<BoundaryFace>& boundary,
                                  const std::vector<int>& nodes) {
  Section section;
  std::unordered_map<int, int> local;
  for (const int node : nodes) {
    if (node < 0 || node >= static_cast<int>(places.size())) return std::nullopt;
    if (!local.emplace(node, static_cast<int>(section.nodes.size())).second) return std::nullopt;
    section.nodes.push_back(node);
    section.places.push_back(places[static_cast<std::size_t>(node)]);
  }
  for (const BoundaryFace& face : boundary) {
    SectionFace row;
    row.corners = face.corners;
    bool inside = true;
    for (std::size_t k = 0; k < static_cast<std::size_t>(face.corners) && inside; ++k) {
      const auto found = local.find(face.nodes[k]);
      inside = found != local.end();
      if (inside) row.at[k] = found->second;
    }
    if (inside) section.faces.push_back(row);
  }
  return section;
}

// How far from the section, along its axis, the centre of the nearest of
// the region's cells on it lies: each cell with a face of the section, from
// that face's centre. `mark` is scratch, a flag a node of the region, all
// clear before and after.
double NearestCellCentre(const std::vector<Vec3>& places, const std::vector<Element>& elements,
                         const Section& section, std::vector<char>& mark) {
  for (const int node : section.nodes) mark[static_cast<std::size_t>(node)] = 1;
  double nearest = std::numeric_limits<double>::infinity();
  for (const Element& element : elements) {
    const int corners = element.CornerCount();
    Vec3 centre{}, face{};
    int onFace = 0;
    for (int k = 0; k < corners; ++k) {
      const auto node = static_cast<std::size_t>(element.corners[static_cast<std::size_t>(k)]);
      centre = Add(centre, places[node]);
      if (mark[node]) {
        face = Add(face, places[node]);
        ++onFace;
      }
    }
    if (onFace < 3) continue;
    const double away = Dot(Sub(Scale(face, 1.0 / onFace), Scale(centre, 1.0 / corners)), section.axis);
    nearest = std::min(nearest, std::fabs(away));
  }
  for (const int node : section.nodes) mark[static_cast<std::size_t>(node)] = 0;
  return nearest;
}

// One junction or bend through the library. The far points sit at the
// regions' extents, with the radius each runner has there.
std::optional<SystemRefusal> MeshPoint(const NetworkPlan& plan, const PlannedPoint& point,
                                       const CrossSection& cross, bool asConstructed, RegionPiece& piece) {
  const JunctionInput input = RegionInput(point, cross);
  JunctionOptions how;
  how.asConstructed = asConstructed;
  JunctionResult result = MeshJunction(input, how);
  const char* what = point.kind == PointKind::Junction ? "junction" : "bend";
  if (!result.ok()) return JunctionRefused(plan, point, what, result.refusal);

  piece.nodes = std::move(result.mesh.nodes);
  piece.elements = std::move(result.mesh.elements);
  piece.boundary = BoundaryFaceRows(piece.elements);

  const std::size_t faceCount = plan.reference.faces.size();
  std::vector<char> mark(piece.nodes.size(), 0);
  for (std::size_t i = 0; i < point.ends.size(); ++i) {
    const RunnerEnd& end = point.ends[i];
    std::optional<Section> section;
    if (i < result.mesh.farSections.size() &&
        static_cast<int>(result.mesh.farSections[i].size()) == plan.rings.NodeCount())
      section = FarSection(piece.nodes, piece.boundary, result.mesh.farSections[i]);
    if (!section || section->faces.size() != faceCount) {
      SystemRefusal refusal;
      refusal.reason = "section-mismatch";
      refusal.point = point.name;
      refusal.runner = RunnerName(plan, point, static_cast<int>(i));
      refusal.message = std::string(what) + " at " + point.name + ": the far-end section towards runner " +
                        refusal.runner + " is not the network's section";
      return refusal;
    }
    section->origin = input.farPoints[i];
    section->axis = end.direction;
    section->radius = end.RadiusAtExtent();
    section->regionCell = NearestCellCentre(piece.nodes, piece.elements, *section, mark);
    piece.farSections.push_back(std::move(*section));
  }
  return std::nullopt;
}

}  // namespace

JunctionInput RegionInput(const PlannedPoint& point, const CrossSection& cross) {
  JunctionInput input;
  input.center = point.at;
  input.section = cross;
  for (const RunnerEnd& end : point.ends) {
    input.farPoints.push_back(Add(point.at, Scale(end.direction, end.extent)));
    input.radii.push_back(end.RadiusAtExtent());
    input.radii.push_back(end.radiusHere);
  }
  return input;
}

std::optional<SystemRefusal> MeshRegions(const NetworkPlan& plan, const SectionSettings& settings,
                                         const BuildOptions& options, std::vector<RegionPiece>& out) {
  const CrossSection cross = ToCrossSection(settings);
  std::vector<int> points;
  for (std::size_t p = 0; p < plan.points.size(); ++p)
    if (plan.points[p].kind == PointKind::Junction || plan.points[p].kind == PointKind::Bend)
      points.push_back(static_cast<int>(p));
  const int total = static_cast<int>(points.size());
  out.assign(points.size(), RegionPiece{});
  std::vector<std::optional<SystemRefusal>> refusals(points.size());
  std::atomic<int> done{0};
  // What a call throws travels back to the caller's thread; the caller
  // reports progress after each of its own.
  RunTasks(
      options.threads, points.size(),
      [&](std::size_t k) {
        out[k].point = points[k];
        refusals[k] = MeshPoint(plan, plan.points[static_cast<std::size_t>(points[k])], cross, options.asConstructed,
                                out[k]);
        ++done;
      },
      [&](std::size_t) {
        if (options.progress) options.progress(done.load(), total);
      });
  if (options.progress && total > 0) options.progress(total, total);
  for (const auto& refusal : refusals)
    if (refusal) return refusal;
  return std::nullopt;
}

void RunTasks(int threads, std::size_t tasks, const std::function<void(std::size_t)>& work,
              const std::function<void(std::size_t)>& caller) {
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = static_cast<int>(std::max<std::size_t>(1, std::min(static_cast<std::size_t>(threads), tasks)));
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  // Each thread takes the next task until none is left; after a failure the
  // rest are left undone, as the caller gets the exception rather than a mesh.
  std::atomic<bool> failed{false};
  auto run = [&](bool onCaller) {
    for (std::size_t task = next++; task < tasks && !failed.load(); task = next++) {
      try {
        work(task);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failureLock);
        if (!failure) failure = std::current_exception();
        failed = true;
      }
      if (onCaller && caller) caller(task);
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(threads) - 1);
  for (int t = 1; t < threads; ++t) pool.emplace_back(run, false);
  run(true);
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace vela::system::detail
