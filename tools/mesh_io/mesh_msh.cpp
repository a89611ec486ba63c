// The .msh mesh: Gmsh MSH 4.1, ASCII or binary.

#include "binary_data.h"
#include "cell_types.h"
#include "file_text.h"
#include "mesh_formats.h"
#include "msh_model.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

namespace vela::io::detail {

namespace {

// The section that carries the junction; Gmsh and other readers skip sections
// they do not know.
const char* const kJunctionSection = "VelaJunction";
constexpr int kVolumeTag = 1;

// The physical volume group: the one region of a junction mesh, named as the
// system files name the kinds of their regions.
std::string GroupName(const std::string& kind) {
  if (kind == "nway") return "junction";
  if (kind == "bend") return "bend";
  return "volume";
}

// One block per element kind; the element tag keeps each element's place in
// the library's order, so a reader sorting by tag gets that order back.
std::vector<MshBlock> Blocks(const std::vector<MeshElement>& elements) {
  std::vector<MshBlock> blocks;
  for (const ElementKind kind :
       {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa}) {
    MshBlock block{3, kVolumeTag, GmshElementType(kind), CornerCount(kind), {}, {}};
    for (size_t e = 0; e < elements.size(); ++e) {
      if (elements[e].kind != kind) continue;
      block.tags.push_back(static_cast<long long>(e + 1));
      for (int c = 0; c < block.corners; ++c)
        block.nodes.push_back(elements[e].nodes[static_cast<size_t>(c)] + 1);
    }
    if (!block.tags.empty()) blocks.push_back(std::move(block));
  }
  return blocks;
}

void AppendJunction(std::string& out, const MeshDocument& document) {
  if (document.kind.empty()) return;  // nothing known to carry
  out += std::string("$") + kJunctionSection + "\nkind " + document.kind + "\nfar_nodes " +
         std::to_string(document.farNodes.size()) + "\n";
  for (const auto& p : document.farNodes) AppendPoint(out, p);
  out += std::string("$End") + kJunctionSection + "\n";
}

// --- reading ---------------------------------------------------------------------------------

struct TaggedElement {
  ElementKind kind;
  std::array<long long, 8> nodeTags;
};

constexpr long long kMaxTag = LLONG_MAX / 2;

// The node count of Gmsh's element types of fewer than three dimensions
// (points, lines, triangles, quadrangles up to third order), which a file may
// hold around the volume and which are skipped; 0 for any other type.
int LowerDimensionNodeCount(long long type) {
  static const std::pair<long long, int> kTypes[] = {
      {15, 1}, {1, 2},  {8, 3},  {26, 4},  {27, 5},  {28, 6},  {2, 3},  {3, 4},  {9, 6},
      {10, 9}, {16, 8}, {20, 9}, {21, 10}, {22, 12}, {23, 15}, {24, 15}, {25, 21}, {36, 16}};
  for (const auto& [t, count] : kTypes)
    if (t == type) return count;
  return 0;
}

// The numbers of a section, from text or from Gmsh's binary layout (8-byte
// counts and tags, 4-byte entity fields, 8-byte reals, the byte order the
// file's leading 1 told).
class MshInput {
public:
  explicit MshInput(TokenScanner& in) : m_in(in) {}

  void SetBinary(bool littleEndian) {
    m_binary = true;
    m_littleEndian = littleEndian;
  }
  bool Binary() const { return m_binary; }

  // Binary data starts after the line break that ends the section's name.
  void StartData() {
    if (!m_binary) return;
    const std::string_view text = m_in.Text();
    size_t at = m_in.Offset();
    if (at < text.size() && text[at] == '\r') ++at;
    if (at >= text.size() || text[at] != '\n') m_in.Fail("expected a line break before binary data");
    m_in.MoveTo(at + 1);
  }

