// The .msh mesh: Gmsh MSH 4.1, ASCII.

#include "cell_types.h"
#include "file_text.h"
#include "mesh_formats.h"

#include <algorithm>
#include <climits>
#include <map>
#include <string_view>
#include <utility>

namespace vela::io::detail {

namespace {

// The section that carries the junction; Gmsh and other readers skip sections
// they do not know.
const char* const kJunctionSection = "VelaJunction";
constexpr int kVolumeTag = 1;

void AppendEntities(std::string& out, const std::vector<std::array<double, 3>>& nodes) {
  std::array<double, 3> low{0.0, 0.0, 0.0}, high{0.0, 0.0, 0.0};
  if (!nodes.empty()) low = high = nodes.front();
  for (const auto& p : nodes) {
    for (size_t k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], p[k]);
      high[k] = std::max(high[k], p[k]);
    }
  }
  out += "$Entities\n0 0 0 1\n" + std::to_string(kVolumeTag);
  for (double v : {low[0], low[1], low[2], high[0], high[1], high[2]}) {
    out += ' ';
    AppendDouble(out, v);
  }
  out += " 0 0\n$EndEntities\n";
}

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

// One block per element kind; the element tag keeps each element's place in
// the library's order, so a reader sorting by tag gets that order back.
void AppendElements(std::string& out, const std::vector<MeshElement>& elements) {
  const ElementKind kinds[] = {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism,
                               ElementKind::Hexa};
  std::string blocks;
  int blockCount = 0;
  for (ElementKind kind : kinds) {
    size_t count = 0;
    for (const MeshElement& element : elements) count += element.kind == kind ? 1 : 0;
    if (count == 0) continue;
    ++blockCount;
    blocks += "3 " + std::to_string(kVolumeTag) + " " + std::to_string(GmshElementType(kind)) +
              " " + std::to_string(count) + "\n";
    for (size_t e = 0; e < elements.size(); ++e) {
      if (elements[e].kind != kind) continue;
      blocks += std::to_string(e + 1);
      for (int c = 0; c < elements[e].CornerCount(); ++c)
        blocks += ' ' + std::to_string(elements[e].nodes[static_cast<size_t>(c)] + 1);
      blocks += '\n';
    }
  }
  const std::string m = std::to_string(elements.size());
  out += "$Elements\n" + std::to_string(blockCount) + " " + m +
         (elements.empty() ? " 0 0\n" : " 1 " + m + "\n");
  out += blocks + "$EndElements\n";
}

void AppendScaledJacobian(std::string& out, const std::vector<double>& scaledJacobian) {
  // One string tag (the view name), one real tag (time), three integer tags
  // (time step, components, entity count).
  out += "$ElementData\n1\n\"scaled_jacobian\"\n1\n0\n3\n0\n1\n" +
         std::to_string(scaledJacobian.size()) + "\n";
  for (size_t e = 0; e < scaledJacobian.size(); ++e) {
    out += std::to_string(e + 1) + ' ';
    AppendDouble(out, scaledJacobian[e]);
    out += '\n';
  }
  out += "$EndElementData\n";
}

