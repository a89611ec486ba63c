// The .msh file of a meshed system: Gmsh MSH 4.1 ASCII with physical groups.

#include "cell_types.h"
#include "file_text.h"
#include "system_mesh_formats.h"

#include <algorithm>
#include <array>
#include <vector>

namespace vela::io::detail {

namespace {

using vela::system::SystemMesh;
using Box = std::array<double, 6>;  // low x, y, z, high x, y, z

// The volume is entity 1 of dimension 3 and physical group 1 of dimension 3;
// patch p is entity p + 1 of dimension 2 and physical group p + 1 of
// dimension 2. Gmsh keeps tags apart by dimension, so the numbers may repeat.
constexpr int kVolumeTag = 1;
const char* const kVolumeGroup = "fluid";
constexpr int kGmshTriangle = 2;
constexpr int kGmshQuad = 3;

int PatchTag(size_t patch) { return static_cast<int>(patch) + 1; }

void Grow(Box& box, bool& empty, const std::array<double, 3>& p) {
  for (size_t k = 0; k < 3; ++k) {
    box[k] = empty ? p[k] : std::min(box[k], p[k]);
    box[k + 3] = empty ? p[k] : std::max(box[k + 3], p[k]);
  }
  empty = false;
}

void AppendEntity(std::string& out, int tag, const Box& box, int physicalTag) {
  out += std::to_string(tag);
  for (const double v : box) {
    out += ' ';
    AppendDouble(out, v);
  }
  out += " 1 " + std::to_string(physicalTag);
}

void AppendPhysicalNames(std::string& out, const SystemMesh& mesh) {
  out += "$PhysicalNames\n" + std::to_string(mesh.patches.size() + 1) + "\n";
  out += "3 " + std::to_string(kVolumeTag) + " \"" + kVolumeGroup + "\"\n";
  for (size_t p = 0; p < mesh.patches.size(); ++p)
    out += "2 " + std::to_string(PatchTag(p)) + " \"" + mesh.patches[p] + "\"\n";
  out += "$EndPhysicalNames\n";
}

// Bounding boxes of the volume and of every patch; the volume is bounded by
// all the patches, which is what they are.
void AppendEntities(std::string& out, const SystemMesh& mesh) {
  std::vector<Box> patchBoxes(mesh.patches.size(), Box{});
  std::vector<bool> patchEmpty(mesh.patches.size(), true);
  for (const vela::system::BoundaryFace& face : mesh.faces) {
    const size_t p = static_cast<size_t>(face.patch);
    bool empty = patchEmpty[p];
    for (int c = 0; c < face.corners; ++c)
      Grow(patchBoxes[p], empty,
           mesh.nodes[static_cast<size_t>(face.nodes[static_cast<size_t>(c)])]);
    patchEmpty[p] = empty;
  }
  Box volumeBox{};
  bool volumeEmpty = true;
  for (const auto& node : mesh.nodes) Grow(volumeBox, volumeEmpty, node);

  out += "$Entities\n0 0 " + std::to_string(mesh.patches.size()) + " 1\n";
  for (size_t p = 0; p < mesh.patches.size(); ++p) {
    AppendEntity(out, PatchTag(p), patchBoxes[p], PatchTag(p));
    out += " 0\n";
  }
  AppendEntity(out, kVolumeTag, volumeBox, kVolumeTag);
  out += ' ' + std::to_string(mesh.patches.size());
  for (size_t p = 0; p < mesh.patches.size(); ++p) out += ' ' + std::to_string(PatchTag(p));
  out += "\n$EndEntities\n";
}

// Every node on the volume entity: Gmsh finds the nodes of any element by tag.
void AppendNodes(std::string& out, const std::vector<std::array<double, 3>>& nodes) {
  const std::string n = std::to_string(nodes.size());
  out += "$Nodes\n";
  if (nodes.empty()) {
    out += "0 0 0 0\n$EndNodes\n";
    return;
  }
  out += "1 " + n + " 1 " + n + "\n3 " + std::to_string(kVolumeTag) + " 0 " + n + "\n";
  for (size_t i = 0; i < nodes.size(); ++i) out += std::to_string(i + 1) + '\n';
  for (const auto& p : nodes) AppendPoint(out, p);
  out += "$EndNodes\n";
}

// One block of the entity (dim, tag) and element type: the items whose index
// pick accepts, each as its tag (firstTag + index) and its 1-based nodes.
template <typename Item, typename Pick>
void AppendBlock(std::string& blocks, int& blockCount, int dim, int tag, int type,
                 const std::vector<Item>& items, size_t firstTag, Pick pick) {
  std::string lines;
  size_t count = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!pick(items[i])) continue;
    ++count;
    lines += std::to_string(firstTag + i);
    for (int c = 0; c < items[i].corners; ++c)
      lines += ' ' + std::to_string(items[i].nodes[static_cast<size_t>(c)] + 1);
    lines += '\n';
  }
  if (count == 0) return;
  ++blockCount;
  blocks += std::to_string(dim) + ' ' + std::to_string(tag) + ' ' + std::to_string(type) + ' ' +
            std::to_string(count) + '\n' + lines;
}

void AppendElements(std::string& out, const SystemMesh& mesh) {
  std::string blocks;
  int blockCount = 0;
  for (const int corners : {4, 5, 6, 8}) {
    const int type = GmshElementType(static_cast<ElementKind>(corners));
    AppendBlock(blocks, blockCount, 3, kVolumeTag, type, mesh.elements, 1,
                [corners](const vela::system::SystemElement& e) { return e.corners == corners; });
  }
  const size_t firstFaceTag = mesh.elements.size() + 1;
  for (size_t p = 0; p < mesh.patches.size(); ++p) {
    for (const int corners : {3, 4}) {
      const int type = corners == 3 ? kGmshTriangle : kGmshQuad;
      AppendBlock(blocks, blockCount, 2, PatchTag(p), type, mesh.faces, firstFaceTag,
                  [p, corners](const vela::system::BoundaryFace& f) {
                    return static_cast<size_t>(f.patch) == p && f.corners == corners;
                  });
    }
  }
  const size_t total = mesh.elements.size() + mesh.faces.size();
  out += "$Elements\n" + std::to_string(blockCount) + ' ' + std::to_string(total) +
         (total == 0 ? " 0 0\n" : " 1 " + std::to_string(total) + "\n");
  out += blocks + "$EndElements\n";
}

}  // namespace

std::string FormatSystemMsh(const SystemMesh& mesh) {
  std::string out = "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n";
  AppendPhysicalNames(out, mesh);
  AppendEntities(out, mesh);
  AppendNodes(out, mesh.nodes);
  AppendElements(out, mesh);
  return out;
}

}  // namespace vela::io::detail
