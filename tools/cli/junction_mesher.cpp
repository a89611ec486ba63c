#include "junction_mesher.h"

#include "junction_boundary.h"
#include "junction_call.h"

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

}  // namespace vela::cli
