// The .msh file of a meshed system: Gmsh MSH 4.1, ASCII or binary, with physical groups.

#include "cell_types.h"
#include "file_text.h"
#include "msh_model.h"
#include "system_mesh_formats.h"

#include <vector>

namespace vela::io::detail {

namespace {

using vela::system::SystemMesh;

// The volume is entity 1 of dimension 3, every node on it, in physical group
// "fluid"; the patches are surfaces around it (AddMshPatches).
constexpr int kVolumeTag = 1;
const char* const kVolumeGroup = "fluid";

// The elements of one kind as one block: each as its tag (1 + its place)
// and its 1-based nodes.
void AddBlock(std::vector<MshBlock>& blocks, int corners, const SystemMesh& mesh) {
  MshBlock block{3, kVolumeTag, GmshElementType(static_cast<ElementKind>(corners)), corners, {}, {}};
  for (size_t e = 0; e < mesh.elements.size(); ++e) {
    if (mesh.elements[e].corners != corners) continue;
    block.tags.push_back(static_cast<long long>(e + 1));
    for (int c = 0; c < corners; ++c) block.nodes.push_back(mesh.elements[e].nodes[static_cast<size_t>(c)] + 1);
  }
  if (!block.tags.empty()) blocks.push_back(std::move(block));
}

}  // namespace

std::string FormatSystemMsh(const SystemMesh& mesh, bool binary, const std::string& units) {
  MshModel model;
  model.units = units;
  model.physicals = {{3, kMshVolumeGroup, kVolumeGroup}};
  model.entities = {{3, kVolumeTag, BoxOf(mesh.nodes), {kMshVolumeGroup}, {}}};
  // Every node on the volume entity: Gmsh finds the nodes of any element by tag.
  model.nodes = &mesh.nodes;
  model.nodeEntity = kVolumeTag;
  for (const int corners : {4, 5, 6, 8}) AddBlock(model.blocks, corners, mesh);
  // Faces tagged after the elements, so that sorting by tag gives the mesh's orders back.
  AddMshPatches(model, mesh.patches, PatchFaces(mesh), static_cast<long long>(mesh.elements.size()) + 1);
  return FormatMshModel(model, binary);
}

}  // namespace vela::io::detail
