#include "junction_call.h"

#include <algorithm>
#include <unistd.h>
#include <cmath>

namespace vela::host {

namespace {

ON_3fPoint ToFloat(const std::array<double, 3>& p) {
  return ON_3fPoint(static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]));
}

CArray<double, double> ToArray(const std::vector<double>& values) {
  CArray<double, double> out;
  for (double v : values) out.Add(v);
  return out;
}

// The junction's lists as the library takes them.
struct Lists {
  explicit Lists(const io::JunctionFile& junction)
      : inner(ToArray(junction.innerLayers)),
        outer(ToArray(junction.outerLayers)),
        radii(ToArray(junction.radii)) {
    for (const auto& p : junction.farPoints) far.Add(ToFloat(p));
  }
  CArray<double, double> inner, outer, radii;
  CArray<ON_3fPoint, ON_3fPoint> far;
};

// Which radius of each runner sizes its length: the far end's (what
// `vela-mesh length` reports), or the larger of the two, which keeps a
// runner widening outwards clear of its neighbours where its far section
// now sits.
enum class RadiusAt { FarEnd, Larger };

std::vector<double> Lengths(const io::JunctionFile& junction, RadiusAt end) {
  if (junction.margin[1] == 0) return {};
  CVelaRunnerMapping mapper;
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii, lengths;
  for (size_t i = 0; i < junction.farPoints.size(); ++i) {
    far.Add(ToFloat(junction.farPoints[i]));
    const double farEnd = junction.radii[2 * i], junctionEnd = junction.radii[2 * i + 1];
    radii.Add(end == RadiusAt::FarEnd ? farEnd : std::max(farEnd, junctionEnd));
  }
  lengths.SetSize(far.GetSize());
  mapper.RunnerLength(ToFloat(junction.center), &far, &radii, junction.margin[0], &lengths,
                      junction.margin[1]);
  std::vector<double> out;
  for (int i = 0; i < lengths.GetSize(); ++i) out.push_back(lengths.GetAt(i));
  return out;
}

bool NeedsPlacing(const io::JunctionFile& junction) {
  return junction.extent == io::JunctionFile::Extent::RunnerLength;
}

bool IsBend(const io::JunctionFile& junction, Call call) {
  return call == Call::Bend || (call == Call::ByRunnerCount && junction.IsBend());
}

}  // namespace

io::JunctionFile PlaceFarPoints(const io::JunctionFile& junction) {
  io::JunctionFile placed = junction;
  placed.extent = io::JunctionFile::Extent::AsGiven;
  if (!NeedsPlacing(junction)) return placed;
  const std::vector<double> lengths = Lengths(junction, RadiusAt::Larger);
  for (size_t i = 0; i < lengths.size(); ++i) {
    std::array<double, 3>& far = placed.farPoints[i];
    const std::array<double, 3> d{far[0] - junction.center[0], far[1] - junction.center[1],
                                  far[2] - junction.center[2]};
    const double distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(distance > 0)) continue;
    for (size_t k = 0; k < 3; ++k) far[k] = junction.center[k] + d[k] * (lengths[i] / distance);
  }
  return placed;
}

CallResult MeshJunction(const io::JunctionFile& junction, CVela_SolidMesh& mesh,
                        CVelaRunnerMapping& mapper, Call call) {
  if (NeedsPlacing(junction)) return MeshJunction(PlaceFarPoints(junction), mesh, mapper, call);
  const Lists lists(junction);
  CallResult out;
  // The setters keep no refusal record; only a negative count fails here.
  if (!mapper.SetFirstCircleNodeCount(junction.firstCircleNodes)) {
    out.refusal.reason = Refusal::FirstRingTooSmall;
    return out;
  }
  mapper.SetIOBoundaryLayer(&lists.inner, &lists.outer);
  const ON_3fPoint center = ToFloat(junction.center);
  if (IsBend(junction, call)) {
    out.ok = mapper.TwoConnectRunner(center, &lists.far, &lists.radii, junction.innerShare,
                                     junction.outerShare, &mesh);
  } else {
    out.farNodes.resize(junction.farPoints.size());
    // A buffer even for no runners: the library takes a null output as a fault.
    ON_3fPoint none;
    out.ok = mapper.NConnectRunner(center, &lists.far, &lists.radii, junction.innerShare,
                                   junction.outerShare, &mesh,
                                   out.farNodes.empty() ? &none : out.farNodes.data());
  }
  out.refusal = LastJunctionRefusal();
  return out;
}

CallResult MeshJunction(const io::JunctionFile& junction, CVela_SolidMesh& mesh, Call call) {
  CVelaRunnerMapping mapper;
  return MeshJunction(junction, mesh, mapper, call);
}

double DefaultMemoryLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0.0;
  return 0.5 * static_cast<double>(pages) * static_cast<double>(pageSize);
}

JunctionInput InputOf(const io::JunctionFile& file) {
  const io::JunctionFile junction = PlaceFarPoints(file);
  JunctionInput input;
  input.center = junction.center;
  input.farPoints = junction.farPoints;
  input.radii = junction.radii;
  input.section.firstRing = junction.firstCircleNodes;
  input.section.innerLayers = junction.innerLayers;
  input.section.outerLayers = junction.outerLayers;
  input.section.innerShare = junction.innerShare;
  input.section.outerShare = junction.outerShare;
  return input;
}

JunctionResult MeshValue(const io::JunctionFile& junction, const JunctionOptions& options) {
  return vela::MeshJunction(InputOf(junction), options);
}

std::vector<Point3> FarNodes(const io::JunctionFile& junction, const JunctionMesh& mesh) {
  // The outermost ring, the inner disc's last ring or the last boundary
  // layer, carries C*F nodes and closes the section.
  const size_t ring = (junction.innerLayers.size() - 1) * static_cast<size_t>(junction.firstCircleNodes);
  std::vector<Point3> out;
  for (const std::vector<int>& section : mesh.farSections)
    out.push_back(mesh.nodes[static_cast<size_t>(section[section.size() - ring])]);
  return out;
}

std::vector<double> RunnerLengths(const io::JunctionFile& junction) {
  return Lengths(junction, RadiusAt::FarEnd);
}

}  // namespace vela::host
