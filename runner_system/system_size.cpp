// How large a network's mesh will be, known before any of it is made: a
// typo in a ring count or an axial size must be refused in a moment, with
// the estimate, rather than found out when the machine runs out of memory.

#include "system_detail.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>

namespace vela::system::detail {
namespace {

using Measure = JunctionRefusal::Unit;

// What a node and an element of a runner's sweep cost over a whole run of
// vela-mesh system, which is what the bound is there to protect: the mesh,
// the host's copy of it, the boundary faces, the quality check's arrays and
// the writers' buffers. Fitted to the peak memory of an example system
// meshed finer (h8 at an axial size of 0.2: 231,302 nodes, 305,472
// elements, 272 MB), a little over.
constexpr double kBytesPerNode = 400.0;
constexpr double kBytesPerElement = 600.0;
// Node and element numbers are ints; half their range keeps the sums that
// run over them clear of overflow, as the library keeps its own.
constexpr double kMaxEntries = INT_MAX / 2;

std::string Bytes(double bytes) {
  std::ostringstream out;
  out.precision(3);
  if (bytes >= 1e9) out << bytes / 1e9 << " GB";
  else if (bytes >= 1e6) out << bytes / 1e6 << " MB";
  else if (bytes >= 1e3) out << bytes / 1e3 << " kB";
  else out << bytes << " bytes";
  return out.str();
}

std::string Count(double count) {
  std::ostringstream out;
  out.precision(4);
  out << count;
  return out.str();
}

SystemRefusal TooLarge(std::string message, double value, double limit, Measure unit) {
  SystemRefusal refusal;
  refusal.reason = "too-large";
  refusal.message = std::move(message);
  refusal.value = value;
  refusal.limit = limit;
  refusal.unit = unit;
  return refusal;
}

// The library's estimate of one junction or bend, in bytes: a call with a
// bound of one byte is refused by its estimate, which it reports, before it
// allocates anything. Nothing when the library refuses the junction for
// something else: meshing it will say why.
std::optional<JunctionRefusal> JunctionEstimate(const PlannedPoint& point, const CrossSection& cross) {
  JunctionOptions probe;
  probe.memoryLimit = 1.0;
  const JunctionResult result = MeshJunction(RegionInput(point, cross), probe);
  if (result.refusal.reason != Refusal::TooLarge) return std::nullopt;
  return result.refusal;
}

}  // namespace

SectionCount CountSection(const SectionSettings& settings) {
  // Inner ring k holds k first rings; the band out to it k first rings of
  // faces less one (triangles and quadrilaterals); each boundary layer
  // repeats the last inner ring, a quadrilateral per node.
  const double f = settings.firstCircleNodes;
  const double n = std::max<double>(0.0, static_cast<double>(settings.innerLayers.size()) - 1.0);
  const double m = std::max<double>(0.0, static_cast<double>(settings.outerLayers.size()) - 1.0);
  return {1.0 + f * n * (n + 1.0) / 2.0 + m * n * f, f * n * n + m * n * f};
}

std::optional<SystemRefusal> CheckSystemSize(const RunnerNetwork& network, const NetworkPlan& plan,
                                             double memoryLimit) {
  const SectionCount section = CountSection(network.section);
  double nodes = 0, elements = 0;
  for (std::size_t i = 0; i < network.runners.size(); ++i) {
    const auto& [from, to] = plan.runnerEnds[i];
    const RunnerEnd& a = plan.points[static_cast<std::size_t>(from.first)].ends[static_cast<std::size_t>(from.second)];
    const RunnerEnd& b = plan.points[static_cast<std::size_t>(to.first)].ends[static_cast<std::size_t>(to.second)];
    const auto reach = [&plan](const std::pair<int, int>& end, const RunnerEnd& e) {
      const PointKind kind = plan.points[static_cast<std::size_t>(end.first)].kind;
      return kind == PointKind::Junction || kind == PointKind::Bend ? e.extent : 0.0;
    };
    const double gap = a.length - reach(from, a) - reach(to, b);
    // As LayerCount, without its int: an axial size of 1e-9 must be
    // counted, not overflowed.
    const double layers = std::max(1.0, std::round(gap / network.axialSize));
    nodes += (layers + 1.0) * section.nodes;
    elements += layers * section.faces;
  }
  if (!(nodes <= kMaxEntries && elements <= kMaxEntries))
    return TooLarge("the runners need " + Count(std::max(nodes, elements)) + " nodes or elements, limit " +
                        Count(kMaxEntries) + "; check first_circle_nodes, inner_layers, outer_layers, axial_size",
                    std::max(nodes, elements), kMaxEntries, Measure::Count);
  double bytes = kBytesPerNode * nodes + kBytesPerElement * elements;
  if (memoryLimit <= 0.0) return std::nullopt;  // the library guards each junction's counts itself

  const CrossSection cross = ToCrossSection(network.section);
  for (const PlannedPoint& point : plan.points) {
    if (point.kind != PointKind::Junction && point.kind != PointKind::Bend) continue;
    const std::optional<JunctionRefusal> estimate = JunctionEstimate(point, cross);
    if (!estimate) continue;
    if (estimate->unit != Measure::Bytes) {  // more than an int numbers
      SystemRefusal refusal = TooLarge(std::string(point.kind == PointKind::Junction ? "junction" : "bend") +
                                           " at " + point.name + ": " + RefusalMessage(*estimate) +
                                           "; check first_circle_nodes, inner_layers, outer_layers",
                                       estimate->value, estimate->limit, estimate->unit);
      refusal.point = point.name;
      refusal.junctionReason = Refusal::TooLarge;
      return refusal;
    }
    bytes += estimate->value;
  }
  if (bytes > memoryLimit)
    return TooLarge("the system would take about " + Bytes(bytes) + " of memory, limit " + Bytes(memoryLimit) +
                        "; check first_circle_nodes, inner_layers, outer_layers, axial_size",
                    bytes, memoryLimit, Measure::Bytes);
  return std::nullopt;
}

}  // namespace vela::system::detail