void AppendJunction(std::string& out, const MeshDocument& document) {
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

void ReadFormat(TokenScanner& in) {
  const std::string_view version = in.Next("the format version");
  if (version != "4.1") in.Fail("format version " + Quote(version) + " is not 4.1");
  if (in.NextInteger("the file type", 0, 1) != 0)
    in.Fail("binary .msh files cannot be read, only ASCII");
  in.NextInteger("the data size", 0, 64);
  in.Expect("$EndMeshFormat");
}

// The first line of $Nodes and $Elements: block count, item count, smallest
// and largest tag. Returns the two counts.
std::pair<long long, long long> ReadCounts(TokenScanner& in, const std::string& item) {
  const long long blockCount = in.NextInteger("the " + item + " block count", 0, INT_MAX);
  const long long count = in.NextInteger("the " + item + " count", 0, INT_MAX);
  in.NextInteger("the smallest " + item + " tag", 0, kMaxTag);
  in.NextInteger("the largest " + item + " tag", 0, kMaxTag);
  return {blockCount, count};
}

// Nodes by tag; the order of the tags is the order of the nodes.
std::map<long long, std::array<double, 3>> ReadNodes(TokenScanner& in) {
  const auto [blockCount, nodeCount] = ReadCounts(in, "node");
  std::map<long long, std::array<double, 3>> nodes;
  long long seen = 0;
  for (long long b = 0; b < blockCount; ++b) {
    in.NextInteger("the entity dimension", 0, 3);
    in.NextInteger("the entity tag", INT_MIN, INT_MAX);
    if (in.NextInteger("the parametric flag", 0, 1) != 0)
      in.Fail("parametric nodes cannot be read");
    const long long count = in.NextInteger("the block's node count", 0, nodeCount - seen);
    seen += count;
    std::vector<long long> tags;
    for (long long i = 0; i < count; ++i) tags.push_back(in.NextInteger("a node tag", 1, kMaxTag));
    for (long long tag : tags) {
      std::array<double, 3> p{};
      for (double& x : p) x = in.NextFiniteDouble("a node coordinate");
      if (!nodes.emplace(tag, p).second)
        in.Fail("node tag " + std::to_string(tag) + " is used twice");
    }
  }
  if (seen != nodeCount)
    in.Fail("the node blocks hold " + std::to_string(seen) + " nodes, " +
            std::to_string(nodeCount) + " were announced");
  in.Expect("$EndNodes");
  return nodes;
}

// Elements by tag; the order of the tags is the order of the elements.
std::map<long long, TaggedElement> ReadElements(TokenScanner& in) {
  const auto [blockCount, elementCount] = ReadCounts(in, "element");
  std::map<long long, TaggedElement> elements;
  long long seen = 0;
  for (long long b = 0; b < blockCount; ++b) {
    in.NextInteger("the entity dimension", 0, 3);
    in.NextInteger("the entity tag", INT_MIN, INT_MAX);
    const long long type = in.NextInteger("the element type", 1, INT_MAX);
    TaggedElement element{ElementKind::Tetra, {}};
    if (!KindFromType(type, GmshElementType, element.kind))
      in.Fail("element type " + std::to_string(type) +
              " is not a first-order tetrahedron (4), pyramid (7), prism (6) or hexahedron (5)");
    const long long count = in.NextInteger("the block's element count", 0, elementCount - seen);
    seen += count;
    for (long long i = 0; i < count; ++i) {
      const long long tag = in.NextInteger("an element tag", 1, kMaxTag);
      for (int c = 0; c < CornerCount(element.kind); ++c)
        element.nodeTags[static_cast<size_t>(c)] = in.NextInteger("a node tag", 1, kMaxTag);
      if (!elements.emplace(tag, element).second)
        in.Fail("element tag " + std::to_string(tag) + " is used twice");
    }
  }
  if (seen != elementCount)
    in.Fail("the element blocks hold " + std::to_string(seen) + " elements, " +
            std::to_string(elementCount) + " were announced");
  in.Expect("$EndElements");
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

void SkipSection(TokenScanner& in, std::string_view name) {
  const std::string end = "$End" + std::string(name);
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

std::string FormatMshMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian) {
  std::string out = "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n";
  AppendEntities(out, document.mesh.nodes);
  AppendNodes(out, document.mesh.nodes);
  AppendElements(out, document.mesh.elements);
  if (!scaledJacobian.empty()) AppendScaledJacobian(out, scaledJacobian);
  AppendJunction(out, document);
  return out;
}

MeshDocument ParseMshMesh(const std::string& text) {
  TokenScanner in(text, "");
  if (in.AtEnd()) throw MeshFileError("empty file: no $MeshFormat section");
  in.Expect("$MeshFormat");
  ReadFormat(in);
  MeshDocument document;
  std::map<long long, std::array<double, 3>> nodes;
  std::map<long long, TaggedElement> elements;
  bool sawNodes = false, sawElements = false, sawJunction = false;
  while (!in.AtEnd()) {
    const std::string_view section = in.Next("a section");
    if (section.size() < 2 || section.front() != '$')
      in.Fail("expected a section such as $Nodes, got " + Quote(section));
    const std::string_view name = section.substr(1);
    if (name == "Nodes") {
      nodes = ReadNodes(in);
      sawNodes = true;
    } else if (name == "Elements") {
      elements = ReadElements(in);
      sawElements = true;
    } else if (name == kJunctionSection) {
      ReadJunction(in, document);
      sawJunction = true;
    } else {
      SkipSection(in, name);
    }
  }
  if (!sawNodes || !sawElements) throw MeshFileError("no $Nodes or no $Elements section");
  if (!sawJunction)
    throw MeshFileError(
        std::string("no $") + kJunctionSection +
        " section: the file does not say whether it holds a bend or an N-way junction");
  Store(nodes, elements, document.mesh);
  return document;
}

}  // namespace vela::io::detail