  long long Size(std::string_view what, long long min, long long max) {
    return m_binary ? Check(Raw(8, what), what, min, max) : m_in.NextInteger(what, min, max);
  }
  long long Int(std::string_view what, long long min, long long max) {
    if (!m_binary) return m_in.NextInteger(what, min, max);
    const std::uint64_t bits = Raw(4, what);
    const long long value = bits >= 0x80000000u ? static_cast<long long>(bits) - 0x100000000LL
                                                : static_cast<long long>(bits);
    return Check(value, what, min, max);
  }
  double Real(std::string_view what) {
    if (!m_binary) return m_in.NextFiniteDouble(what);
    const std::uint64_t bits = Raw(8, what);
    double value = 0.0;
    std::memcpy(&value, &bits, 8);
    if (!std::isfinite(value)) Fail(std::string(what) + " is not finite");
    return value;
  }
  [[noreturn]] void Fail(const std::string& problem) const {
    m_in.Fail(m_binary ? problem + " (binary data, byte " + std::to_string(m_in.Offset()) + ")"
                       : problem);
  }

private:
  std::uint64_t Raw(size_t size, std::string_view what) {
    const std::string_view text = m_in.Text();
    const size_t at = m_in.Offset();
    if (text.size() - at < size) Fail("expected " + std::string(what) + ", got the end of the data");
    m_in.MoveTo(at + size);
    return LoadUnsigned(text.data() + at, size, m_littleEndian);
  }
  long long Check(std::uint64_t bits, std::string_view what, long long min, long long max) const {
    if (bits > static_cast<std::uint64_t>(LLONG_MAX)) Fail(std::string(what) + " is out of range");
    return Check(static_cast<long long>(bits), what, min, max);
  }
  long long Check(long long value, std::string_view what, long long min, long long max) const {
    if (value < min || value > max)
      Fail(std::string(what) + " " + std::to_string(value) + " is outside " + std::to_string(min) +
           ".." + std::to_string(max));
    return value;
  }

