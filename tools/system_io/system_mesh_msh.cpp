// The .msh file of a meshed system: Gmsh MSH 4.1, ASCII or binary, with physical groups.

#include "cell_types.h"
#include "file_text.h"
#include "msh_model.h"
#include "system_mesh_formats.h"

#include <algorithm>
#include <array>
#include <vector>

namespace vela::io::detail {

namespace {

using vela::system::SystemMesh;

// The volume is entity 1 of dimension 3 and physical group 1 of dimension 3;
// patch p is entity p + 1 of dimension 2 and physical group p + 1 of
// dimension 2. Gmsh keeps tags apart by dimension, so the numbers may repeat.
constexpr int kVolumeTag = 1;
const char* const kVolumeGroup = "fluid";
constexpr int kGmshTriangle = 2;
constexpr int kGmshQuad = 3;

int PatchTag(size_t patch) { return static_cast<int>(patch) + 1; }

void Grow(MshBox& box, bool& empty, const std::array<double, 3>& p) {
  for (size_t k = 0; k < 3; ++k) {
    box[k] = empty ? p[k] : std::min(box[k], p[k]);
    box[k + 3] = empty ? p[k] : std::max(box[k + 3], p[k]);
  }
  empty = false;
}

std::vector<MshPhysical> Physicals(const SystemMesh& mesh) {
  std::vector<MshPhysical> physicals{{3, kVolumeTag, kVolumeGroup}};
  for (size_t p = 0; p < mesh.patches.size(); ++p)
    physicals.push_back({2, PatchTag(p), mesh.patches[p]});
  return physicals;
}

// Bounding boxes of the volume and of every patch; the volume is bounded by
// all the patches, which is what they are.
std::vector<MshEntity> Entities(const SystemMesh& mesh) {
  std::vector<MshBox> patchBoxes(mesh.patches.size(), MshBox{});
  std::vector<bool> patchEmpty(mesh.patches.size(), true);
  for (const vela::system::BoundaryFace& face : mesh.faces) {
    const size_t p = static_cast<size_t>(face.patch);
    bool empty = patchEmpty[p];
    for (int c = 0; c < face.corners; ++c)
      Grow(patchBoxes[p], empty,
           mesh.nodes[static_cast<size_t>(face.nodes[static_cast<size_t>(c)])]);
    patchEmpty[p] = empty;
  }
  std::vector<MshEntity> entities;
  MshEntity volume{3, kVolumeTag, BoxOf(mesh.nodes), {kVolumeTag}, {}};
  for (size_t p = 0; p < mesh.patches.size(); ++p) {
    entities.push_back({2, PatchTag(p), patchBoxes[p], {PatchTag(p)}, {}});
    volume.bounding.push_back(PatchTag(p));
  }
  entities.push_back(std::move(volume));
  return entities;
}

// The items whose index pick accepts, as one block of the entity (dim, tag)
// and element type: each as its tag (firstTag + index) and its 1-based nodes.
template <typename Item, typename Pick>
void AddBlock(std::vector<MshBlock>& blocks, int dim, int tag, int type, int corners,
              const std::vector<Item>& items, size_t firstTag, Pick pick) {
  MshBlock block{dim, tag, type, corners, {}, {}};
  for (size_t i = 0; i < items.size(); ++i) {
    if (!pick(items[i])) continue;
    block.tags.push_back(static_cast<long long>(firstTag + i));
    for (int c = 0; c < corners; ++c)
      block.nodes.push_back(items[i].nodes[static_cast<size_t>(c)] + 1);
  }
  if (!block.tags.empty()) blocks.push_back(std::move(block));
}

std::vector<MshBlock> Blocks(const SystemMesh& mesh) {
  std::vector<MshBlock> blocks;
  for (const int corners : {4, 5, 6, 8}) {
    const int type = GmshElementType(static_cast<ElementKind>(corners));
    AddBlock(blocks, 3, kVolumeTag, type, corners, mesh.elements, 1,
             [corners](const vela::system::SystemElement& e) { return e.corners == corners; });
  }
  const size_t firstFaceTag = mesh.elements.size() + 1;
  for (size_t p = 0; p < mesh.patches.size(); ++p) {
    for (const int corners : {3, 4}) {
      const int type = corners == 3 ? kGmshTriangle : kGmshQuad;
      AddBlock(blocks, 2, PatchTag(p), type, corners, mesh.faces, firstFaceTag,
               [p, corners](const vela::system::BoundaryFace& f) {
                 return static_cast<size_t>(f.patch) == p && f.corners == corners;
               });
    }
  }
  return blocks;
}

}  // namespace

std::string FormatSystemMsh(const SystemMesh& mesh, bool binary) {
  MshModel model;
  model.physicals = Physicals(mesh);
  model.entities = Entities(mesh);
  // Every node on the volume entity: Gmsh finds the nodes of any element by tag.
  model.nodes = &mesh.nodes;
  model.nodeEntity = kVolumeTag;
  model.blocks = Blocks(mesh);
  return FormatMshModel(model, binary);
}

}  // namespace vela::io::detail
