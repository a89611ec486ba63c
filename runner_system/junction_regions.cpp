// The junctions and bends of a network, meshed by the library on a few
// threads, and the far-end sections through which the runners join them.

#include "system_detail.h"

#include <VelaRunnerMapping.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <thread>

namespace vela::system::detail {
namespace {

// The host container the library writes a junction into.
class PieceCollector : public CVela_SolidMesh {
public:
  explicit PieceCollector(PieceMesh& mesh) : m_mesh(mesh) {}
  void SetMeshSize(int elementCount, int nodeCount) override {
    m_mesh.elements.assign(static_cast<std::size_t>(elementCount), SystemElement{});
    m_mesh.nodes.assign(static_cast<std::size_t>(nodeCount), Vec3{});
  }
  void SetTetraElement(int e, int n0, int n1, int n2, int n3) override { Set(e, {n0, n1, n2, n3}); }
  void SetPyramidElement(int e, int n0, int n1, int n2, int n3, int n4) override {
    Set(e, {n0, n1, n2, n3, n4});
  }
  void SetPrismElement(int e, int n0, int n1, int n2, int n3, int n4, int n5) override {
    Set(e, {n0, n1, n2, n3, n4, n5});
  }
  void SetHexaElement(int e, int n0, int n1, int n2, int n3, int n4, int n5, int n6, int n7) override {
    Set(e, {n0, n1, n2, n3, n4, n5, n6, n7});
  }
  int GetNodeCount() const override { return static_cast<int>(m_mesh.nodes.size()); }
  int GetElementCount() const override { return static_cast<int>(m_mesh.elements.size()); }
  void SetNodeCoord(int node, double x, double y, double z) override {
    m_mesh.nodes.at(static_cast<std::size_t>(node)) = {x, y, z};
  }

private:
  void Set(int e, std::initializer_list<int> corners) {
    SystemElement& element = m_mesh.elements.at(static_cast<std::size_t>(e));
    element.corners = static_cast<int>(corners.size());
    element.nodes.fill(-1);
    std::copy(corners.begin(), corners.end(), element.nodes.begin());
  }
  PieceMesh& m_mesh;
};

ON_3fPoint ToFloat(const Vec3& p) {
  return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
}
Vec3 ToDouble(const ON_3fPoint& p) { return {p.x, p.y, p.z}; }

// A mapper with the network's section settings.
void Configure(CVelaRunnerMapping& mapper, const SectionSettings& settings) {
  CArray<double, double> inner, outer;
  for (double v : settings.innerLayers) inner.Add(v);
  for (double v : settings.outerLayers) outer.Add(v);
  mapper.SetFirstCircleNodeCount(settings.firstCircleNodes);
  mapper.SetIOBoundaryLayer(&inner, &outer);
}

std::string LibraryReason() {
  const JunctionRefusal why = LastJunctionRefusal();
  return std::string(RefusalName(why.reason)) + " (" + RefusalDescription(why.reason) + ")";
}

// One junction or bend through the library. The far points sit at the
// regions' extents, with the radius each runner has there.
std::optional<SystemRefusal> MeshPoint(const PlannedPoint& point, const SectionSettings& settings,
                                       RegionPiece& piece) {
  CVelaRunnerMapping mapper;
  Configure(mapper, settings);
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii;
  for (const RunnerEnd& end : point.ends) {
    far.Add(ToFloat(Add(point.at, Scale(end.direction, end.extent))));
    radii.Add(end.RadiusAtExtent());
    radii.Add(end.radiusHere);
  }
  PieceCollector collector(piece.mesh);
  std::vector<ON_3fPoint> farNodes(point.ends.size());
  const bool ok =
      point.kind == PointKind::Junction
          ? mapper.NConnectRunner(ToFloat(point.at), &far, &radii, settings.innerShare,
                                  settings.outerShare, &collector, farNodes.data())
          : mapper.TwoConnectRunner(ToFloat(point.at), &far, &radii, settings.innerShare,
                                    settings.outerShare, &collector);
  const char* what = point.kind == PointKind::Junction ? "junction" : "bend";
  if (!ok) return SystemRefusal{"junction", std::string(what) + " at " + point.name + ": " + LibraryReason()};
  piece.boundary = BoundaryFaces(piece.mesh.elements);
  for (std::size_t i = 0; i < point.ends.size(); ++i) {
    const RunnerEnd& end = point.ends[i];
    Section section = FindFarSection(piece.mesh, piece.boundary, ToDouble(far[static_cast<int>(i)]),
                                     end.direction, end.RadiusAtExtent());
    if (section.faces.empty())
      return SystemRefusal{"section-mismatch", std::string(what) + " at " + point.name +
                                                   ": no far-end section towards runner " +
                                                   std::to_string(end.runner)};
    piece.farSections.push_back(std::move(section));
  }
  return std::nullopt;
}

}  // namespace

Section FindFarSection(const PieceMesh& mesh, const std::vector<std::vector<int>>& boundary,
                       const Vec3& farPoint, const Vec3& axis, double radius) {
  const double scale = std::max({std::fabs(farPoint[0]), std::fabs(farPoint[1]), std::fabs(farPoint[2]), radius});
  const double flat = 1e-4 * radius + 1e-6 * scale;
  auto inSection = [&](int node) {
    const Vec3 offset = Sub(mesh.nodes[static_cast<std::size_t>(node)], farPoint);
    return std::fabs(Dot(offset, axis)) <= flat && Norm(offset) <= 1.5 * radius;
  };
  Section section;
  section.origin = farPoint;
  section.axis = axis;
  section.radius = radius;
  std::map<int, int> local;
  for (const std::vector<int>& face : boundary) {
    if (!std::all_of(face.begin(), face.end(), inSection)) continue;
    SectionFace row;
    row.corners = static_cast<int>(face.size());
    for (std::size_t k = 0; k < face.size(); ++k) {
      const auto [it, added] = local.emplace(face[k], static_cast<int>(section.nodes.size()));
      if (added) {
        section.nodes.push_back(face[k]);
        section.places.push_back(mesh.nodes[static_cast<std::size_t>(face[k])]);
      }
      row.at[k] = it->second;
    }
    section.faces.push_back(row);
  }
  return section;
}

std::optional<SystemRefusal> ReferenceSection(const SectionSettings& settings, Section& out) {
  CVelaRunnerMapping mapper;
  Configure(mapper, settings);
  constexpr double kLength = 10.0;
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii;
  for (int i = 0; i < 3; ++i) {
    const double angle = 2.0943951023931953 * i;
    far.Add(ToFloat({kLength * std::cos(angle), kLength * std::sin(angle), 0.0}));
    radii.Add(1.0);
    radii.Add(1.0);
  }
  PieceMesh mesh;
  PieceCollector collector(mesh);
  ON_3fPoint farNodes[3];
  if (!mapper.NConnectRunner(ON_3fPoint(0, 0, 0), &far, &radii, settings.innerShare,
                             settings.outerShare, &collector, farNodes))
    return SystemRefusal{"settings", "the section settings are refused: " + LibraryReason()};
  out = FindFarSection(mesh, BoundaryFaces(mesh.elements), {kLength, 0, 0}, {1, 0, 0}, 1.0);
  // Turned so that +x becomes +z: (x, y, z) -> (y, z, x), then moved to the origin.
  for (Vec3& p : out.places) p = {p[1], p[2], p[0] - kLength};
  out.origin = {0, 0, 0};
  out.axis = {0, 0, 1};
  out.nodes.assign(out.places.size(), -1);
  if (out.faces.empty()) return SystemRefusal{"section-mismatch", "no section in the reference junction"};
  return std::nullopt;
}

std::optional<SystemRefusal> MeshRegions(const NetworkPlan& plan, const SectionSettings& settings,
                                         const BuildOptions& options, std::vector<RegionPiece>& out) {
  std::vector<int> points;
  for (std::size_t p = 0; p < plan.points.size(); ++p)
    if (plan.points[p].kind == PointKind::Junction || plan.points[p].kind == PointKind::Bend)
      points.push_back(static_cast<int>(p));
  const int total = static_cast<int>(points.size());
  out.assign(points.size(), RegionPiece{});
  std::vector<std::optional<SystemRefusal>> refusals(points.size());
  std::vector<std::exception_ptr> failures(points.size());
  std::atomic<int> next{0}, done{0};
  // Each worker takes the next point until none is left; the caller works too
  // and reports progress after each of its own. What a call throws travels
  // back to the caller's thread.
  auto work = [&](bool reports) {
    for (int i = next++; i < total; i = next++) {
      const auto k = static_cast<std::size_t>(i);
      out[k].point = points[k];
      try {
        refusals[k] = MeshPoint(plan.points[static_cast<std::size_t>(points[k])], settings, out[k]);
      } catch (...) {
        failures[k] = std::current_exception();
      }
      const int finished = ++done;
      if (reports && options.progress) options.progress(finished, total);
    }
  };
  int threads = options.threads > 0 ? options.threads
                                    : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::max(1, std::min(threads, total));
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work, false);
  work(true);
  for (std::thread& thread : pool) thread.join();
  if (options.progress && total > 0) options.progress(total, total);
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
  for (const auto& refusal : refusals)
    if (refusal) return refusal;
  return std::nullopt;
}

}  // namespace vela::system::detail