  TokenScanner& m_in;
  bool m_binary = false;
  bool m_littleEndian = true;
};

void ReadFormat(TokenScanner& in, MshInput& input) {
  const std::string_view version = in.Next("the format version");
  if (version != "4.1") in.Fail("format version " + Quote(version) + " is not 4.1");
  const bool binary = in.NextInteger("the file type", 0, 1) == 1;
  in.NextInteger("the data size", 8, 8);
  if (binary) {
    // The integer 1 in the writer's byte order tells the reader that order.
    input.SetBinary(true);
    input.StartData();
    const size_t at = in.Offset();
    const std::string_view text = in.Text();
    if (text.size() - at < 4) in.Fail("the binary file ends before its byte-order mark");
    const std::uint64_t little = LoadUnsigned(text.data() + at, 4, true);
    if (little != 1 && LoadUnsigned(text.data() + at, 4, false) != 1)
      in.Fail("the byte-order mark is not the integer 1");
    input.SetBinary(little == 1);
    in.MoveTo(at + 4);
  }
  in.Expect("$EndMeshFormat");
}

// The first line of $Nodes and $Elements: block count, item count, smallest
// and largest tag. Returns the two counts.
std::pair<long long, long long> ReadCounts(MshInput& in, const std::string& item) {
  in.StartData();
  const long long blockCount = in.Size("the " + item + " block count", 0, INT_MAX);
  const long long count = in.Size("the " + item + " count", 0, INT_MAX);
  in.Size("the smallest " + item + " tag", 0, kMaxTag);
  in.Size("the largest " + item + " tag", 0, kMaxTag);
  return {blockCount, count};
}

// Nodes by tag; the order of the tags is the order of the nodes.
std::map<long long, std::array<double, 3>> ReadNodes(TokenScanner& scanner, MshInput& in) {
  const auto [blockCount, nodeCount] = ReadCounts(in, "node");
  std::map<long long, std::array<double, 3>> nodes;
  long long seen = 0;
  for (long long b = 0; b < blockCount; ++b) {
    const long long dim = in.Int("the entity dimension", 0, 3);
    in.Int("the entity tag", INT_MIN, INT_MAX);
    // Parametric nodes carry dim more coordinates, which the volume does not need.
    const long long extra = in.Int("the parametric flag", 0, 1) == 1 ? dim : 0;
    const long long count = in.Size("the block's node count", 0, nodeCount - seen);
    seen += count;
    std::vector<long long> tags;
    for (long long i = 0; i < count; ++i) tags.push_back(in.Size("a node tag", 1, kMaxTag));
    for (long long tag : tags) {
      std::array<double, 3> p{};
      for (double& x : p) x = in.Real("a node coordinate");
      for (long long k = 0; k < extra; ++k) in.Real("a parametric coordinate");
      if (!nodes.emplace(tag, p).second) in.Fail("node tag " + std::to_string(tag) + " is used twice");
    }
  }
  if (seen != nodeCount)
    in.Fail("the node blocks hold " + std::to_string(seen) + " nodes, " +
            std::to_string(nodeCount) + " were announced");
  scanner.Expect("$EndNodes");
  return nodes;
}

// One block's elements: solids go into elements, lower-dimension ones are read past.
void ReadElementBlock(MshInput& in, long long count, long long type,
                      std::map<long long, TaggedElement>& elements) {
  TaggedElement element{ElementKind::Tetra, {}};
  const bool solid = KindFromType(type, GmshElementType, element.kind);
  const int corners = solid ? CornerCount(element.kind) : LowerDimensionNodeCount(type);
  if (corners == 0)
    in.Fail("element type " + std::to_string(type) +
            " is not a first-order tetrahedron (4), pyramid (7), prism (6) or hexahedron (5)");
  for (long long i = 0; i < count; ++i) {
    const long long tag = in.Size("an element tag", 1, kMaxTag);
    for (size_t c = 0; c < static_cast<size_t>(corners); ++c) {
      const long long node = in.Size("a node tag", 1, kMaxTag);
      if (solid) element.nodeTags[c] = node;
    }
    if (solid && !elements.emplace(tag, element).second)
      in.Fail("element tag " + std::to_string(tag) + " is used twice");
  }
}

// Solid elements by tag; the order of the tags is the order of the elements.
std::map<long long, TaggedElement> ReadElements(TokenScanner& scanner, MshInput& in) {
  const auto [blockCount, elementCount] = ReadCounts(in, "element");
  std::map<long long, TaggedElement> elements;
  long long seen = 0;
  for (long long b = 0; b < blockCount; ++b) {
    in.Int("the entity dimension", 0, 3);
    in.Int("the entity tag", INT_MIN, INT_MAX);
    const long long type = in.Int("the element type", 1, INT_MAX);
    const long long count = in.Size("the block's element count", 0, elementCount - seen);
    seen += count;
    ReadElementBlock(in, count, type, elements);
  }
  if (seen != elementCount)
    in.Fail("the element blocks hold " + std::to_string(seen) + " elements, " +
            std::to_string(elementCount) + " were announced");
  scanner.Expect("$EndElements");
  return elements;
}

void ReadJunction(TokenScanner& in, MeshDocument& document) {
  in.Expect("kind");
  document.kind = std::string(in.Next("the junction kind"));
  in.Expect("far_nodes");
  const long long count = in.NextInteger("the far node count", 0, INT_MAX);
  document.farNodes.clear();  // a repeated section replaces the first
  for (long long i = 0; i < count; ++i) {
    std::array<double, 3> p{};
    for (double& x : p) x = in.NextFiniteDouble("a far node coordinate");
    document.farNodes.push_back(p);
  }
  in.Expect(std::string("$End") + kJunctionSection);
}

// Skips to the section's end marker. In a binary file the marker is looked
// for as bytes at the start of a line: tokens mean nothing in binary data.
void SkipSection(TokenScanner& in, std::string_view name, bool binary) {
  const std::string end = "$End" + std::string(name);
  if (binary) {
    const std::string_view text = in.Text();
    const size_t at = text.find("\n" + end, in.Offset());
    if (at == std::string_view::npos) in.Fail("no " + end + " after $" + std::string(name));
    in.MoveTo(at + 1);
    in.Expect(end);
    return;
  }
  while (in.Next(end) != end) {
  }
}

// The nodes in tag order, and the elements in tag order with their node tags
// turned into indices into those nodes.
void Store(const std::map<long long, std::array<double, 3>>& nodes,
           const std::map<long long, TaggedElement>& elements, MemoryMesh& mesh) {
  std::map<long long, int> index;
  for (const auto& [tag, point] : nodes) {
    index.emplace(tag, static_cast<int>(mesh.nodes.size()));
    mesh.nodes.push_back(point);
  }
  for (const auto& [tag, tagged] : elements) {
    MeshElement element;
    element.kind = tagged.kind;
    element.nodes.fill(-1);
    for (int c = 0; c < element.CornerCount(); ++c) {
      const long long nodeTag = tagged.nodeTags[static_cast<size_t>(c)];
      const auto it = index.find(nodeTag);
      if (it == index.end())
        throw MeshFileError("element " + std::to_string(tag) + " refers to node " +
                            std::to_string(nodeTag) + ", which does not exist");
      element.nodes[static_cast<size_t>(c)] = it->second;
    }
    mesh.elements.push_back(element);
  }
}

}  // namespace

std::string FormatMshMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian,
                          bool binary, const std::string& units) {
  MshModel model;
  model.units = units;
  model.physicals = {{3, kMshVolumeGroup, GroupName(document.kind)}};
  model.entities = {{3, kVolumeTag, BoxOf(document.mesh.nodes), {kMshVolumeGroup}, {}}};
  model.nodes = &document.mesh.nodes;
  model.nodeEntity = kVolumeTag;
  model.blocks = Blocks(document.mesh.elements);
  AddMshPatches(model, document.patches, document.faces,
                static_cast<long long>(document.mesh.elements.size()) + 1);
  model.dataName = "scaled_jacobian";
  model.dataValues = scaledJacobian;
  // A value for every element, faces included: readers such as meshio take
  // the view's values in file order for all of them. A face has no scaled
  // Jacobian: NaN says so.
  if (!scaledJacobian.empty())
    model.dataValues.resize(scaledJacobian.size() + document.faces.size(), std::nan(""));
  std::string out = FormatMshModel(model, binary);
  AppendJunction(out, document);
  return out;
}

