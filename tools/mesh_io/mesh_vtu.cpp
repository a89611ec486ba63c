// The .vtu mesh: VTK XML unstructured grid, cells grouped by kind.

#include "cell_types.h"
#include "file_text.h"
#include "mesh_formats.h"
#include "vtu_arrays.h"
#include "vtu_grid.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace vela::io::detail {

namespace {

// Field-data names that carry the junction through a .vtu file.
const char* const kBendArray = "junction_is_bend";
const char* const kFarNodesArray = "far_nodes";
// Cell data: each cell's place in the library's element order.
const char* const kElementArray = "element";
// Cell data of a runner system's volume: each cell's region.
const char* const kRegionArray = "region";

// The library's element indices, grouped by kind (tetrahedra, pyramids,
// wedges, hexahedra) and in the library's order within a kind. Readers that
// keep one section per cell type (MED among them) take no other order.
std::vector<size_t> CellOrder(const std::vector<MeshElement>& elements) {
  std::vector<size_t> order;
  order.reserve(elements.size());
  for (const ElementKind kind :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa})
    for (size_t e = 0; e < elements.size(); ++e)
      if (elements[e].kind == kind) order.push_back(e);
  return order;
}

std::vector<VtuArray> FieldData(const MeshDocument& document) {
  std::vector<VtuArray> fields;
  if (!document.kind.empty())
    fields.push_back({kBendArray, VtkType::Int32, 1, {document.kind == "bend" ? 1 : 0}, {}});
  if (!document.farNodes.empty()) {
    VtuArray far{kFarNodesArray, VtkType::Float64, 3, {}, {}};
    for (const auto& p : document.farNodes) far.reals.insert(far.reals.end(), p.begin(), p.end());
    fields.push_back(std::move(far));
  }
  return fields;
}

void FillCells(VtuGrid& grid, const std::vector<MeshElement>& elements,
               const std::vector<size_t>& order, const std::vector<double>& scaledJacobian) {
  size_t corners = 0;
  for (const MeshElement& element : elements) corners += static_cast<size_t>(element.CornerCount());
  StartCells(grid, order.size(), corners);
  VtuArray element{kElementArray, VtkType::Int32, 1, {}, {}};
  VtuArray kind{"kind", VtkType::Int32, 1, {}, {}};
  VtuArray quality{"scaled_jacobian", VtkType::Float64, 1, {}, {}};
  element.integers.reserve(order.size());
  kind.integers.reserve(order.size());
  quality.reals.reserve(scaledJacobian.size());
  for (const size_t e : order) {
    const MeshElement cell = SwapWedgeCorners(elements[e]);
    for (int c = 0; c < cell.CornerCount(); ++c)
      grid.connectivity.integers.push_back(cell.nodes[static_cast<size_t>(c)]);
    grid.offsets.integers.push_back(static_cast<std::int32_t>(grid.connectivity.integers.size()));
    grid.types.integers.push_back(VtkCellType(cell.kind));
    element.integers.push_back(static_cast<std::int32_t>(e));
    kind.integers.push_back(cell.CornerCount());
    if (!scaledJacobian.empty()) quality.reals.push_back(scaledJacobian[e]);
  }
  grid.cellData.push_back(std::move(element));
  grid.cellData.push_back(std::move(kind));
  if (!scaledJacobian.empty()) grid.cellData.push_back(std::move(quality));
}

// --- reading ---------------------------------------------------------------------------------

pugi::xml_node Child(pugi::xml_node parent, const char* name) {
  const pugi::xml_node child = parent.child(name);
  if (!child) throw MeshFileError("<" + std::string(parent.name()) + "> has no <" + name + ">");
  return child;
}

pugi::xml_node Array(pugi::xml_node parent, const char* name) {
  const pugi::xml_node array = parent.find_child_by_attribute("DataArray", "Name", name);
  if (!array)
    throw MeshFileError("<" + std::string(parent.name()) + "> has no DataArray \"" + name + "\"");
  return array;
}

