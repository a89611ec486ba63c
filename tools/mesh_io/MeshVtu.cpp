// The .vtu mesh: VTK XML unstructured grid, ASCII.

#include "FileText.h"
#include "MeshFormats.h"
#include "MiniXml.h"

#include <climits>

namespace vela::io::detail {

namespace {

// Field-data names that carry the junction through a .vtu file.
const char* const kBendArray = "junction_is_bend";
const char* const kFarNodesArray = "far_nodes";

void AppendPoint(std::string& out, const std::array<double, 3>& p) {
  AppendDouble(out, p[0]);
  out += ' ';
  AppendDouble(out, p[1]);
  out += ' ';
  AppendDouble(out, p[2]);
  out += '\n';
}

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
    const CornerOrder order = VtkCornerOrder(element.kind);
    const std::array<int, 8> corners = ToFileOrder(element, order);
    for (int c = 0; c < order.count; ++c) {
      if (c > 0) out += ' ';
      out += std::to_string(corners[static_cast<size_t>(c)]);
    }
    out += '\n';
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

std::string Label(const XmlElement& array) {
  const std::string* name = array.Attribute("Name");
  return "DataArray \"" + (name ? *name : std::string("?")) + "\"";
}

TokenScanner AsciiScanner(const XmlElement& array) {
  const std::string* format = array.Attribute("format");
  if (format && *format != "ascii")
    throw MeshFileError(Label(array) + " (line " + std::to_string(array.line) + ") is stored as '" +
                        *format + "'; only ascii data can be read");
  return TokenScanner(array.text, Label(array), array.textLine);
}

void ExpectEnd(TokenScanner& scanner, size_t count) {
  if (!scanner.AtEnd()) scanner.Fail("more than the expected " + std::to_string(count) + " values");
}

std::vector<double> ReadDoubles(const XmlElement& array, size_t count) {
  TokenScanner scanner = AsciiScanner(array);
  std::vector<double> values;
  while (values.size() < count) values.push_back(scanner.NextFiniteDouble("a value"));
  ExpectEnd(scanner, count);
  return values;
}

std::vector<long long> ReadIntegers(const XmlElement& array, size_t count, long long min,
                                    long long max) {
  TokenScanner scanner = AsciiScanner(array);
  std::vector<long long> values;
  while (values.size() < count) values.push_back(scanner.NextInteger("a value", min, max));
  ExpectEnd(scanner, count);
  return values;
}

const XmlElement& RequiredChild(const XmlElement& parent, const std::string& name) {
  const XmlElement* child = parent.Child(name);
  if (!child)
    throw MeshFileError("<" + parent.name + "> (line " + std::to_string(parent.line) +
                        ") has no <" + name + ">");
  return *child;
}

const XmlElement* FindArray(const XmlElement& parent, const std::string& name) {
  for (const XmlElement& child : parent.children) {
    const std::string* childName = child.Attribute("Name");
    if (child.name == "DataArray" && childName && *childName == name) return &child;
  }
  return nullptr;
}

const XmlElement& RequiredArray(const XmlElement& parent, const std::string& name) {
  const XmlElement* array = FindArray(parent, name);
  if (!array)
    throw MeshFileError("<" + parent.name + "> (line " + std::to_string(parent.line) +
                        ") has no DataArray \"" + name + "\"");
  return *array;
}

long long CountAttribute(const XmlElement& element, const std::string& key) {
  const std::string* value = element.Attribute(key);
  long long count = 0;
  if (!value || !ParseInteger(*value, count) || count < 0 || count > INT_MAX)
    throw MeshFileError("<" + element.name + "> (line " + std::to_string(element.line) +
                        ") needs " + key + " as a count in 0.." + std::to_string(INT_MAX));
  return count;
}

void CheckComponents(const XmlElement& array, int expected) {
  const std::string* value = array.Attribute("NumberOfComponents");
  if (!value || *value != std::to_string(expected))
    throw MeshFileError(Label(array) + " (line " + std::to_string(array.line) +
                        ") must have NumberOfComponents=\"" + std::to_string(expected) + "\"");
}

std::vector<std::array<double, 3>> ToPoints(const std::vector<double>& values) {
  std::vector<std::array<double, 3>> points(values.size() / 3);
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = {values[3 * i], values[3 * i + 1], values[3 * i + 2]};
  return points;
}

void ReadFieldData(const XmlElement& grid, MeshDocument& document) {
  const XmlElement* fieldData = grid.Child("FieldData");
  const XmlElement* bend = fieldData ? FindArray(*fieldData, kBendArray) : nullptr;
  if (!bend)
    throw MeshFileError(std::string("no field data \"") + kBendArray +
                        "\": the file does not say whether it holds a bend or an N-way junction");
  document.kind = ReadIntegers(*bend, 1, 0, 1).front() == 1 ? "bend" : "nway";
  if (const XmlElement* far = FindArray(*fieldData, kFarNodesArray)) {
    CheckComponents(*far, 3);
    const long long count = CountAttribute(*far, "NumberOfTuples");
    document.farNodes = ToPoints(ReadDoubles(*far, static_cast<size_t>(3 * count)));
  }
}

std::vector<MeshElement> ReadCells(const XmlElement& piece, size_t cellCount, size_t nodeCount) {
  const XmlElement& cells = RequiredChild(piece, "Cells");
  const std::vector<long long> types =
      ReadIntegers(RequiredArray(cells, "types"), cellCount, 0, 255);
  const std::vector<long long> offsets = ReadIntegers(RequiredArray(cells, "offsets"), cellCount, 0,
                                                      8LL * static_cast<long long>(cellCount));
  const size_t connectivityCount = cellCount == 0 ? 0 : static_cast<size_t>(offsets.back());
  const XmlElement& connectivityArray = RequiredArray(cells, "connectivity");
  const std::vector<long long> connectivity =
      ReadIntegers(connectivityArray, connectivityCount, 0, static_cast<long long>(nodeCount) - 1);

  std::vector<MeshElement> elements;
  elements.reserve(cellCount);
  long long start = 0;
  for (size_t e = 0; e < cellCount; ++e) {
    ElementKind kind = ElementKind::Tetra;
    if (!KindFromVtkCellType(types[e], kind))
      throw MeshFileError(
          "cell " + std::to_string(e) + " has VTK type " + std::to_string(types[e]) +
          "; only tetrahedra (10), pyramids (14), wedges (13) and hexahedra (12) are read");
    const CornerOrder order = VtkCornerOrder(kind);
    if (offsets[e] - start != order.count)
      throw MeshFileError("cell " + std::to_string(e) + " (VTK type " + std::to_string(types[e]) +
                          ") has " + std::to_string(offsets[e] - start) +
                          " points in the offsets, expected " + std::to_string(order.count));
    // Offsets that fall back after this cell would have made the connectivity
    // array shorter than this cell's end.
    if (static_cast<size_t>(offsets[e]) > connectivity.size())
      throw MeshFileError("cell " + std::to_string(e) + " ends at offset " +
                          std::to_string(offsets[e]) + ", past the last offset " +
                          std::to_string(connectivity.size()));
    std::array<int, 8> corners;
    corners.fill(-1);
    for (int c = 0; c < order.count; ++c)
      corners[static_cast<size_t>(c)] =
          static_cast<int>(connectivity[static_cast<size_t>(start + c)]);
    elements.push_back(FromFileOrder(kind, corners, order));
    start = offsets[e];
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
  const XmlElement root = ParseXml(text);
  const std::string* type = root.Attribute("type");
  if (root.name != "VTKFile" || !type || *type != "UnstructuredGrid")
    throw MeshFileError(
        "not a VTK unstructured grid (expected <VTKFile type=\"UnstructuredGrid\">)");
  const XmlElement& grid = RequiredChild(root, "UnstructuredGrid");

  size_t pieceCount = 0;
  for (const XmlElement& child : grid.children) pieceCount += child.name == "Piece" ? 1 : 0;
  if (pieceCount != 1)
    throw MeshFileError("the grid has " + std::to_string(pieceCount) +
                        " pieces; exactly one can be read");
  const XmlElement& piece = RequiredChild(grid, "Piece");

  MeshDocument document;
  ReadFieldData(grid, document);
  const size_t pointCount = static_cast<size_t>(CountAttribute(piece, "NumberOfPoints"));
  const size_t cellCount = static_cast<size_t>(CountAttribute(piece, "NumberOfCells"));

  const XmlElement& points = RequiredChild(piece, "Points");
  if (points.children.size() != 1 || points.children.front().name != "DataArray")
    throw MeshFileError("<Points> (line " + std::to_string(points.line) +
                        ") must hold exactly one DataArray");
  CheckComponents(points.children.front(), 3);
  document.mesh.nodes = ToPoints(ReadDoubles(points.children.front(), 3 * pointCount));
  document.mesh.elements = ReadCells(piece, cellCount, pointCount);
  return document;
}

}  // namespace vela::io::detail
