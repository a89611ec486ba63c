#include "junction_mesher.h"

#include "junction_boundary.h"
#include "junction_call.h"

#include "quality.h"

#include <algorithm>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace vela::cli {

MeshedJunction MeshJunction(const io::JunctionFile& junction, double memoryLimit, bool asConstructed) {
  MeshedJunction out;
  io::MeshDocument& doc = out.document;
  doc.kind = junction.IsBend() ? "bend" : "nway";
  JunctionOptions options;
  options.memoryLimit = memoryLimit < 0.0 ? host::DefaultMemoryLimit() : memoryLimit;
  options.asConstructed = asConstructed;
  const JunctionResult result = host::MeshValue(junction, options);
  out.ok = result.ok();
  out.refusal = result.refusal;
  if (!out.ok) return out;
  WriteSolidMesh(result.mesh, doc.mesh);
  // A bend hands over no far nodes, as TwoConnectRunner does not.
  if (!junction.IsBend()) doc.farNodes = host::FarNodes(junction, result.mesh);
  out.nodesBeforeMerge = result.mesh.nodesBeforeMerge;
  io::AddJunctionPatches(doc, result.mesh.farSections);
  return out;
}

double SectionScaledJacobian(const io::JunctionFile& junction) {
  // The section's shape does not depend on the radius; the junction's own
  // keeps the straight runner at the junction's scale, where its merge
  // tolerance and precision were judged. Six radii each way give the sweep
  // layers enough to run straight between the ends.
  const double r = junction.radii.size() > 1 && junction.radii[1] > 0.0 ? junction.radii[1] : 1.0;
  io::JunctionFile straight = junction;
  straight.name = junction.name + " (straight)";
  straight.center = {0.0, 0.0, 0.0};
  straight.farPoints = {{-6.0 * r, 0.0, 0.0}, {6.0 * r, 0.0, 0.0}};
  straight.radii = {r, r, r, r};
  straight.extent = io::JunctionFile::Extent::AsGiven;
  const MeshedJunction meshed = MeshJunction(straight);
  if (!meshed.ok) return std::numeric_limits<double>::quiet_NaN();
  const MemoryMesh& mesh = meshed.document.mesh;
  double worst = 1.0;
  for (const MeshElement& e : mesh.elements) worst = std::min(worst, quality::ScaledJacobian(mesh, e));
  return worst;
}

std::string SectionFloorLine(const io::JunctionFile& junction, double floor) {
  // A hint, not a verdict: where the straight runner cannot be meshed (no
  // memory for it), the faults stand without it.
  double section = 1.0;
  try {
    section = SectionScaledJacobian(junction);
  } catch (const std::exception&) {
    return "";
  }
  if (!(section < floor)) return "";
  std::ostringstream line;
  line << "the section itself makes cells under the floor: a straight runner with first_circle_nodes "
       << junction.firstCircleNodes << " and inner_layers";
  for (double v : junction.innerLayers) line << " " << std::setprecision(3) << v;
  line << " has a scaled Jacobian of " << std::fixed << std::setprecision(3) << section
       << " at best, under --min-sj " << floor;
  // What thins the section's prisms: a ring much further from the next than
  // that from the one before it, and many sectors in the first ring (with
  // evenly spaced layers, 16 keep about 0.43 and 8 about 0.73).
  double narrowest = std::numeric_limits<double>::infinity(), widest = 0.0;
  for (size_t k = 1; k < junction.innerLayers.size(); ++k) {
    const double gap = junction.innerLayers[k] - junction.innerLayers[k - 1];
    narrowest = std::min(narrowest, gap);
    widest = std::max(widest, gap);
  }
  const bool uneven = widest > 1.5 * narrowest;
  const bool crowded = junction.firstCircleNodes > 8;
  if (uneven || crowded)
    line << "; " << (uneven ? "inner layers spaced more evenly" : "") << (uneven && crowded ? " and " : "")
         << (crowded ? "a first ring of fewer nodes" : "") << " give it better cells";
  line << "\n";
  return line.str();
}

}  // namespace vela::cli
