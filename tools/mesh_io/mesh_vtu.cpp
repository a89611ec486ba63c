// The .vtu mesh: VTK XML unstructured grid, ASCII.

#include "cell_types.h"
#include "file_text.h"
#include "mesh_formats.h"

#include <pugixml.hpp>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace vela::io::detail {

namespace {

// Field-data names that carry the junction through a .vtu file.
const char* const kBendArray = "junction_is_bend";
const char* const kFarNodesArray = "far_nodes";

void AppendFieldData(std::string& out, const MeshDocument& document) {
  out += "    <FieldData>\n";
  out += "      <DataArray type=\"Int32\" Name=\"";
  out += kBendArray;
  out += "\" NumberOfTuples=\"1\" format=\"ascii\">";
  out += document.kind == "bend" ? "1" : "0";
  out += "</DataArray>\n";
  if (!document.farNodes.empty()) {
    out += "      <DataArray type=\"Float64\" Name=\"";
    out += kFarNodesArray;
    out += "\" NumberOfComponents=\"3\" NumberOfTuples=\"" +
           std::to_string(document.farNodes.size()) + "\" format=\"ascii\">\n";
    for (const auto& p : document.farNodes) AppendPoint(out, p);
    out += "      </DataArray>\n";
  }
  out += "    </FieldData>\n";
}

void AppendCells(std::string& out, const std::vector<MeshElement>& elements) {
  out +=
      "      <Cells>\n        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n";
  for (const MeshElement& element : elements) {
    const MeshElement cell = SwapWedgeCorners(element);
    for (int c = 0; c < cell.CornerCount(); ++c)
      out += std::to_string(cell.nodes[static_cast<size_t>(c)]) +
             (c + 1 < cell.CornerCount() ? ' ' : '\n');
  }
  out +=
      "        </DataArray>\n        <DataArray type=\"Int64\" Name=\"offsets\" "
      "format=\"ascii\">\n";
  long long offset = 0;
  for (const MeshElement& element : elements) {
    offset += element.CornerCount();
    out += std::to_string(offset) + '\n';
  }
  out +=
      "        </DataArray>\n        <DataArray type=\"UInt8\" Name=\"types\" format=\"ascii\">\n";
  for (const MeshElement& element : elements)
    out += std::to_string(VtkCellType(element.kind)) + '\n';
  out += "        </DataArray>\n      </Cells>\n";
}

void AppendCellData(std::string& out, const std::vector<MeshElement>& elements,
                    const std::vector<double>& scaledJacobian) {
  out += "      <CellData>\n        <DataArray type=\"Int32\" Name=\"kind\" format=\"ascii\">\n";
  for (const MeshElement& element : elements) out += std::to_string(element.CornerCount()) + '\n';
  out += "        </DataArray>\n";
  if (!scaledJacobian.empty()) {
    out += "        <DataArray type=\"Float64\" Name=\"scaled_jacobian\" format=\"ascii\">\n";
    for (double value : scaledJacobian) {
      AppendDouble(out, value);
      out += '\n';
    }
    out += "        </DataArray>\n";
  }
  out += "      </CellData>\n";
}

// --- reading ---------------------------------------------------------------------------------

// pugixml reports places as byte offsets (-1 when it has none); messages speak in lines.
int LineAt(const std::string& text, std::ptrdiff_t offset) {
  const std::ptrdiff_t end =
      std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size()));
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + end, '\n'));
}

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

// Exactly count values of the array, each taken by read from a scanner that
// names the array and counts lines in the file. pugixml splits character data
// around comments and CDATA sections; XML means the pieces as one.
template <typename Read>
auto ReadValues(const std::string& text, pugi::xml_node array, size_t count, Read read) {
  std::string data;
  int line = LineAt(text, array.offset_debug());
  for (pugi::xml_node child : array.children()) {
    if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) continue;
    if (data.empty()) line = LineAt(text, child.offset_debug());
    data += child.value();
  }
  TokenScanner scanner(data, "DataArray \"" + std::string(array.attribute("Name").value()) + "\"",
                       line);
  std::vector<decltype(read(scanner))> values;
  while (values.size() < count) values.push_back(read(scanner));
  if (!scanner.AtEnd()) scanner.Fail("more than the expected " + std::to_string(count) + " values");
  return values;
}

std::vector<std::array<double, 3>> ReadPoints(const std::string& text, pugi::xml_node array,
                                              size_t count) {
  const std::vector<double> values = ReadValues(
      text, array, 3 * count, [](TokenScanner& in) { return in.NextFiniteDouble("a value"); });
  std::vector<std::array<double, 3>> points(count);
  for (size_t i = 0; i < count; ++i)
    points[i] = {values[3 * i], values[3 * i + 1], values[3 * i + 2]};
  return points;
}

