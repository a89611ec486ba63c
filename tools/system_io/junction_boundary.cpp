#include "junction_boundary.h"

#include "system_detail.h"

#include <stdexcept>
#include <string>

namespace vela::io {

namespace {

std::vector<vela::system::SystemElement> Elements(const MeshDocument& document) {
  std::vector<vela::system::SystemElement> elements;
  elements.reserve(document.mesh.elements.size());
  for (const MeshElement& element : document.mesh.elements)
    elements.push_back({element.CornerCount(), element.nodes, 0});
  return elements;
}

}  // namespace

void AddJunctionPatches(MeshDocument& document, const std::vector<std::vector<int>>& farSections) {
  // Node identity, not a plane and a tolerance: the library says which
  // nodes make each section, and a wall face always has a corner off it.
  const std::vector<vela::system::BoundaryFace> faces = vela::system::detail::FindBoundary(
      vela::system::detail::BoundaryFaces(Elements(document)), farSections);
  std::vector<size_t> perPatch(farSections.size() + 1, 0);
  document.patches = {"wall"};
  for (size_t i = 0; i < farSections.size(); ++i) document.patches.push_back("end-" + std::to_string(i));
  document.faces.clear();
  for (const vela::system::BoundaryFace& face : faces) {
    document.faces.push_back({face.corners, face.nodes, face.patch});
    ++perPatch[static_cast<size_t>(face.patch)];
  }
  for (size_t i = 0; i < farSections.size(); ++i)
    if (perPatch[i + 1] == 0)
      throw std::invalid_argument("runner " + std::to_string(i) + "'s far-end section holds no boundary face");
}

vela::system::SystemMesh JunctionSystemMesh(const MeshDocument& document) {
  vela::system::SystemMesh mesh;
  mesh.nodes = document.mesh.nodes;
  mesh.elements = Elements(document);
  const bool bend = document.kind == "bend";
  mesh.regions = {{bend ? vela::system::RegionKind::Bend : vela::system::RegionKind::Junction,
                   bend ? "bend" : document.kind == "nway" ? "junction" : "volume"}};
  mesh.patches = document.patches;
  for (const PatchFace& face : document.faces) mesh.faces.push_back({face.corners, face.nodes, face.patch});
  return mesh;
}

}  // namespace vela::io
