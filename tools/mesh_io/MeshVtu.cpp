// The .vtu mesh: VTK XML unstructured grid, ASCII.

#include "FileText.h"
#include "MeshFormats.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>

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
//
// pugixml reports places as byte offsets into the text; messages speak in lines, so the text
// travels along with the nodes.

// pugixml's offset as a position in text; it is -1 when pugixml has none.
size_t PositionOf(std::string_view text, std::ptrdiff_t offset) {
  return offset < 0 ? 0 : std::min(static_cast<size_t>(offset), text.size());
}

int LineAt(std::string_view text, std::ptrdiff_t offset) {
  const auto end = text.begin() + static_cast<std::ptrdiff_t>(PositionOf(text, offset));
  return 1 + static_cast<int>(std::count(text.begin(), end, '\n'));
}

int LineOf(std::string_view text, pugi::xml_node node) { return LineAt(text, node.offset_debug()); }

// "<Piece> (line 12)"
std::string Where(std::string_view text, pugi::xml_node element) {
  return std::string("<") + element.name() + "> (line " + std::to_string(LineOf(text, element)) +
         ")";
}

[[noreturn]] void FailXml(std::string_view text, std::ptrdiff_t offset,
                          const std::string& problem) {
  throw MeshFileError("XML line " + std::to_string(LineAt(text, offset)) + ": " + problem);
}

// Fragment mode keeps text outside the root element, so that it can be refused, and lets an
// empty file through to the same "no root element" as a file of comments. The text is taken as
// UTF-8 so that offsets stay byte offsets.
pugi::xml_parse_result LoadXml(pugi::xml_document& document, std::string_view text) {
  return document.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_fragment,
                              pugi::encoding_utf8);
}

bool IsElement(pugi::xml_node node) { return node.type() == pugi::node_element; }

size_t ElementCount(pugi::xml_node node) {
  const auto children = node.children();
  return static_cast<size_t>(std::count_if(children.begin(), children.end(), IsElement));
}

pugi::xml_node LastElementChild(pugi::xml_node node) {
  pugi::xml_node child = node.last_child();
  while (child && !IsElement(child)) child = child.previous_sibling();
  return child;
}

// pugixml says that an end tag did not match, or that the text ended inside an element, but not
// which element was open there. That element lies on the chain of last children of the partial
// tree, below any children it has already closed; it is the one whose end tag, put at the
// failing place, lets the parser go past it. Each trial parses the text again, so only a few
// names are tried. Returns the open element's name, "" when no element is open there, or
// nothing when it is nested too deeply to find.
std::optional<std::string> OpenElementAt(std::string_view text, size_t at,
                                         const pugi::xml_document& partial) {
  constexpr size_t kMaxTrials = 16;
  std::vector<std::string> chain;
  for (pugi::xml_node node = LastElementChild(partial); node; node = LastElementChild(node))
    chain.emplace_back(node.name());
  std::vector<std::string> tried;
  for (auto name = chain.rbegin(); name != chain.rend(); ++name) {
    if (std::find(tried.begin(), tried.end(), *name) != tried.end()) continue;
    if (tried.size() == kMaxTrials) return std::nullopt;
    tried.push_back(*name);
    const std::string trial = std::string(text.substr(0, at)) + "</" + *name + ">";
    pugi::xml_document scratch;
    const pugi::xml_parse_result result = LoadXml(scratch, trial);
    if (result || static_cast<size_t>(result.offset) != at + 2) return *name;
  }
  return std::string();
}

// pugixml reports a mismatched end tag at its name, and elements left open at the end of the
// text near that end.
[[noreturn]] void FailMismatch(std::string_view text, const pugi::xml_parse_result& result,
                               const pugi::xml_document& partial) {
  const size_t offset = PositionOf(text, result.offset);
  const bool atEndTag = offset >= 2 && text.substr(offset - 2, 2) == "</";
  const std::string_view rest = atEndTag ? text.substr(offset) : std::string_view();
  const size_t nameLength = rest.find_first_of(" \t\r\n<>/");
  const std::string endName(rest.substr(0, std::min<size_t>(nameLength, 40)));
  if (atEndTag && nameLength == std::string_view::npos)
    FailXml(text, result.offset, "the text ends inside the end tag </" + endName);
  const std::optional<std::string> open =
      OpenElementAt(text, atEndTag ? offset - 2 : text.size(), partial);
  if (atEndTag)
    FailXml(text, result.offset,
            "end tag </" + endName + "> does not close " +
                (!open           ? "the open element"
                 : open->empty() ? "any element"
                                 : "<" + *open + ">"));
  FailXml(text, result.offset,
          (open && !open->empty() ? "<" + *open + ">" : std::string("an element")) +
              " is never closed");
}