size_t CountAttribute(pugi::xml_node element, const char* key) {
  long long count = 0;
  if (!ParseInteger(element.attribute(key).value(), count) || count < 0 || count > INT_MAX)
    throw MeshFileError("<" + std::string(element.name()) + "> needs " + key +
                        " as a count in 0.." + std::to_string(INT_MAX));
  return static_cast<size_t>(count);
}

std::vector<std::array<double, 3>> ReadPoints(const VtuFile& file, pugi::xml_node array,
                                              size_t count) {
  if (array.attribute("NumberOfComponents") &&
      std::strcmp(array.attribute("NumberOfComponents").value(), "3") != 0)
    throw MeshFileError("DataArray \"" + std::string(array.attribute("Name").value()) +
                        "\": points need NumberOfComponents=\"3\"");
  const std::vector<double> values = file.Reals(array, 3 * count);
  std::vector<std::array<double, 3>> points(count);
  for (size_t i = 0; i < count; ++i)
    points[i] = {values[3 * i], values[3 * i + 1], values[3 * i + 2]};
  return points;
}

// The junction kind and far nodes, when the file carries them; a file from
// another writer has neither, and the document then has kind "".
void ReadFieldData(const VtuFile& file, pugi::xml_node grid, MeshDocument& document) {
  const pugi::xml_node fieldData = grid.child("FieldData");
  const pugi::xml_node bend = fieldData.find_child_by_attribute("DataArray", "Name", kBendArray);
  if (bend) document.kind = file.Integers(bend, 1, 0, 1).front() == 1 ? "bend" : "nway";
  const pugi::xml_node far = fieldData.find_child_by_attribute("DataArray", "Name", kFarNodesArray);
  if (far) document.farNodes = ReadPoints(file, far, CountAttribute(far, "NumberOfTuples"));
}

// Cells of fewer than three dimensions (vertices, lines, triangles, quads and
// their higher-order kin) that a writer may put around the volume, as the
// boundary of a region: skipped, as the volume is what is read.
bool IsLowerDimensionCell(long long type) {
  static const long long kTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 21, 22, 23, 28, 34, 36, 68, 69, 70, 75, 76, 77};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// Where each cell starts in the connectivity, and its kind when it is a solid.
struct CellSpan {
  bool solid = false;
  ElementKind kind = ElementKind::Tetra;
  long long start = 0;
};

std::vector<CellSpan> ReadSpans(const VtuFile& file, pugi::xml_node cells, size_t cellCount,
                                long long& connectivitySize) {
  const std::vector<long long> types = file.Integers(Array(cells, "types"), cellCount, 0, 255);
  const std::vector<long long> offsets =
      file.Integers(Array(cells, "offsets"), cellCount, 0, LLONG_MAX);
  std::vector<CellSpan> spans(cellCount);
  long long end = 0;
  for (size_t e = 0; e < cellCount; ++e) {
    spans[e].start = end;
    spans[e].solid = KindFromType(types[e], VtkCellType, spans[e].kind);
    if (!spans[e].solid && !IsLowerDimensionCell(types[e]))
      throw MeshFileError(
          "cell " + std::to_string(e) + " has VTK type " + std::to_string(types[e]) +
          "; only tetrahedra (10), pyramids (14), wedges (13) and hexahedra (12) are read");
    // A solid's offset must be exactly what its type calls for: then no
    // solid reads past its corners. Other cells only must not run backwards.
    const long long expected = spans[e].solid ? end + CornerCount(spans[e].kind) : -1;
    if ((spans[e].solid && offsets[e] != expected) || offsets[e] < end)
      throw MeshFileError("cell " + std::to_string(e) + " ends at offset " +
                          std::to_string(offsets[e]) +
                          (spans[e].solid ? ", its type makes it end at " + std::to_string(expected)
                                          : ", before it starts"));
    end = offsets[e];
  }
  connectivitySize = end;
  return spans;
}