std::vector<long long> ReadIntegers(const std::string& text, pugi::xml_node array, size_t count,
                                    long long min, long long max) {
  return ReadValues(text, array, count,
                    [min, max](TokenScanner& in) { return in.NextInteger("a value", min, max); });
}

void ReadFieldData(const std::string& text, pugi::xml_node grid, MeshDocument& document) {
  const pugi::xml_node fieldData = Child(grid, "FieldData");
  const bool bend = ReadIntegers(text, Array(fieldData, kBendArray), 1, 0, 1).front() == 1;
  document.kind = bend ? "bend" : "nway";
  const pugi::xml_node far = fieldData.find_child_by_attribute("DataArray", "Name", kFarNodesArray);
  if (far) document.farNodes = ReadPoints(text, far, CountAttribute(far, "NumberOfTuples"));
}

std::vector<MeshElement> ReadCells(const std::string& text, pugi::xml_node piece, size_t cellCount,
                                   size_t nodeCount) {
  const pugi::xml_node cells = Child(piece, "Cells");
  const std::vector<long long> types = ReadIntegers(text, Array(cells, "types"), cellCount, 0, 255);
  const std::vector<long long> offsets =
      ReadIntegers(text, Array(cells, "offsets"), cellCount, 0, LLONG_MAX);
  // Offsets must be exactly those the types call for: then the connectivity
  // array has its length known before it is read, and no cell reads past it.
  std::vector<MeshElement> elements(cellCount);
  long long end = 0;
  for (size_t e = 0; e < cellCount; ++e) {
    if (!KindFromType(types[e], VtkCellType, elements[e].kind))
      throw MeshFileError(
          "cell " + std::to_string(e) + " has VTK type " + std::to_string(types[e]) +
          "; only tetrahedra (10), pyramids (14), wedges (13) and hexahedra (12) are read");
    end += elements[e].CornerCount();
    if (offsets[e] != end)
      throw MeshFileError("cell " + std::to_string(e) + " ends at offset " +
                          std::to_string(offsets[e]) + ", its type makes it end at " +
                          std::to_string(end));
  }
  const std::vector<long long> connectivity =
      ReadIntegers(text, Array(cells, "connectivity"), static_cast<size_t>(end), 0,
                   static_cast<long long>(nodeCount) - 1);
  size_t next = 0;
  for (MeshElement& element : elements) {
    element.nodes.fill(-1);
    for (int c = 0; c < element.CornerCount(); ++c)
      element.nodes[static_cast<size_t>(c)] = static_cast<int>(connectivity[next++]);
    element = SwapWedgeCorners(element);
  }
  return elements;
}

}  // namespace

std::string FormatVtuMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian) {
  const MemoryMesh& mesh = document.mesh;
  std::string out;
  out += "<?xml version=\"1.0\"?>\n";
  out += "<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" byte_order=\"LittleEndian\">\n";
  out += "  <UnstructuredGrid>\n";
  AppendFieldData(out, document);
  out += "    <Piece NumberOfPoints=\"" + std::to_string(mesh.nodes.size()) +
         "\" NumberOfCells=\"" + std::to_string(mesh.elements.size()) + "\">\n";
  out +=
      "      <Points>\n        <DataArray type=\"Float64\" Name=\"Points\" "
      "NumberOfComponents=\"3\" "
      "format=\"ascii\">\n";
  for (const auto& p : mesh.nodes) AppendPoint(out, p);
  out += "        </DataArray>\n      </Points>\n";
  AppendCells(out, mesh.elements);
  AppendCellData(out, mesh.elements, scaledJacobian);
  out += "    </Piece>\n  </UnstructuredGrid>\n</VTKFile>\n";
  return out;
}

MeshDocument ParseVtuMesh(const std::string& text) {
  pugi::xml_document xml;
  const pugi::xml_parse_result result =
      xml.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!result)
    throw MeshFileError("XML line " + std::to_string(LineAt(text, result.offset)) + ": " +
                        result.description());
  const pugi::xml_node root = xml.child("VTKFile");
  if (std::strcmp(root.attribute("type").value(), "UnstructuredGrid") != 0)
    throw MeshFileError(
        "not a VTK unstructured grid (expected <VTKFile type=\"UnstructuredGrid\">)");
  const pugi::xml_node grid = Child(root, "UnstructuredGrid");
  const pugi::xml_node piece = Child(grid, "Piece");
  if (piece.next_sibling("Piece"))
    throw MeshFileError("the grid has more than one <Piece>; only one can be read");

  MeshDocument document;
  ReadFieldData(text, grid, document);
  const size_t pointCount = CountAttribute(piece, "NumberOfPoints");
  document.mesh.nodes = ReadPoints(text, Child(Child(piece, "Points"), "DataArray"), pointCount);
  document.mesh.elements =
      ReadCells(text, piece, CountAttribute(piece, "NumberOfCells"), pointCount);
  return document;
}

}  // namespace vela::io::detail