// The root element of a well-formed document. Throws MeshFileError "XML line N: problem" for
// text that is not well-formed XML, holds a NUL byte (where pugixml would silently stop), text
// outside the root element, or not exactly one root element.
pugi::xml_node LoadRoot(pugi::xml_document& document, std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos)
    FailXml(text, static_cast<std::ptrdiff_t>(nul), "a NUL byte, which XML does not allow");
  const pugi::xml_parse_result result = LoadXml(document, text);
  if (result.status == pugi::status_end_element_mismatch) FailMismatch(text, result, document);
  if (!result) {
    std::string problem = result.description();
    if (!problem.empty()) problem.front() = static_cast<char>(std::tolower(problem.front()));
    FailXml(text, result.offset, problem);
  }
  pugi::xml_node root;
  for (pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
      // Point at the first visible character, past the line breaks the text may start with.
      const std::string_view value = node.value();
      const size_t visible = std::min(value.find_first_not_of(" \t\r\n"), value.size());
      FailXml(text, node.offset_debug() + static_cast<std::ptrdiff_t>(visible),
              "text outside the root element");
    }
    if (node.type() != pugi::node_element) continue;
    if (root) FailXml(text, node.offset_debug(), "a second root element");
    root = node;
  }
  if (!root) FailXml(text, static_cast<std::ptrdiff_t>(text.size()), "no root element");
  return root;
}

// An element's character data and the line where it starts. pugixml splits the data around
// comments and CDATA sections; joining the pieces reads them as one, as XML means them.
struct CharacterData {
  std::string text;
  int line = 1;
};

CharacterData CharacterDataOf(std::string_view text, pugi::xml_node element) {
  CharacterData data{{}, LineOf(text, element)};
  bool first = true;
  for (pugi::xml_node child : element.children()) {
    if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) continue;
    if (first) data.line = LineOf(text, child);
    first = false;
    data.text += child.value();
  }
  return data;
}

std::string Label(pugi::xml_node array) {
  const pugi::xml_attribute name = array.attribute("Name");
  return "DataArray \"" + std::string(name ? name.value() : "?") + "\"";
}

// Reads an array's values with a scanner that names the array and counts lines in the file.
template <typename Read>
auto ReadValues(std::string_view text, pugi::xml_node array, size_t count, Read read) {
  const pugi::xml_attribute format = array.attribute("format");
  if (format && std::strcmp(format.value(), "ascii") != 0)
    throw MeshFileError(Label(array) + " (line " + std::to_string(LineOf(text, array)) +
                        ") is stored as '" + format.value() + "'; only ascii data can be read");
  const CharacterData data = CharacterDataOf(text, array);
  TokenScanner scanner(data.text, Label(array), data.line);
  std::vector<decltype(read(scanner))> values;
  while (values.size() < count) values.push_back(read(scanner));
  if (!scanner.AtEnd()) scanner.Fail("more than the expected " + std::to_string(count) + " values");
  return values;
}

std::vector<double> ReadDoubles(std::string_view text, pugi::xml_node array, size_t count) {
  return ReadValues(text, array, count,
                    [](TokenScanner& scanner) { return scanner.NextFiniteDouble("a value"); });
}

std::vector<long long> ReadIntegers(std::string_view text, pugi::xml_node array, size_t count,
                                    long long min, long long max) {
  return ReadValues(text, array, count, [min, max](TokenScanner& scanner) {
    return scanner.NextInteger("a value", min, max);
  });
}

pugi::xml_node RequiredChild(std::string_view text, pugi::xml_node parent, const char* name) {
  const pugi::xml_node child = parent.child(name);
  if (!child) throw MeshFileError(Where(text, parent) + " has no <" + name + ">");
  return child;
}

pugi::xml_node FindArray(pugi::xml_node parent, const char* name) {
  return parent.find_child_by_attribute("DataArray", "Name", name);
}

pugi::xml_node RequiredArray(std::string_view text, pugi::xml_node parent, const char* name) {
  const pugi::xml_node array = FindArray(parent, name);
  if (!array) throw MeshFileError(Where(text, parent) + " has no DataArray \"" + name + "\"");
  return array;
}