MeshDocument ParseMshMesh(const std::string& text) {
  TokenScanner scanner(text, "");
  if (scanner.AtEnd()) throw MeshFileError("empty file: no $MeshFormat section");
  scanner.Expect("$MeshFormat");
  MshInput in(scanner);
  ReadFormat(scanner, in);
  MeshDocument document;
  std::map<long long, std::array<double, 3>> nodes;
  std::map<long long, TaggedElement> elements;
  bool sawNodes = false, sawElements = false;
  while (!scanner.AtEnd()) {
    const std::string_view section = scanner.Next("a section");
    if (section.size() < 2 || section.front() != '$')
      scanner.Fail("expected a section such as $Nodes, got " + Quote(section));
    const std::string_view name = section.substr(1);
    if (name == "Nodes") {
      nodes = ReadNodes(scanner, in);
      sawNodes = true;
    } else if (name == "Elements") {
      elements = ReadElements(scanner, in);
      sawElements = true;
    } else if (name == kJunctionSection) {
      ReadJunction(scanner, document);
    } else {
      SkipSection(scanner, name, in.Binary());
    }
  }
  if (!sawNodes || !sawElements) throw MeshFileError("no $Nodes or no $Elements section");
  Store(nodes, elements, document.mesh);
  return document;
}

}  // namespace vela::io::detail
