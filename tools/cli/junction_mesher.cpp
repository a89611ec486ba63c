#include "junction_mesher.h"

#include "junction_call.h"

namespace vela::cli {

MeshedJunction MeshJunction(const io::JunctionFile& junction) {
  MeshedJunction out;
  io::MeshDocument& doc = out.document;
  doc.kind = junction.IsBend() ? "bend" : "nway";
  const host::CallResult call = host::MeshJunction(junction, doc.mesh);
  out.ok = call.ok;
  out.refusal = call.refusal;
  if (!out.ok) return out;
  for (const ON_3fPoint& p : call.farNodes) doc.farNodes.push_back({p.x, p.y, p.z});
  if (const std::optional<JunctionFacts> facts = host::Describe(junction))
    out.nodesBeforeMerge = facts->nodesBeforeMerge;
  return out;
}

}  // namespace vela::cli