long long CountAttribute(std::string_view text, pugi::xml_node element, const char* key) {
  const pugi::xml_attribute value = element.attribute(key);
  long long count = 0;
  if (!value || !ParseInteger(value.value(), count) || count < 0 || count > INT_MAX)
    throw MeshFileError(Where(text, element) + " needs " + key + " as a count in 0.." +
                        std::to_string(INT_MAX));
  return count;
}

void CheckComponents(std::string_view text, pugi::xml_node array, int expected) {
  if (array.attribute("NumberOfComponents").value() != std::to_string(expected))
    throw MeshFileError(Label(array) + " (line " + std::to_string(LineOf(text, array)) +
                        ") must have NumberOfComponents=\"" + std::to_string(expected) + "\"");
}

std::vector<std::array<double, 3>> ToPoints(const std::vector<double>& values) {
  std::vector<std::array<double, 3>> points(values.size() / 3);
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = {values[3 * i], values[3 * i + 1], values[3 * i + 2]};
  return points;
}

void ReadFieldData(std::string_view text, pugi::xml_node grid, MeshDocument& document) {
  const pugi::xml_node fieldData = grid.child("FieldData");
  const pugi::xml_node bend = FindArray(fieldData, kBendArray);
  if (!bend)
    throw MeshFileError(std::string("no field data \"") + kBendArray +
                        "\": the file does not say whether it holds a bend or an N-way junction");
  document.kind = ReadIntegers(text, bend, 1, 0, 1).front() == 1 ? "bend" : "nway";
  if (const pugi::xml_node far = FindArray(fieldData, kFarNodesArray)) {
    CheckComponents(text, far, 3);
    const long long count = CountAttribute(text, far, "NumberOfTuples");
    document.farNodes = ToPoints(ReadDoubles(text, far, static_cast<size_t>(3 * count)));
  }
}

std::vector<MeshElement> ReadCells(std::string_view text, pugi::xml_node piece, size_t cellCount,
                                   size_t nodeCount) {
  const pugi::xml_node cells = RequiredChild(text, piece, "Cells");
  const std::vector<long long> types =
      ReadIntegers(text, RequiredArray(text, cells, "types"), cellCount, 0, 255);
  const std::vector<long long> offsets =
      ReadIntegers(text, RequiredArray(text, cells, "offsets"), cellCount, 0,
                   8LL * static_cast<long long>(cellCount));
  const size_t connectivityCount = cellCount == 0 ? 0 : static_cast<size_t>(offsets.back());
  const std::vector<long long> connectivity =
      ReadIntegers(text, RequiredArray(text, cells, "connectivity"), connectivityCount, 0,
                   static_cast<long long>(nodeCount) - 1);

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
  pugi::xml_document xml;
  const pugi::xml_node root = LoadRoot(xml, text);
  if (std::strcmp(root.name(), "VTKFile") != 0 ||
      std::strcmp(root.attribute("type").value(), "UnstructuredGrid") != 0)
    throw MeshFileError(
        "not a VTK unstructured grid (expected <VTKFile type=\"UnstructuredGrid\">)");
  const pugi::xml_node grid = RequiredChild(text, root, "UnstructuredGrid");

  const auto pieces = grid.children("Piece");
  const std::ptrdiff_t pieceCount = std::distance(pieces.begin(), pieces.end());
  if (pieceCount != 1)
    throw MeshFileError("the grid has " + std::to_string(pieceCount) +
                        " pieces; exactly one can be read");
  const pugi::xml_node piece = grid.child("Piece");

  MeshDocument document;
  ReadFieldData(text, grid, document);
  const size_t pointCount = static_cast<size_t>(CountAttribute(text, piece, "NumberOfPoints"));
  const size_t cellCount = static_cast<size_t>(CountAttribute(text, piece, "NumberOfCells"));

  const pugi::xml_node points = RequiredChild(text, piece, "Points");
  const pugi::xml_node pointArray = points.find_child(IsElement);
  if (ElementCount(points) != 1 || std::strcmp(pointArray.name(), "DataArray") != 0)
    throw MeshFileError(Where(text, points) + " must hold exactly one DataArray");
  CheckComponents(text, pointArray, 3);
  document.mesh.nodes = ToPoints(ReadDoubles(text, pointArray, 3 * pointCount));
  document.mesh.elements = ReadCells(text, piece, cellCount, pointCount);
  return document;
}

}  // namespace vela::io::detail