// The solid cells in the library's order: the "element" cell data gives each
// cell's place when present and must then number the solids 0..m-1; without
// it the file's order stands.
std::vector<size_t> LibraryOrder(const VtuFile& file, pugi::xml_node piece,
                                 const std::vector<CellSpan>& spans, size_t solidCount) {
  std::vector<size_t> solids;
  for (size_t e = 0; e < spans.size(); ++e)
    if (spans[e].solid) solids.push_back(e);
  const pugi::xml_node places =
      piece.child("CellData").find_child_by_attribute("DataArray", "Name", kElementArray);
  if (!places) return solids;
  const std::vector<long long> place = file.Integers(places, spans.size(), LLONG_MIN, LLONG_MAX);
  std::vector<size_t> order(solidCount, SIZE_MAX);
  for (const size_t e : solids) {
    if (place[e] < 0 || static_cast<size_t>(place[e]) >= solidCount ||
        order[static_cast<size_t>(place[e])] != SIZE_MAX)
      throw MeshFileError("cell data \"element\" of cell " + std::to_string(e) + " is " +
                          std::to_string(place[e]) + ", not a free place in 0.." +
                          std::to_string(solidCount) + "-1");
    order[static_cast<size_t>(place[e])] = e;
  }
  return order;
}

std::vector<MeshElement> ReadCells(const VtuFile& file, pugi::xml_node piece, size_t cellCount,
                                   size_t nodeCount) {
  const pugi::xml_node cells = Child(piece, "Cells");
  long long connectivitySize = 0;
  const std::vector<CellSpan> spans = ReadSpans(file, cells, cellCount, connectivitySize);
  const std::vector<long long> connectivity =
      file.Integers(Array(cells, "connectivity"), static_cast<size_t>(connectivitySize), 0,
                    static_cast<long long>(nodeCount) - 1);
  const size_t solidCount = static_cast<size_t>(
      std::count_if(spans.begin(), spans.end(), [](const CellSpan& s) { return s.solid; }));
  std::vector<MeshElement> elements;
  elements.reserve(solidCount);
  for (const size_t e : LibraryOrder(file, piece, spans, solidCount)) {
    MeshElement element;
    element.kind = spans[e].kind;
    element.nodes.fill(-1);
    for (int c = 0; c < element.CornerCount(); ++c)
      element.nodes[static_cast<size_t>(c)] =
          static_cast<int>(connectivity[static_cast<size_t>(spans[e].start + c)]);
    elements.push_back(SwapWedgeCorners(element));
  }
  return elements;
}

}  // namespace

std::string FormatVtuMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian,
                          bool binary, const std::string& units) {
  VtuGrid grid;
  grid.fieldData = FieldData(document);
  for (VtuArray& field : UnitsField(units)) grid.fieldData.push_back(std::move(field));
  grid.points = &document.mesh.nodes;
  FillCells(grid, document.mesh.elements, CellOrder(document.mesh.elements), scaledJacobian);
  return FormatVtuGrid(grid, binary);
}

MeshDocument ParseVtuMesh(const std::string& text) {
  const VtuFile file(text);
  const pugi::xml_node root = file.Root();
  if (std::strcmp(root.attribute("type").value(), "UnstructuredGrid") != 0)
    throw MeshFileError(
        "not a VTK unstructured grid (expected <VTKFile type=\"UnstructuredGrid\">)");
  const pugi::xml_node grid = Child(root, "UnstructuredGrid");
  const pugi::xml_node piece = Child(grid, "Piece");
  if (piece.next_sibling("Piece"))
    throw MeshFileError("the grid has more than one <Piece>; only one can be read");

  MeshDocument document;
  ReadFieldData(file, grid, document);
  // A runner system's volume says where each cell came from, which no
  // junction does; its field data holds the region names, not a kind.
  if (document.kind.empty() && piece.child("CellData").find_child_by_attribute("DataArray", "Name", kRegionArray))
    document.kind = "system";
  const size_t pointCount = CountAttribute(piece, "NumberOfPoints");
  document.mesh.nodes = ReadPoints(file, Child(Child(piece, "Points"), "DataArray"), pointCount);
  document.mesh.elements =
      ReadCells(file, piece, CountAttribute(piece, "NumberOfCells"), pointCount);
  return document;
}

}  // namespace vela::io::detail
