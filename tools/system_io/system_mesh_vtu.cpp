// The .vtu pair of a meshed system: the volume, and the boundary faces beside it.

#include "cell_types.h"
#include "file_text.h"
#include "quality.h"
#include "system_mesh_formats.h"
#include "vtu_grid.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
// reads the kinds from. cellAt(i) gives cell i of count; it is asked twice
// a cell rather than the cells held, which on a large system would be a
// copy of the mesh's elements half again their size.
template <class CellAt>
std::string Grid(const SystemMesh& mesh, const std::vector<std::string>& names, size_t count, CellAt cellAt,
                 const char* valueName, bool binary, const std::string& units,
                 const std::vector<double>* scaledJacobian = nullptr) {
  std::vector<std::uint8_t> typeOf(count);
  std::array<bool, 256> present{};
  size_t corners = 0;
  for (size_t i = 0; i < count; ++i) {
    const VtkCell cell = cellAt(i);
    typeOf[i] = static_cast<std::uint8_t>(cell.type & 0xff);
    present[typeOf[i]] = true;
    corners += static_cast<size_t>(cell.corners);
  }
  VtuGrid grid;
  StartCells(grid, count, corners);
  grid.fieldData = Names(names);
  for (VtuArray& field : UnitsField(units)) grid.fieldData.push_back(std::move(field));
  grid.points = &mesh.nodes;
  VtuArray value{valueName, VtkType::Int32, 1, {}, {}};
  VtuArray element{"element", VtkType::Int32, 1, {}, {}};
  VtuArray kind{"kind", VtkType::Int32, 1, {}, {}};
  VtuArray quality{"scaled_jacobian", VtkType::Float64, 1, {}, {}};
  value.integers.reserve(count);
  element.integers.reserve(count);
  if (scaledJacobian) {
    kind.integers.reserve(count);
    quality.reals.reserve(count);
  }
  // A pass over the cells for each type there is, of which a mesh has four
  // at most: no order of the cells to hold.
  for (size_t type = 0; type < present.size(); ++type) {
    if (!present[type]) continue;
    for (size_t i = 0; i < count; ++i) {
      if (typeOf[i] != type) continue;
      const VtkCell cell = cellAt(i);
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
  std::vector<double> values(mesh.elements.size());
  const size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  const size_t share = (values.size() + threads - 1) / threads;
  const auto measure = [&](size_t t) {
    const size_t end = std::min(values.size(), (t + 1) * share);
    for (size_t e = t * share; e < end; ++e)
      values[e] = quality::ScaledJacobian(mesh.nodes, AsMeshElement(mesh.elements[e]));
  };
  std::vector<std::thread> workers;
  for (size_t t = 1; t < threads && t * share < values.size(); ++t) workers.emplace_back(measure, t);
  measure(0);
  for (std::thread& worker : workers) worker.join();
  return values;
}

}  // namespace

std::string FormatSystemVolumeVtu(const SystemMesh& mesh, bool binary, const std::string& units) {
  const auto cellAt = [&mesh](size_t i) {
    const vela::system::SystemElement& element = mesh.elements[i];
    const MeshElement vtk = SwapWedgeCorners(AsMeshElement(element));
    return VtkCell{VtkCellType(vtk.kind), element.corners, vtk.nodes, element.region};
  };
  std::vector<std::string> names;
  for (const vela::system::Region& region : mesh.regions) names.push_back(region.name);
  const std::vector<double> scaledJacobian = ScaledJacobians(mesh);
  return Grid(mesh, names, mesh.elements.size(), cellAt, "region", binary, units, &scaledJacobian);
}

std::string FormatSystemPatchesVtu(const SystemMesh& mesh, bool binary, const std::string& units) {
  // Faces are wound outward, which is what VTK's right-hand rule takes as
  // their normal: they go in as they are.
  const auto cellAt = [&mesh](size_t i) {
    const vela::system::BoundaryFace& face = mesh.faces[i];
    VtkCell cell{face.corners == 3 ? kVtkTriangle : kVtkQuad, face.corners, {}, face.patch};
    cell.nodes.fill(-1);
    std::copy(face.nodes.begin(), face.nodes.end(), cell.nodes.begin());
    return cell;
  };
  return Grid(mesh, mesh.patches, mesh.faces.size(), cellAt, "patch", binary, units);
}

}  // namespace vela::io::detail
