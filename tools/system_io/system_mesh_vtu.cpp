// The .vtu pair of a meshed system: the volume, and the boundary faces beside it.

#include "cell_types.h"
#include "file_text.h"
#include "system_mesh_formats.h"

#include <algorithm>
#include <array>
#include <vector>

namespace vela::io::detail {

namespace {

using vela::system::SystemMesh;

constexpr int kVtkTriangle = 5;
constexpr int kVtkQuad = 9;

// One cell as it goes into the file: VTK type and corners in VTK's order.
struct VtkCell {
  int type = 0;
  int corners = 0;
  std::array<int, 8> nodes{};
  int value = 0;  // the one cell data value: region or patch
};

std::string EscapeAttribute(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;  // names hold no double quote and no control character
    }
  }
  return out;
}

// Names travel as field data, one Int32 array per name holding its index:
// readers show them by name, and plain integer arrays are what every reader
// of the format takes (meshio refuses string arrays).
void AppendNames(std::string& out, const std::vector<std::string>& names) {
  out += "    <FieldData>\n";
  for (size_t i = 0; i < names.size(); ++i)
    out += "      <DataArray type=\"Int32\" Name=\"" + EscapeAttribute(names[i]) +
           "\" NumberOfTuples=\"1\" format=\"ascii\">" + std::to_string(i) + "</DataArray>\n";
  out += "    </FieldData>\n";
}

void AppendCells(std::string& out, const std::vector<VtkCell>& cells) {
  out +=
      "      <Cells>\n        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n";
  for (const VtkCell& cell : cells)
    for (int c = 0; c < cell.corners; ++c)
      out +=
          std::to_string(cell.nodes[static_cast<size_t>(c)]) + (c + 1 < cell.corners ? ' ' : '\n');
  out +=
      "        </DataArray>\n        <DataArray type=\"Int64\" Name=\"offsets\" "
      "format=\"ascii\">\n";
  long long offset = 0;
  for (const VtkCell& cell : cells) {
    offset += cell.corners;
    out += std::to_string(offset) + '\n';
  }
  out +=
      "        </DataArray>\n        <DataArray type=\"UInt8\" Name=\"types\" format=\"ascii\">\n";
  for (const VtkCell& cell : cells) out += std::to_string(cell.type) + '\n';
  out += "        </DataArray>\n      </Cells>\n";
}

std::string Grid(const SystemMesh& mesh, const std::vector<std::string>& names,
                 const std::vector<VtkCell>& cells, const char* valueName) {
  std::string out;
  out += "<?xml version=\"1.0\"?>\n";
  out += "<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" byte_order=\"LittleEndian\">\n";
  out += "  <UnstructuredGrid>\n";
  AppendNames(out, names);
  out += "    <Piece NumberOfPoints=\"" + std::to_string(mesh.nodes.size()) +
         "\" NumberOfCells=\"" + std::to_string(cells.size()) + "\">\n";
  out +=
      "      <Points>\n        <DataArray type=\"Float64\" Name=\"Points\" "
      "NumberOfComponents=\"3\" format=\"ascii\">\n";
  for (const auto& p : mesh.nodes) AppendPoint(out, p);
  out += "        </DataArray>\n      </Points>\n";
  AppendCells(out, cells);
  out += "      <CellData>\n        <DataArray type=\"Int32\" Name=\"" + std::string(valueName) +
         "\" format=\"ascii\">\n";
  for (const VtkCell& cell : cells) out += std::to_string(cell.value) + '\n';
  out += "        </DataArray>\n      </CellData>\n";
  out += "    </Piece>\n  </UnstructuredGrid>\n</VTKFile>\n";
  return out;
}

}  // namespace

std::string FormatSystemVolumeVtu(const SystemMesh& mesh) {
  std::vector<VtkCell> cells;
  cells.reserve(mesh.elements.size());
  for (const vela::system::SystemElement& element : mesh.elements) {
    const MeshElement vtk = SwapWedgeCorners(AsMeshElement(element));
    cells.push_back({VtkCellType(vtk.kind), element.corners, vtk.nodes, element.region});
  }
  std::vector<std::string> names;
  for (const vela::system::Region& region : mesh.regions) names.push_back(region.name);
  return Grid(mesh, names, cells, "region");
}

std::string FormatSystemPatchesVtu(const SystemMesh& mesh) {
  // Faces are wound outward, which is what VTK's right-hand rule takes as
  // their normal: they go in as they are.
  std::vector<VtkCell> cells;
  cells.reserve(mesh.faces.size());
  for (const vela::system::BoundaryFace& face : mesh.faces) {
    VtkCell cell{face.corners == 3 ? kVtkTriangle : kVtkQuad, face.corners, {}, face.patch};
    cell.nodes.fill(-1);
    std::copy(face.nodes.begin(), face.nodes.end(), cell.nodes.begin());
    cells.push_back(cell);
  }
  return Grid(mesh, mesh.patches, cells, "patch");
}

}  // namespace vela::io::detail
