// The .msh mesh: Gmsh MSH 4.1, ASCII.

#include "FileText.h"
#include "MeshFormats.h"

#include <algorithm>
#include <climits>

namespace vela::io::detail {

namespace {

// The section that carries the junction; Gmsh and other readers skip sections
// they do not know.
const char* const kJunctionSection = "VelaJunction";
constexpr int kVolumeTag = 1;

void AppendPoint(std::string& out, const std::array<double, 3>& p) {
  AppendDouble(out, p[0]);
  out += ' ';
  AppendDouble(out, p[1]);
  out += ' ';
  AppendDouble(out, p[2]);
  out += '\n';
}

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

struct TaggedNode {
  long long tag;
  std::array<double, 3> point;
};

struct TaggedElement {
  long long tag;
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

std::vector<TaggedNode> ReadNodes(TokenScanner& in) {
  const long long blockCount = in.NextInteger("the node block count", 0, INT_MAX);
  const long long nodeCount = in.NextInteger("the node count", 0, INT_MAX);
  in.NextInteger("the smallest node tag", 0, kMaxTag);
  in.NextInteger("the largest node tag", 0, kMaxTag);
  std::vector<TaggedNode> nodes;
  for (long long b = 0; b < blockCount; ++b) {
    in.NextInteger("the entity dimension", 0, 3);
    in.NextInteger("the entity tag", INT_MIN, INT_MAX);
    if (in.NextInteger("the parametric flag", 0, 1) != 0)
      in.Fail("parametric nodes cannot be read");
    const long long count = in.NextInteger("the block's node count", 0, nodeCount);
    if (static_cast<long long>(nodes.size()) + count > nodeCount)
      in.Fail("the node blocks hold more than the " + std::to_string(nodeCount) +
              " nodes announced");
    const size_t first = nodes.size();
    for (long long i = 0; i < count; ++i)
      nodes.push_back({in.NextInteger("a node tag", 1, kMaxTag), {}});
    for (size_t i = first; i < nodes.size(); ++i)
      for (size_t k = 0; k < 3; ++k) nodes[i].point[k] = in.NextFiniteDouble("a node coordinate");
  }
  if (static_cast<long long>(nodes.size()) != nodeCount)
    in.Fail("the node blocks hold " + std::to_string(nodes.size()) + " nodes, " +
            std::to_string(nodeCount) + " were announced");
  in.Expect("$EndNodes");
  return nodes;
}

// Nodes per element of the lower-dimensional first-order types a Gmsh mesh
// may carry next to its volume (points, lines, triangles, quadrangles); they
// are skipped. 0 for any other type.
int LowerDimensionNodeCount(long long type) {
  switch (type) {
    case 15: return 1;
    case 1: return 2;
    case 2: return 3;
    case 3: return 4;
    default: return 0;
  }
}

std::vector<TaggedElement> ReadElements(TokenScanner& in) {
  const long long blockCount = in.NextInteger("the element block count", 0, INT_MAX);
  const long long elementCount = in.NextInteger("the element count", 0, INT_MAX);
  in.NextInteger("the smallest element tag", 0, kMaxTag);
  in.NextInteger("the largest element tag", 0, kMaxTag);
  std::vector<TaggedElement> elements;
  long long seen = 0;
  for (long long b = 0; b < blockCount; ++b) {
    const long long dimension = in.NextInteger("the entity dimension", 0, 3);
    in.NextInteger("the entity tag", INT_MIN, INT_MAX);
    const long long type = in.NextInteger("the element type", 1, INT_MAX);
    const long long count = in.NextInteger("the block's element count", 0, elementCount - seen);
    seen += count;
    ElementKind kind = ElementKind::Tetra;
    int cornerCount = 0;
    if (dimension == 3) {
      if (!KindFromGmshElementType(type, kind))
        in.Fail("element type " + std::to_string(type) +
                " is not a first-order tetrahedron (4), pyramid (7), prism (6) or hexahedron (5)");
      cornerCount = CornerCount(kind);
    } else {
      cornerCount = LowerDimensionNodeCount(type);
      if (cornerCount == 0) in.Fail("element type " + std::to_string(type) + " cannot be skipped");
    }
    for (long long i = 0; i < count; ++i) {
      TaggedElement element{in.NextInteger("an element tag", 1, kMaxTag), kind, {}};
      element.nodeTags.fill(0);
      for (int c = 0; c < cornerCount; ++c)
        element.nodeTags[static_cast<size_t>(c)] = in.NextInteger("a node tag", 1, kMaxTag);
      if (dimension == 3) elements.push_back(element);
    }
  }
  if (seen != elementCount)
    in.Fail("the element blocks hold " + std::to_string(seen) + " elements, " +
            std::to_string(elementCount) + " were announced");
  in.Expect("$EndElements");
  return elements;
}

void ReadJunction(TokenScanner& in, MeshDocument& document) {
  document.farNodes.clear();  // a repeated section replaces the first
  in.Expect("kind");
  document.kind = std::string(in.Next("the junction kind"));
  in.Expect("far_nodes");
  const long long count = in.NextInteger("the far node count", 0, INT_MAX);
  for (long long i = 0; i < count; ++i) {
    std::array<double, 3> p{};
    for (size_t k = 0; k < 3; ++k) p[k] = in.NextFiniteDouble("a far node coordinate");
    document.farNodes.push_back(p);
  }
  in.Expect(std::string("$End") + kJunctionSection);
}

void SkipSection(TokenScanner& in, std::string_view name) {
  const std::string end = "$End" + std::string(name);
  while (in.Next(end) != end) {
  }
}

// Orders nodes by tag; a node's index is its rank.
void StoreNodes(std::vector<TaggedNode>& nodes, MeshDocument& document,
                std::vector<long long>& sortedTags) {
  std::sort(nodes.begin(), nodes.end(),
            [](const TaggedNode& a, const TaggedNode& b) { return a.tag < b.tag; });
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (i > 0 && nodes[i].tag == nodes[i - 1].tag)
      throw MeshFileError("node tag " + std::to_string(nodes[i].tag) + " is used twice");
    sortedTags.push_back(nodes[i].tag);
    document.mesh.nodes.push_back(nodes[i].point);
  }
}

void StoreElements(std::vector<TaggedElement>& elements, const std::vector<long long>& sortedTags,
                   MeshDocument& document) {
  std::sort(elements.begin(), elements.end(),
            [](const TaggedElement& a, const TaggedElement& b) { return a.tag < b.tag; });
  for (size_t e = 0; e < elements.size(); ++e) {
    if (e > 0 && elements[e].tag == elements[e - 1].tag)
      throw MeshFileError("element tag " + std::to_string(elements[e].tag) + " is used twice");
    std::array<int, 8> corners;
    corners.fill(-1);
    for (int c = 0; c < CornerCount(elements[e].kind); ++c) {
      const long long tag = elements[e].nodeTags[static_cast<size_t>(c)];
      const auto it = std::lower_bound(sortedTags.begin(), sortedTags.end(), tag);
      if (it == sortedTags.end() || *it != tag)
        throw MeshFileError("element " + std::to_string(elements[e].tag) + " refers to node " +
                            std::to_string(tag) + ", which does not exist");
      corners[static_cast<size_t>(c)] = static_cast<int>(it - sortedTags.begin());
    }
    MeshElement element;
    element.kind = elements[e].kind;
    element.nodes = corners;  // Gmsh numbers the corners as the library does
    document.mesh.elements.push_back(element);
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
  MeshDocument document;
  bool sawFormat = false, sawJunction = false;
  std::vector<TaggedNode> nodes;
  std::vector<TaggedElement> elements;
  bool sawNodes = false, sawElements = false;
  while (!in.AtEnd()) {
    const std::string_view section = in.Next("a section");
    if (section.size() < 2 || section.front() != '$')
      in.Fail("expected a section such as $Nodes, got " + Quote(section));
    if (!sawFormat && section != "$MeshFormat") in.Fail("the file must start with $MeshFormat");
    const std::string_view name = section.substr(1);
    if (name == "MeshFormat") {
      ReadFormat(in);
      sawFormat = true;
    } else if (name == "Nodes") {
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
  if (!sawFormat) throw MeshFileError("empty file: no $MeshFormat section");
  if (!sawNodes || !sawElements) throw MeshFileError("no $Nodes or no $Elements section");
  if (!sawJunction)
    throw MeshFileError(
        std::string("no $") + kJunctionSection +
        " section: the file does not say whether it holds a bend or an N-way junction");
  std::vector<long long> sortedTags;
  StoreNodes(nodes, document, sortedTags);
  StoreElements(elements, sortedTags, document);
  return document;
}

}  // namespace vela::io::detail
