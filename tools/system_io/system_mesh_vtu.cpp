// The .vtu pair of a meshed system: the volume, and the boundary faces beside it.

#include "cell_types.h"
#include "file_text.h"
#include "quality.h"
#include "system_mesh_formats.h"
#include "vtu_grid.h"

#include <algorithm>
#include <array>
#include <thread>
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
std::vector<VtuArray> Names(const std::vector<std::string>& names) {
  std::vector<VtuArray> fields;
  for (size_t i = 0; i < names.size(); ++i)
    fields.push_back({EscapeAttribute(names[i]), VtkType::Int32, 1,
                      {static_cast<std::int32_t>(i)}, {}});
  return fields;
}

// The cells grouped by VTK type, each type's cells in mesh order, with the
// cell data valueName and "element" (each cell's place in the mesh's order)
// so that one section per cell type, which MED and others need, loses nothing.
// A volume's cells carry "kind" (the corner count) and "scaled_jacobian" too,
// as a junction's do: what a viewer colours the cells by, and what check
// reads the kinds from.
std::string Grid(const SystemMesh& mesh, const std::vector<std::string>& names,
                 const std::vector<VtkCell>& cells, const char* valueName, bool binary, const std::string& units,
                 const std::vector<double>* scaledJacobian = nullptr) {
  // Grouped by a counting sort on the type, each type's cells in mesh order.
  std::array<size_t, 257> at{};
  for (const VtkCell& cell : cells) ++at[static_cast<size_t>(cell.type & 0xff) + 1];
  for (size_t t = 0; t < 256; ++t) at[t + 1] += at[t];
  std::vector<size_t> order(cells.size());
  for (size_t i = 0; i < cells.size(); ++i) order[at[static_cast<size_t>(cells[i].type & 0xff)]++] = i;
  size_t corners = 0;
  for (const VtkCell& cell : cells) corners += static_cast<size_t>(cell.corners);
  VtuGrid grid;
  StartCells(grid, cells.size(), corners);
  grid.fieldData = Names(names);
  for (VtuArray& field : UnitsField(units)) grid.fieldData.push_back(std::move(field));
  grid.points = &mesh.nodes;
  VtuArray value{valueName, VtkType::Int32, 1, {}, {}};
  VtuArray element{"element", VtkType::Int32, 1, {}, {}};
  VtuArray kind{"kind", VtkType::Int32, 1, {}, {}};
  VtuArray quality{"scaled_jacobian", VtkType::Float64, 1, {}, {}};
  for (const size_t i : order) {
    const VtkCell& cell = cells[i];
    grid.connectivity.integers.insert(grid.connectivity.integers.end(), cell.nodes.begin(),
                                      cell.nodes.begin() + cell.corners);
    grid.offsets.integers.push_back(static_cast<std::int32_t>(grid.connectivity.integers.size()));
    grid.types.integers.push_back(cell.type);
    value.integers.push_back(cell.value);
    element.integers.push_back(static_cast<std::int32_t>(i));
    if (scaledJacobian) {
      kind.integers.push_back(cell.corners);
      quality.reals.push_back((*scaledJacobian)[i]);
    }
  }
  grid.cellData = {std::move(value), std::move(element)};
  if (scaledJacobian) {
    grid.cellData.push_back(std::move(kind));
    grid.cellData.push_back(std::move(quality));
  }
  return FormatVtuGrid(grid, binary);
}

// The same measure the quality report takes, so that the worst cell the
// summary names is the one the viewer shows: each element's own, so they
// are shared out between the cores, a share each.
std::vector<double> ScaledJacobians(const SystemMesh& mesh) {
  MemoryMesh solid;  // the nodes are all the measure reads of the mesh
  solid.nodes = mesh.nodes;
  std::vector<double> values(mesh.elements.size());
  const size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  const size_t share = (values.size() + threads - 1) / threads;
  const auto measure = [&](size_t t) {
    const size_t end = std::min(values.size(), (t + 1) * share);
    for (size_t e = t * share; e < end; ++e) values[e] = quality::ScaledJacobian(solid, AsMeshElement(mesh.elements[e]));
  };
  std::vector<std::thread> workers;
  for (size_t t = 1; t < threads && t * share < values.size(); ++t) workers.emplace_back(measure, t);
  measure(0);
  for (std::thread& worker : workers) worker.join();
  return values;
}

}  // namespace

std::string FormatSystemVolumeVtu(const SystemMesh& mesh, bool binary, const std::string& units) {
  std::vector<VtkCell> cells;
  cells.reserve(mesh.elements.size());
  for (const vela::system::SystemElement& element : mesh.elements) {
    const MeshElement vtk = SwapWedgeCorners(AsMeshElement(element));
    cells.push_back({VtkCellType(vtk.kind), element.corners, vtk.nodes, element.region});
  }
  std::vector<std::string> names;
  for (const vela::system::Region& region : mesh.regions) names.push_back(region.name);
  const std::vector<double> scaledJacobian = ScaledJacobians(mesh);
  return Grid(mesh, names, cells, "region", binary, units, &scaledJacobian);
}

std::string FormatSystemPatchesVtu(const SystemMesh& mesh, bool binary, const std::string& units) {
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
  return Grid(mesh, mesh.patches, cells, "patch", binary, units);
}

}  // namespace vela::io::detail
